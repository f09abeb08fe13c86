#include "encoder/passes/progress.h"

#include <algorithm>
#include <cmath>

#include "dialogs/dialogs.h"
#include "encoder/coding/headers.h"
#include "encoder/control/control.h"
#include "encoder/control/echo.h"
#include "encoder/control/report.h"
#include "encoder/control/startup.h"
#include "common/fmtfield.h"
#include "common/texttime.h"
#include "encoder/control/units.h"
#include "encoder/passes/framering.h"
#include "encoder/passes/pass1.h"
#include "encoder/passes/vbvcheck.h"

namespace {

const std::string boxindent(14, ' ');

// Control ids of dialog 101 that the passes write.
enum : int {
  idbar = 1008,          // progress bar, 0..100
  idpass = 1013,         // pass label
  idratenow = 1014,      // bitrate of the GOP, kbit/s
  idratemin = 1015,
  idratemax = 1016,
  idrateavg = 1017,
  idgroup = 1018,        // group box caption
  idtimeleft = 1019,
  idtimeused = 1020,
  idpass1time = 1021,
  idfpsnow = 1027,
  idframes = 1028,
  idiframes = 1029,
  idpframes = 1030,
  idbframes = 1031,
  idframetotal = 1059,
  idtotaltime = 1060,
  idfpsavg = 1061,
  idgopn = 1062,
  idgopnb = 1063,
  idgopclosed = 1064,
  idpercent = 1065,
  idvbvbar = 1074,       // VBV fullness, 0..100
  idshowbuffer = 1075,
  idquants = 1076,
};

bool windowon() { return showwindow && maindialog != nullptr; }

void puttext(int id, const std::string& text) { dlgputtext(*maindialog, id, text); }

void logtext(const std::string& line) {
  if (logsink) logsink(line);
  else logline(line);
}

void logall(const std::vector<std::string>& lines) {
  for (const std::string& l : lines) logtext(l);
}

// An empty line, the three box lines, an empty line.
void addbox(std::vector<std::string>& out, const std::string& rule, const std::string& title) {
  out.push_back("");
  out.push_back(boxindent + rule);
  out.push_back(boxindent + title);
  out.push_back(boxindent + rule);
  out.push_back("");
}

int64_t nint(double v) { return std::llround(v); }

// hh:mm:ss, two blanks, "(", the seconds text, " s)".
std::string timeandseconds(int64_t whole, const std::string& seconds) {
  return hmsfield(whole) + "  (" + seconds + " s)";
}

}  // namespace

passfigures passfiguresnow(int n, int nb, float qi, float qp, float qb) {
  passfigures f;
  f.n = n;
  f.nb = nb;
  f.closedflag = ringcounters.closedflag;
  f.gopframe = settings.gopframe;
  f.framesleft = ringcounters.framesleft;
  f.icount = icount;
  f.pcount = pcount;
  f.bcount = bcount;
  f.gopbpics = gopbpics;
  f.gopcount = gopcount;
  f.gopbitrate = gopbitrate;
  f.gopratemin = gopratemin;
  f.gopratemax = gopratemax;
  f.gopratesum = gopratesum;
  f.totalbits = totalbits;
  f.qsum = qsum;
  f.qi = qi;
  f.qp = qp;
  f.qb = qb;
  f.passtime = passclock.passtime;
  f.currentfps = passclock.currentfps;
  f.timeleft = passclock.timeleft;
  if (settings.cqmbrmode || settings.passno == 2) f.gopsoverlimit = gopsoverlimit;
  return f;
}

int progresspercent(int framecount, int framesleft) {
  if (framecount <= 0) return 0;
  return int(std::lround(100.0f * float(framecount - framesleft) / float(framecount)));
}

int64_t averagefps(int frames, double seconds) {
  if (!(seconds > 0.0)) return 0;
  return nint(double(frames) / seconds);
}

int64_t averagekbits(int64_t ratesum, double framerate, int frames) {
  if (frames <= 0) return 0;
  return nint(double(ratesum) * framerate / (double(frames) * 1000.0));
}

int64_t lowestkbits(const passfigures& f) {
  return f.gopratemin > f.gopratemax ? 0 : f.gopratemin / 1000;
}

std::string i8text(int64_t v) { return trimright(adjustleft(fmtint(v, 8))); }

std::string hmstext(int64_t seconds) {
  if (seconds < 0) seconds = 0;
  if (seconds < 100 * 3600) return fmttime(int(seconds));
  // fmttime's two hour columns would show asterisks: the hours in full, then ":mm:ss".
  std::string rest = fmttime(int(seconds % 3600));
  return std::to_string(seconds / 3600) + rest.substr(2);
}

std::string hmsfield(int64_t seconds) { return adjustleft(hmstext(seconds)); }

std::string percenttext(int p) { return trimright(adjustleft(fmtint(p, 3) + "%")); }

std::string quantisertext(float qi, float qp, float qb) {
  return "Q:   I" + fmtfixed(qi, 5, 2) + "   P" + fmtfixed(qp, 5, 2) + "   B" + fmtfixed(qb, 5, 2);
}

