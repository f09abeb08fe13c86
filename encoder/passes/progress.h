// The progress display of the passes in the encoder's window (dialog 101) and the pass
// statistics of the log.
//
// The display and the log blocks are plain functions over a snapshot of the pass counters
// (passfigures), which the GOP loops fill after each GOP; the settings record gives the rest
// (frame range, frame rate, pass kind). Window texts are written only when showwindow is set
// and a window exists; log lines only when settings.logfileon is set.
//
// Where a figure would be divided by a time or a count that is still 0 (a pass that took no
// measurable time, a run of no frames), the figure is 0. A number wider than its field is
// written in full (the field grows), never as asterisks; so are times of 100 hours and more.
//
// Calls, in the order of a pass (figures: passfiguresnow):
//   pass thread start:   logopening()               title box, settings echo, source block
//   GOP loop start:      showpassstart()            1013, 1018, 1059 (and 1075 off)
//   after each GOP:      showgopprogress(figures)   1019 ... 1065, then 1014 ... 1017, 1076
//   GOP loop end:        showpassend(pass time)     1021
//   pass thread end:     passreport(figures, t)     pass block; when the pass wrote the
//                                                   stream the statistics block and 1060
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "common/matrices.h"
#include "encoder/control/settings.h"

// The pass counters and the loop's timing values as they stand after a GOP.
struct passfigures {
  int n = 0;                  // frames of the GOP just coded (1..36)
  int nb = 0;                 // its B-picture count (0..2)
  int closedflag = 0;         // closed_gop of that GOP: 1 closed, 0 open
  int gopframe = 0;           // pictures coded so far in the pass
  int framesleft = 0;         // frames of the range not yet coded
  int icount = 0, pcount = 0, bcount = 0;  // pictures of each type coded in the pass
  int gopbpics = 0;           // B pictures coded in the GOP just coded
  int gopcount = 0;           // GOPs coded in the pass
  int gopbitrate = 0;         // bitrate of the GOP just coded, bit/s
  int gopratemin = INT32_MAX;  // smallest and largest GOP bitrate so far, bit/s
  int gopratemax = 0;
  int64_t gopratesum = 0;     // sum of the GOPs' picture bits
  int64_t totalbits = 0;      // header and picture bits of the stream so far
  double qsum = 0.0;          // sum of the quantisers of all coded pictures
  float qi = 0.0f, qp = 0.0f, qb = 0.0f;  // the GOP's I, P and B quantisers
  double passtime = 0.0;      // seconds at work since the loop started (workseconds)
  int currentfps = 0;         // frames a second of the GOP just coded
  int timeleft = 0;           // seconds left (0 before the first GOP is done)
  int gopsoverlimit = -1;     // GOPs accepted over the VBV buffer or the maximum bitrate;
                              // -1 in a pass without those checks
};

// The pass counters of the GOP loops (pass1.h), the frame ring's frames left and closed flag
// and the loop's timing values as they stand now, with the GOP's n and nb and the quantisers
// the loop used; in the passes with the VBV check and the maximum-bitrate retry (the second
// pass, "-cq_maxbitrate") the GOPs accepted over their limits.
passfigures passfiguresnow(int n, int nb, float qi, float qp, float qb);

// ---- figures (pure; 0 where the divisor is 0) ----

// nint(100 x (framecount - framesleft) / framecount): the progress bar's position, 0..100.
int progresspercent(int framecount, int framesleft);
// nint(frames / seconds): the average frame rate of a pass.
int64_t averagefps(int frames, double seconds);
// nint(ratesum x framerate / (frames x 1000)): the average bitrate in kbit/s.
int64_t averagekbits(int64_t ratesum, double framerate, int frames);

// gopratemin / 1000, the smallest GOP bitrate in kbit/s; 0 while no GOP has been counted (the
// minimum still above the maximum).
int64_t lowestkbits(const passfigures& f);

// ---- text pieces ----

// The integer right-adjusted in 8 columns, then left-adjusted and without trailing blanks.
std::string i8text(int64_t v);
// The 8-character time text of whole seconds, hours right-adjusted in 2 columns (" 1:02:05");
// from 100 hours on the hours take the columns they need ("123:00:00"). Negative: 0.
std::string hmstext(int64_t seconds);
// hmstext(seconds) left-adjusted: the time first, its field still 8 columns wide at least.
std::string hmsfield(int64_t seconds);
// Control 1065: p in 3 columns and "%", left-adjusted ("7%", "100%").
std::string percenttext(int p);
// Control 1076: "Q:   I" qi "   P" qp "   B" qb, each with 2 decimals in 5 columns.
std::string quantisertext(float qi, float qp, float qb);
// Control 1013: "pass 1" (first of two passes), "CQ, MBR" (constant quantiser under a maximum
// bitrate), else "CQ".
std::string passlabel(const settingsrec& s = settings);

