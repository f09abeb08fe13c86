// The start-up sequence of a run and what the step machine needs of it.
//
// initencoder runs once on the window thread (step 10). It reads the settings file and the
// switches, checks the required inputs, opens the source through the bridge and derives the
// picture sizes and rates, loads the matrix library when asked, reads the chapter file, fills
// the tables of the run, allocates the frame store and the header records, and opens the run's
// files. Its result is the code in statusblock (0 ready; the texts are in report.cpp).
//
// A failed start-up loses nothing: an existing output, scene-change list or log is emptied
// or written only once every check that can still fail has passed, and the files this run
// created are removed again.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

struct statusrec;

// Prepares the run (step 10); the result is the code in status (0 ready, then the wake
// message is posted). For code 3 status.message holds the frame server's message, for 265 the
// settings reader's context text.
void initencoder(statusrec& status);
// Opens the frame-server script again before a pass (steps 11 and 12; only for a script
// source). False when the open fails, or when the script now delivers another width, height
// or pixel type, or fewer frames than the run encodes, than at start-up (the frame ring and
// the tables are laid out for that one); why then says what happened (the frame server's
// own message for a failed open).
bool reopenscript(int pass, std::string& why);
// Releases what the start-up took (the source, the matrix library, the scratch file's lock);
// called once after the message loop ended, after the run's files were closed.
void closeencoder();

// What the step machine calls for the three above; they default to initencoder, reopenscript
// and closeencoder. Tests of the step machine set stand-ins here before winmain runs (and put
// the defaults back after).
extern void (*startuphook)(statusrec& status);
extern bool (*reopenhook)(int pass, std::string& why);
extern void (*closehook)();

// ---- the small routines of the sequence ----

// exedir := the program folder with its '/'; inifile := the "-ini" path as given (then
// iniused), else exedir + "KJ.ini". Paths keep their case.
void inipath();
// inputdir, outputdir (up to and including the last '/', empty without one) and scdname
// (outpath less the extension of its file name, or all of it when that has none, followed by
// "_scd.txt": always beside the output).
void makepaths();
// avsinput / d2vinput from the last 4 characters of a lower-cased copy of inpath (".avs",
// ".d2v"); inpath itself keeps its case.
void inputtype();
// Frames per second of numerator / denominator, and the MPEG-2 frame_rate_code 1..8 within
// 0.01 of its rate (the last matching row wins), else 0.
double fpstocode(int numerator, int denominator, int& code);

// Reads a chapter file (open, at its start) into chapterflags: a first line beginning
// "*chapter" (any case, leading blanks allowed) is skipped, then every number, separated by
// blanks, commas or line ends, up to the end of the file marks a frame; numbers above 639,999
// count as 639,999, negative ones are skipped and counted in negatives. 0, or 518 for an
// unreadable number, a read error, or a line too long to read whole (a first line of numbers
// past 128 characters, a later line past 1 MB), which why (when given) then names.
int readchapters(std::FILE* f, int& negatives, std::string* why = nullptr);

// The scratch file names KJ01.dbs .. KJ08.dbs (index 1..8).
std::string scratchname(int k);
// Removes the scratch files in folder dir (with its '/') that nobody holds: leftovers of runs
// that were killed.
void sweepscratch(const std::string& dir);
// Where a scratch file may go, in order, each folder once, each with its '/': the program
// folder, the output's folder, the system's temporary folder (TMPDIR, else /tmp).
std::vector<std::string> scratchplaces(const std::string& exedir, const std::string& out);
// Chooses and locks the scratch file in folder dir (with its '/'): candidates 8 down to 1;
// one held by another encoder (an exclusive lock on it) is passed over, an unheld leftover is
// removed; the lowest free one is created and locked, its lock kept until releasescratch.
// The full path, or "" when all eight are held or none could be created (why, when given,
// then says which: the system's reason, or that all are held).
std::string choosescratch(const std::string& dir, std::string* why = nullptr);
// Drops the scratch file's lock (the file itself is deleted by the step machine).
void releasescratch();

// The warning lines of this start-up (" WARNING, ..."), in order: each was shown in the status
// line and on stderr when it arose; the log gets them once it is open.
extern std::vector<std::string> startwarnings;

// ---- tables of the run that the rate control reads ----

// VBV buffer sizes by level 1..3 (entry 0 unused), bits, already reduced to 95 %; the full
// size of the level in use is settings.vbvsize.
extern int vbvtable[4];
// Two running words of the rate control, cleared at start-up.
extern int32_t ratecarry;
extern double ratecarrysum;