std::string passlabel(const settingsrec& s) {
  if (s.cqmbrmode) return "CQ, MBR";
  if (s.passmode >= 2) return "pass 1";
  return "CQ";
}

void showpassstart() {
  if (!windowon()) return;
  const std::string label = passlabel();
  puttext(idpass, label);
  puttext(idgroup, " encoding statistics pass 1");
  puttext(idframetotal, trimright(adjustleft(fmtint(settings.framecount, 8) + "  frames")));
  if (label != "CQ, MBR" || settings.novbv) {
    dlgputflag(*maindialog, idshowbuffer, false, ixenabled);
    dlgputflag(*maindialog, idshowbuffer, false);
    showbuffer = false;  // the box raises no event when set from here; the word follows it
  }
}

void showgopprogress(const passfigures& f) {
  if (!windowon()) return;
  const settingsrec& s = settings;
  puttext(idtimeleft, trimright(hmsfield(f.timeleft)));
  puttext(idtimeused, trimright(hmsfield(nint(f.passtime))));
  puttext(idfpsnow, i8text(f.currentfps));
  puttext(idfpsavg, i8text(averagefps(f.gopframe, f.passtime)));
  puttext(idframes, i8text(int64_t(f.icount) + f.pcount + f.bcount));
  puttext(idiframes, i8text(f.icount));
  puttext(idpframes, i8text(f.pcount));
  puttext(idbframes, i8text(f.bcount));
  puttext(idgopn, i8text(f.n));
  puttext(idgopnb, f.gopbpics == 0 ? std::string("-") : i8text(f.nb));
  puttext(idgopclosed, f.closedflag != 0 ? "closed" : "open");
  const int p = progresspercent(s.framecount, f.framesleft);
  dlgputint(*maindialog, idbar, p);
  puttext(idpercent, percenttext(p));
  if (!s.streamout && !s.cqmbrmode) return;
  puttext(idratenow, i8text(f.gopbitrate / 1000));
  puttext(idratemin, i8text(lowestkbits(f)));
  puttext(idratemax, i8text(f.gopratemax / 1000));
  puttext(idrateavg, i8text(averagekbits(f.gopratesum, s.framerate, f.gopframe)));
  puttext(idquants, quantisertext(f.qi, f.qp, f.qb));
}

void showvbvbar() {
  const settingsrec& s = settings;
  if (!showbuffer || s.novbv || maindialog == nullptr || s.level < 1 || s.level > 3) return;
  const int32_t size = vbvtable[s.level];
  if (size <= 0) return;
  const long p = std::lround(100.0f * float(vbvchain) / float(size));
  dlgputint(*maindialog, idvbvbar, int(std::clamp(p, 0L, 100L)));
}

void showpassend(double passtime) {
  if (!windowon()) return;
  puttext(idpass1time, trimright(hmsfield(nint(passtime))));
}

void showtotaltime(double cpuseconds) {
  if (!windowon()) return;
  puttext(idtotaltime, trimright(hmsfield(nint(cpuseconds))));
}

std::vector<std::string> titlelines() {
  // It opens the run's part of the log (the start-up has written its separator and warnings
  // before it), so no empty line goes ahead of it.
  // The three lines are drawn from one inner width, so they always line up.
  const std::string name = "  Ostrel 0.21, MPEG-2 video encoder";
  const size_t inner = 42;
  const std::string rule = " +" + std::string(inner, '-') + "+";
  return {rule, " |" + name + std::string(inner - name.size(), ' ') + "|", rule, ""};
}

std::vector<std::string> sourcelines(const settingsrec& s) {
  std::vector<std::string> out;
  addbox(out, "------------------", "|  source stats  |");
  out.push_back("nr. of frames in source:        " + fmtint(s.clipframes, 8));
  out.push_back("width*height:                   " +
                trimright(adjustleft(fmtint(s.width, 4) + "x" + fmtint(s.displayheight, 4))));
  out.push_back("fps:                            " + fmtfixed(s.framerate, 8, 2));
  out.push_back("nr. of frames to encode:        " + fmtint(s.framecount, 8));
  out.push_back("frames to encode:               " + fmtint(s.firstframe, 8) + " - " +
                fmtint(s.lastframe, 8));
  return out;
}

std::vector<std::string> passlines(double passtime, const settingsrec& s) {
  std::vector<std::string> out;
  addbox(out, "---------------------", "| encoding - pass 1 |");
  const int64_t secs = nint(passtime);
  out.push_back("pass1 encoding time:            " + timeandseconds(secs, std::to_string(secs)));
  const double fps = passtime > 0.0 ? double(s.framecount) / passtime : 0.0;
  out.push_back("fps:                            " + fmtfixed(fps, 8, 1));
  return out;
}