// ---- window texts (guarded by showwindow and a loaded window) ----

// The start of the first (or only) pass's GOP loop: 1013, 1018, 1059; for "pass 1" and "CQ"
// (and "CQ, MBR" with "*NOVBV", which tracks no buffer) the check box 1075 disabled, then
// unticked, and showbuffer cleared with it.
void showpassstart();
// After each GOP: 1019, 1020, 1027, 1061, 1028, 1029, 1030, 1031, 1062, 1063, 1064, the
// progress bar 1008 and 1065; when the pass writes the stream also 1014, 1015, 1016, 1017 and
// 1076.
void showgopprogress(const passfigures& f);
// After a picture that passed the VBV check, while the check box 1075 is ticked and "*NOVBV"
// is not given: the bar 1074 = nint(100 x vbvchain / the VBV size of the level), 0..100.
void showvbvbar();
// The end of the GOP loop: 1021, the pass time.
void showpassend(double passtime);
// The end of a run that wrote its stream in the first pass: 1060, the run's CPU seconds.
void showtotaltime(double cpuseconds);

// ---- log blocks (lines without line ends) ----

// The three-line identification box naming the encoder and its release, and an empty line.
std::vector<std::string> titlelines();
// The "source stats" box and its five lines.
std::vector<std::string> sourcelines(const settingsrec& s = settings);
// The "encoding - pass 1" box, the pass time and the pass's frame rate.
std::vector<std::string> passlines(double passtime, const settingsrec& s = settings);
// The "encoding stats" box: the run's CPU time, the matrices, the GOP and picture counts, the
// bitrates (and, after a pass with the VBV and maximum-bitrate checks, the GOPs accepted over
// their limits), the stream's size (the counted bits and, unless switched off, the sequence end
// code), the average quantiser and the run's wall-clock time.
std::vector<std::string> statslines(const passfigures& f, double cpuseconds,
                                    double elapsedseconds, const settingsrec& s = settings,
                                    const matrixpair& m = quantmatrices);

// ---- the rate a constant-quantiser stream declares ----

// The bitrate of a GOP of the given bits and frames, bit/s, as the display shows it
// (bits x framerate / frames, truncated); 0 for a GOP of no frames.
int32_t gopratefor(int64_t bits, int frames, double framerate);
// How many of the pass's GOPs 1..gops (gopstats) run above limit, bit/s.
int gopsabove(int gops, int64_t limit, double framerate);
// A constant-quantiser run ("-cq" without "-cq_maxbitrate") does not hold the maximum bitrate
// its headers declare (bit_rate_value x 400). When any of its GOPs ran above it: the one
// " WARNING, " line that says how many, the highest GOP rate and that "-cq_maxbitrate" holds
// the maximum; else "".
std::string cqratewarning(const passfigures& f, const settingsrec& s = settings);

// ---- log writers (guarded by settings.logfileon; through logsink when one is installed) ----

// The opening of the run's log: the title box, the settings echo, the source block.
void logopening();
// The end of the first (or only) pass in the log: the pass block and, when the pass wrote the
// stream, the statistics block with the run's CPU seconds and its wall-clock seconds.
void logpassstats(const passfigures& f, double passtime, double cpuseconds,
                  double elapsedseconds);
// The statistics block alone (the second pass ends its log with it).
void logencodingstats(const passfigures& f, double cpuseconds, double elapsedseconds);
// The end of the first-pass thread: takes the CPU time and the wall-clock time now against
// the program start (cpustart, clockstart), writes logpassstats and, when the pass wrote the
// stream, shows the CPU time in 1060; then the warning of cqratewarning, when there is one, in
// the log, the status line (held 2 seconds in a window) and on stderr.
void passreport(const passfigures& f, double passtime);

// ---- for the later passes' log blocks ----

// A box: an empty line, the rule, the title, the rule (indented by 14 blanks), an empty line.
std::vector<std::string> boxlines(const std::string& rule, const std::string& title);
// Writes the lines to the log (through logsink when one is installed); the caller has tested
// settings.logfileon.
void loglines(const std::vector<std::string>& lines);