std::vector<std::string> statslines(const passfigures& f, double cpuseconds,
                                    double elapsedseconds, const settingsrec& s,
                                    const matrixpair& m) {
  std::vector<std::string> out;
  addbox(out, "------------------", "| encoding stats |");
  const int64_t cpu = nint(cpuseconds);
  out.push_back("total CPU time:                 " + timeandseconds(cpu, std::to_string(cpu)));
  if (!s.adaptivematrix && s.lumgain <= 0) {
    auto matrixrows = [&out](const int16_t* w) {
      for (int r = 0; r < 8; ++r) {
        std::string row;
        for (int c = 0; c < 8; ++c) row += fmtint(w[8 * r + c], 4);
        out.push_back(row);
      }
    };
    out.push_back("intra matrix used");
    matrixrows(m.intra);
    out.push_back("non-intra matrix used");
    matrixrows(m.nonintra);
  } else {
    out.push_back("adapted intra matrix used");
    out.push_back("adapted non-intra matrix used");
  }
  out.push_back("nr. of gops:                " + fmtint(f.gopcount, 12));
  out.push_back("nr. of frames:              " + fmtint(s.framecount, 12));
  out.push_back("nr. of I-frames:            " + fmtint(f.icount, 12));
  out.push_back("nr. of P-frames:            " + fmtint(f.pcount, 12));
  out.push_back("nr. of B-frames:            " + fmtint(f.bcount, 12));
  out.push_back("average bitrate:            " +
                fmtint(averagekbits(f.gopratesum, s.framerate, s.framecount), 12));
  out.push_back("minimum bitrate:            " + fmtint(lowestkbits(f), 12));
  out.push_back("maximum bitrate:            " + fmtint(f.gopratemax / 1000, 12));
  if (f.gopsoverlimit >= 0)
    out.push_back("GOPs accepted over limits:  " + fmtint(f.gopsoverlimit, 12));
  out.push_back("");
  // The stream's own size: the counted header and picture bits and the sequence end code
  // that the writer's last call adds.
  const int64_t streambits = f.totalbits + (s.seqendcode ? 32 : 0);
  out.push_back("bytes in bitstream:         " + fmtint(streambits / 8, 12));
  out.push_back("bits in bitstream:          " + fmtint(streambits, 12));
  out.push_back("");
  const double q = s.framecount > 0 ? f.qsum / double(s.framecount) : 0.0;
  out.push_back("average Quantizer:          " + fmtfixed(q, 8, 3));
  out.push_back("");
  const double wall = elapsedseconds > 0.0 ? elapsedseconds : 0.0;
  out.push_back("total elapsed time:             " +
                timeandseconds(nint(wall), trimright(adjustleft(fmtfixed(wall, 8, 2)))));
  return out;
}

int32_t gopratefor(int64_t bits, int frames, double framerate) {
  if (frames <= 0) return 0;
  return int32_t(double(bits) * framerate / frames);
}

int gopsabove(int gops, int64_t limit, double framerate) {
  int above = 0;
  for (int g = 1; g <= gops && g <= maxgopcount; ++g)
    above += gopratefor(gopstats.bits[g], gopstats.frames[g], framerate) > limit;
  return above;
}

std::string cqratewarning(const passfigures& f, const settingsrec& s) {
  if (!s.cqmode || s.cqmbrmode || !s.streamout) return "";
  const int64_t declared = 400 * int64_t(seqfields.bit_rate_value);
  const int above = gopsabove(f.gopcount, declared, s.framerate);
  if (above == 0) return "";
  return " WARNING, " + std::to_string(above) + " of " + std::to_string(f.gopcount) +
         " GOPs above the maximum bitrate the stream declares (" +
         std::to_string(declared / 1000) + " Kb/s), the highest at " +
         std::to_string(f.gopratemax / 1000) + " Kb/s; -cq_maxbitrate holds the maximum";
}

void logopening() {
  if (!settings.logfileon) return;
  logall(titlelines());
  if (logsink) echosettings();
  else if (std::FILE* f = unitfile(unitlog)) echosettings(f);
  logall(sourcelines());
}

void logpassstats(const passfigures& f, double passtime, double cpuseconds,
                  double elapsedseconds) {
  if (!settings.logfileon) return;
  logall(passlines(passtime));
  if (settings.streamout) logall(statslines(f, cpuseconds, elapsedseconds));
}

void logencodingstats(const passfigures& f, double cpuseconds, double elapsedseconds) {
  if (!settings.logfileon) return;
  logall(statslines(f, cpuseconds, elapsedseconds));
}

void passreport(const passfigures& f, double passtime) {
  const double cpu = cputime() - cpustart;
  const double wall = elapsed(clockstart);
  logpassstats(f, passtime, cpu, wall);
  if (settings.streamout) showtotaltime(cpu);
  const std::string warning = cqratewarning(f);
  if (warning.empty()) return;
  // GOPs above the rate the headers declare make a stream that is not what it says: they count
  // as GOPs over a limit, and the run's exit status tells it.
  gopsoverlimit += gopsabove(f.gopcount, 400 * int64_t(seqfields.bit_rate_value), settings.framerate);
  if (settings.logfileon) logtext(warning);
  errorout(warning.substr(1));
  if (showwindow) {
    putstatus(warning);
    statuspause(2000);
  }
}

std::vector<std::string> boxlines(const std::string& rule, const std::string& title) {
  std::vector<std::string> out;
  addbox(out, rule, title);
  return out;
}

void loglines(const std::vector<std::string>& lines) { logall(lines); }
