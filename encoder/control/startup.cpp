#include "encoder/control/startup.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "dialogs/dialogs.h"
#include "encoder/control/advisory.h"
#include "encoder/coding/headers.h"
#include "encoder/coding/transform.h"
#include "encoder/control/control.h"
#include "encoder/control/echo.h"
#include "common/fmtfield.h"
#include "encoder/control/framestore.h"
#include "encoder/control/inireader.h"
#include "encoder/control/matrixserver.h"
#include "encoder/control/outfile.h"
#include "common/listread.h"
#include "encoder/control/report.h"
#include "encoder/control/settings.h"
#include "encoder/control/switches.h"
#include "common/texttime.h"
#include "encoder/control/units.h"
#include "encoder/motion/cpu.h"
#include "platform/clock.h"
#include "platform/dynload.h"
#include "platform/queue.h"
#include "platform/system.h"
#include "videosource/bridge.h"

namespace fs = std::filesystem;

std::vector<std::string> startwarnings;
int vbvtable[4] = {0, 0, 0, 0};
int32_t ratecarry = 0;
double ratecarrysum = 0.0;


namespace {

// The VBV buffer of each level (bits), as the sequence header declares it.
constexpr int vbvlimits[4] = {0, 1835008, 7340032, 9781248};
constexpr int lastframeindex = maxframes - 1;  // 639,999: the last frame the per-frame tables hold
constexpr int chapterlinelength = 128;         // the first line of a chapter file
constexpr size_t listlinelength = 1 << 20;     // further lines are read whole (bounded)

void* matrixmodule = nullptr;  // matrix.dll while loaded
int scratchfd = -1;            // our lock on the scratch file, held for the run
// What the first open of the source delivered: a re-open before a pass must give the same.
int openwidth = 0, openheight = 0, openpixeltype = 0;
// Files that this start-up created; removed again when it fails.
std::vector<std::string> createdfiles;

// Every file the run reads or loads (the settings file, the input and the files it reads, the
// chapter file, the program and its libraries): none of the files the run writes may be one.
struct readfile {
  fileid id;
  std::string what;  // what the file is to the run, for the message
};
std::vector<readfile> filesread;

void noteread(const std::string& path, const std::string& what) {
  fileid id;
  if (fileidof(path, id)) filesread.push_back({id, what});
}

// What the existing file path is to the run when the run reads it, else "".
std::string readby(const std::string& path) {
  fileid id;
  if (!fileidof(path, id)) return "";
  for (const readfile& r : filesread)
    if (r.id == id) return r.what;
  return "";
}

// The programs and libraries of the program folder (and its DGDecode folder), loaded or not.
void noteprogramfolder(const std::string& dir) {
  for (const std::string& sub : {std::string(), std::string("DGDecode/")}) {
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(dir + sub, ec)) {
      std::string name = e.path().filename().string();
      std::string lower = name;
      lowercase(lower);
      const bool library = lower.size() > 4 && lower.compare(lower.size() - 4, 4, ".dll") == 0;
      if (library || (sub.empty() && (name == "ostrel" || name == "ostrelfront")))
        noteread(e.path().string(), "a program or library of the encoder");
    }
  }
}

std::string quoted(const std::string& p) { return "\"" + p + "\""; }

// Why a library did not load, when its file is there: a broken library is no missing one.
std::string loadfailure(const char* name) {
  if (!dynexists(name)) return "";
  return std::string(name) + " is there but does not load: " + dynerror();
}

bool exists(const std::string& p) {
  std::error_code ec;
  return !p.empty() && fs::exists(fs::status(p, ec));
}

bool isdir(const std::string& p) {
  std::error_code ec;
  return fs::is_directory(fs::status(p, ec));
}

// Two names of one file (or, for names that do not exist yet, of one place).
bool samefile(const std::string& a, const std::string& b) {
  if (a.empty() || b.empty()) return false;
  std::error_code ec;
  if (exists(a) && exists(b)) return fs::equivalent(a, b, ec) && !ec;
  fs::path ca = fs::weakly_canonical(fs::absolute(a, ec), ec);
  fs::path cb = fs::weakly_canonical(fs::absolute(b, ec), ec);
  return ca == cb;
}

void show(int id, const std::string& text) {
  if (showwindow && maindialog) dlgputtext(*maindialog, id, text);
}

// A clamp or a skipped value that the user should know of: status line (for two seconds),
// stderr, and the log once it is open.
void warn(const std::string& text) {
  startwarnings.push_back(text);
  errorout(text.substr(text.find_first_not_of(' ')));
  if (unitisopen(unitlog)) logline(text);
  if (showwindow) {
    putstatus(text);
    statuspause(2000);
  }
}

std::string picturetext(int w, int h, int pixeltype) {
  std::string t = std::to_string(w) + "x" + std::to_string(h);
  if (pixeltype) {
    char hex[16];
    std::snprintf(hex, sizeof hex, "%08X", (unsigned)pixeltype);
    t += " (pixel type $" + std::string(hex) + ")";
  }
  return t;
}

// Which of the required inputs a run of this mode lacks (code 256, 257 or 258).
std::string missinginputs(int code) {
  const settingsrec& st = settings;
  std::string missing;
  auto need = [&](bool given, const char* what) {
    if (!given) missing += (missing.empty() ? "" : ", ") + std::string(what);
  };
  need(st.inputgiven, "input file (-i or *INFILE)");
  need(st.outputgiven, "output file (-o or *OUTFILE)");
  if (code == 258) need(st.bitrategiven, "bitrate (-b or *BITRATE)");
  if (code != 257) need(st.maxbitrategiven, "maxbitrate (-maxbitrate or *MAXBITRATE)");
  const char* mode = code == 256 ? "one pass at a constant quantiser under a maximum bitrate"
                     : code == 257 ? "one pass at a constant quantiser"
                                   : "two passes";
  return std::string("missing for ") + mode + ": " + missing + " (ostrel -h lists the switches)";
}

// The frame rate a source gave that MPEG-2 has no code for, and the rates it has.
std::string framerateproblem(const std::string& in, int num, int den) {
  char rate[64];
  std::snprintf(rate, sizeof rate, "%.3f", den != 0 ? double(num) / den : 0.0);
  return "the source " + quoted(in) + " gives " + std::to_string(num) + "/" + std::to_string(den) + " = " +
         rate + " frames a second; MPEG-2 takes 23.976, 24, 25, 29.97, 30, 50, 59.94 or 60 (within 0.01): "
         "FFVideoSource(\"file\", fpsnum=25, fpsden=1) gives 25, fpsnum=30000, fpsden=1001 gives 29.97";
}

uint16_t reciprocal(int weight) { return weight <= 1 ? 65535 : static_cast<uint16_t>(65536 / weight); }

// Undoes what a failed start-up opened and created: nothing that was there before is lost.
void undostartup() {
  closerununits();
  unitclose(unitchapter);
  for (const std::string& f : createdfiles) std::remove(f.c_str());
  createdfiles.clear();
  std::string why;
  outputsettle(false, why);
  outputsettle(false, why, unitscd);
  releasescratch();
  settings.dbspath.clear();
}

// The output stream, the scene-change list, the scratch file and the log. Every check that can
// fail runs before an existing file is emptied or written; none of them may be a file the run
// reads, and the output and the scene-change list are locked against a second encoder.
int openfiles(const std::string& in, std::string& detail) {
  const std::string out = trimright(settings.outpath);
  const std::string log = settings.logfileon ? trimright(settings.logpath) : std::string();
  const std::string scd = settings.scdfile ? trimright(settings.scdname) : std::string();
  const std::string chapter = settings.chapterfilegiven ? trimright(settings.chapterpath) : std::string();
  const std::string ini = trimright(settings.inifile);

  // None of the run's files may be one it reads (compared as files: links and other names of
  // one file count), or another one it writes.
  for (const fileid& id : mappedfiles()) filesread.push_back({id, "a program or library of the encoder"});
  noteprogramfolder(settings.exedir);
  struct written {
    const std::string& path;
    const char* name;
    int code;
  };
  const std::string part = out.empty() ? std::string() : partialname(out);
  const std::string scdpart = scd.empty() ? std::string() : partialname(scd);
  for (const written& w : {written{out, "output", 262}, written{part, "output's temporary file", 262},
                           written{log, "log", 263}, written{scd, "scene-change list", 527},
                           written{scdpart, "scene-change list's temporary file", 527}}) {
    const std::string what = w.path.empty() ? std::string() : readby(w.path);
    if (!what.empty()) {
      detail = std::string(w.name) + " " + quoted(w.path) + " is " + what +
               "; the run never overwrites a file it reads";
      return w.code;
    }
  }

  for (const std::string& other : {in, log, chapter, ini, scd, scdpart})
    if (samefile(out, other)) {
      detail = "output " + quoted(out) + " is " +
               (other == log ? "the log" : other == scd ? "the scene-change list" : "read by the run");
      return 262;
    }
  for (const std::string& other : {log, scd})
    if (samefile(part, other)) {
      detail = "output's temporary file " + quoted(part) + " is " +
               (other == log ? "the log" : "the scene-change list");
      return 262;
    }
  for (const std::string& other : {in, chapter, ini, scd, scdpart})
    if (samefile(log, other)) {
      detail = "log " + quoted(log) + " is " + (other == scd ? "the scene-change list" : "read by the run");
      return 263;
    }
  for (const std::string& other : {in, chapter, ini})
    if (samefile(scd, other)) {
      detail = "scene-change list " + quoted(scd) + " is read by the run";
      return 527;
    }

  // The output: a new stream goes beside it until it is whole (see outfile.h).
  const bool outexisted = exists(out);
  if (out.empty() || isdir(out)) return 262;
  if (const int r = outputopen(out, detail); r != 0) return 262;
  if (!detail.empty()) warn(detail);  // written in place
  detail.clear();
  const bool outinplace = outputtemporary().empty();
  if (outinplace && !outexisted) createdfiles.push_back(out);

  // The scene-change list: like the output, written beside an existing one and moved into its
  // place with the stream.
  const bool scdexisted = settings.scdfile && exists(scd);
  bool scdinplace = false;
  if (settings.scdfile) {
    if (scd.empty() || isdir(scd)) return 527;
    if (outputopen(scd, detail, unitscd, "scene-change list") != 0) return 527;
    if (!detail.empty()) warn(detail);  // written in place
    detail.clear();
    scdinplace = outputtemporary(unitscd).empty();
    if (scdinplace && !scdexisted) createdfiles.push_back(scd);
  }

  // The scratch file of a two-pass run, in the program folder (else the output's folder, else
  // the system's temporary folder), locked against other encoders. Leftovers of killed runs
  // go from each of them, whatever the run.
  settings.dbspath.clear();
  const std::vector<std::string> places = scratchplaces(settings.exedir, out);
  for (const std::string& dir : places) sweepscratch(dir);
  if (settings.passmode == 2) {
    std::string dbs, why;
    for (const std::string& dir : places) {
      std::string failed;
      dbs = choosescratch(dir, &failed);
      if (!dbs.empty()) break;
      why += (why.empty() ? "" : "; ") + quoted(dir) + ": " + failed;
    }
    if (dbs.empty()) {
      detail = "no folder can hold the scratch file: " + why;
      return 268;
    }
    if (!why.empty()) warn(" *** INFO, the scratch file is " + ::quoted(dbs) + " (" + why + ")");
    settings.dbspath = dbs;
    createdfiles.push_back(dbs);
    if (samefile(out, dbs)) return 262;
    if (!unitopen(unitstats, dbs, unitnew)) {
      detail = "scratch file " + ::quoted(dbs) + ": " + std::strerror(errno);
      return 268;
    }
  }

  // The log: appended to when it exists.
  bool logexisted = false;
  if (settings.logfileon) {
    logexisted = exists(log);
    if (log.empty() || isdir(log)) return 263;
    // Locked like the output: two runs never mix their lines in one log.
    if (const int r = unitopenlocked(unitlog, log, true); r != 0) {
      detail = "log " + quoted(log) +
               (r == 2 ? " is being written by another encoder" : ": " + std::string(std::strerror(errno)));
      return 263;
    }
    if (!logexisted) createdfiles.push_back(log);
  }

  // Nothing can fail any more but the writes themselves: empty the existing files now.
  if (outinplace && outexisted && !unitempty(unitstream)) return 262;
  if (scdinplace && scdexisted && !unitempty(unitscd)) return 527;
  if (settings.logfileon) {
    if (logexisted) {
      const std::string bar(50, '=');
      if (!logline("") || !logline("") || !logline(bar) || !logline(bar)) return 263;
    }
    for (const std::string& w : startwarnings)
      if (!logline(w)) return 263;
    logsink = [](const std::string& line) {
      if (!logline(line)) {
        errorout("can't write to log file");
        abortrun();
      }
    };
  }
  createdfiles.clear();
  return 0;
}

// Steps of the sequence; the first failure's code is the result.
int runstartup(statusrec& status) {
  settingsrec& st = settings;
  int code = 0;

  // Processor level.
  getcpulevel(code);
  if (code != 0) return code;

  // Settings file, then the switches over it. A file named by "-ini" must be there; a FIFO or a
  // device would block the start-up or never end.
  inipath();
  const std::string ini = trimright(st.inifile);
  if (st.inifilegiven && !exists(ini)) {
    status.detail = "settings file " + quoted(ini) + " does not exist";
    return 266;
  }
  if (exists(ini) && !isregularfile(ini)) {
    status.detail = "settings file " + quoted(ini) + " is not a regular file";
    return 266;
  }
  std::string context;
  code = readini(context, &status.detail);
  if (code == 265) status.message = context;
  if (code != 0) return code;
  noteread(ini, "the settings file");
  const int rawvbvsize = inivalues.vbvsize;
  checkini();
  if ((code = parseargs()) != 0) return code;
  // What was clamped, defaulted or ignored, and what the program folder's settings file brought
  // in beside the switches (a settings-file value a switch replaced goes unsaid).
  for (const advisory& a : advisories)
    if (a.overriddenby < 0 || !switchgiven(a.overriddenby)) warn(a.text);
  if (const std::string used = settingsfileineffect(); !used.empty()) warn(used);
  if (inivalues.vbvsizegiven && inivalues.vbvsize != rawvbvsize)
    warn(" WARNING, *VBVSIZE " + std::to_string(rawvbvsize) + " out of range, " +
         std::to_string(inivalues.vbvsize) + " bits used");
  if (st.matrixno == 0) {
    int outside = 0;
    for (int i = 0; i < 64; ++i) {
      outside += inivalues.customintra[i] < 1 || inivalues.customintra[i] > 255;
      outside += inivalues.customnonintra[i] < 1 || inivalues.customnonintra[i] > 255;
    }
    if (outside > 0)
      warn(" WARNING, custom matrix: " + std::to_string(outside) +
           (outside == 1 ? " entry" : " entries") + " outside 1..255, clamped");
  }

  makepaths();
  if (st.lastframe < st.firstframe) return 267;

  // Required inputs by mode; only a switch or a settings key counts, never a preset.
  const bool files = st.inputgiven && st.outputgiven;
  code = 0;
  if (st.cqmbrmode) {
    if (!files || !st.maxbitrategiven) code = 256;
  } else if (st.cqmode) {
    if (!files) code = 257;
  } else if (!files || !st.bitrategiven || !st.maxbitrategiven) {
    code = 258;
  }
  if (code != 0) {
    status.detail = missinginputs(code);
    return code;
  }

  // Kernel levels (the scan and quantiser_scale tables are constant).
  setdctmode(st.simdlevel);
  setcpumode(st.simdlevel);

  // The source.
  const std::string in = trimright(st.inpath);
  if (!exists(in) || isdir(in)) {
    status.detail = "input " + quoted(in) + (exists(in) ? " is a folder" : " does not exist");
    if (!in.empty() && in[0] != '/') status.detail += " (names are taken from the folder " + fs::current_path().string() + ")";
    status.detail += "; a script (.avs) or a D2V project (.d2v) is taken";
    return 259;
  }
  inputtype();
  if (!st.avsinput && !st.d2vinput) return 260;
  noteread(in, "the input");
  int w = 0, h = 0, frames = 0, num = 0, den = 0, pixeltype = 0;
  if (st.d2vinput) {
    if ((code = d2vload("DGDecode.dll")) != 0) {
      status.detail = loadfailure("DGDecode.dll");
      return code;
    }
    code = d2vopen(in.c_str(), w, h, frames, num, den);
    if (code == 0)
      for (const std::string& f : d2vfiles()) noteread(f, "a video file that " + quoted(in) + " lists");
  } else {
    if ((code = avsload()) != 0) {
      if (code == 1) status.detail = loadfailure("avisynth.dll");
      return code;
    }
    char msg[512];
    std::fill(std::begin(msg), std::end(msg), ' ');
    // A stop asked for meanwhile (SIGINT, the close box) ends a long open, such as indexing.
    avswatchstop(&closepending());
    code = avsopen(in.c_str(), w, h, frames, num, den, msg, sizeof msg, &pixeltype);
    avswatchstop(nullptr);
    if (code == 3) {
      st.errtext = trimright(std::string(msg, sizeof msg));
      status.message = st.errtext;
    }
    for (const std::string& f : avsfiles()) noteread(f, "a file that " + quoted(in) + " reads");
  }
  const bool opened = code == 0;
  openwidth = w;
  openheight = h;
  openpixeltype = pixeltype;
  st.displayheight = h;
  // The picture checks run in order and the last that fires decides; 1080 lines are coded as
  // 1088 (8 black lines below the picture).
  int sizecode = 0;
  if (w % 16 != 0) sizecode = 32;
  if (h == 1080) h = 1088;
  else if (h % 16 != 0) sizecode = 33;
  if (w > maxwidth) sizecode = 34;
  if (h > maxheight) return 35;
  if (sizecode != 0) code = sizecode;
  // A picture needs one macroblock at least (a height of 0 is a multiple of 16 too).
  if (opened && code == 0 && w < 16) code = 32;
  if (opened && code == 0 && h < 16) code = 33;
  if (opened && code != 0 && (w < 16 || h < 16))
    status.detail = quoted(in) + " gives a picture of " + std::to_string(w) + "x" + std::to_string(h) +
                    "; the encoder needs at least 16x16";
  if (code != 0) return code;
  st.width = w;
  st.height = h;
  st.clipframes = frames;
  // A 4:3 picture (its source says so) flagged 16:9 only because no aspect was given.
  if (int an = 0, ad = 0; !keygiven[keyaspect] && !switchgiven(slotaspect) &&
                          (st.avsinput ? avsaspect(an, ad) : d2vaspect(in, an, ad)) &&
                          std::fabs(double(an) / ad - 4.0 / 3.0) < 0.05)
    warn(" WARNING, the source " + quoted(in) + " is a 4:3 picture" +
         (an == 4 && ad == 3 ? std::string() : " (shown at " + std::to_string(an) + ":" + std::to_string(ad) + ")") +
         " but no aspect was given: flagged 16:9, the default; -aspectratio 4:3 flags it 4:3");

  // The matrix library of the adaptive matrix.
  if (st.adaptivematrix && matrixserverforked()) {
    // In the helper process: a plug-in that crashes or hangs cannot take the run with it.
    std::string library;
    if ((code = matrixserverload(status.detail, library)) != 0) return code;
    noteread(library, "a program or library of the encoder");
    st.extmatrixentry = matrixservercall;
  } else if (st.adaptivematrix) {
    matrixmodule = dynload("matrix.dll");
    if (!matrixmodule) {
      status.detail = loadfailure("matrix.dll");
      return 600;
    }
    void* entry = dynentry(matrixmodule, "EXTMATRIX");
    if (!entry) return 601;
    st.extmatrixentry = reinterpret_cast<void (*)(int32_t*, int32_t*, int16_t*, int16_t*)>(entry);
  }

  // The chapter file.
  if (st.chapterfilegiven) {
    const std::string cp = trimright(st.chapterpath);
    if (!exists(cp)) return 520;
    if (!isregularfile(cp)) {
      status.detail = "chapter file " + quoted(cp) + " is not a regular file";
      return 519;
    }
    if (!unitopen(unitchapter, cp, unitread)) return 519;
    noteread(cp, "the chapter file");
    int negatives = 0;
    std::string why;
    code = readchapters(unitfile(unitchapter), negatives, &why);
    unitclose(unitchapter);
    if (code != 0) {
      if (!why.empty()) status.detail = "chapter file " + quoted(cp) + ": " + why;
      return code;
    }
    if (negatives > 0)
      warn(" WARNING, chapter file: " + std::to_string(negatives) + " negative frame number" +
           (negatives == 1 ? "" : "s") + " skipped");
  }

  // Derived sizes.
  st.chromawidth = st.width / 2;
  st.chromaheight = st.height / 2;
  st.mbcols = st.width / 16;
  st.mbrows = st.height / 16;
  st.lumasize = st.width * st.height;
  st.chromasize = st.lumasize / 4;
  st.mbcount = st.lumasize / 256;
  st.searchxmax = st.width - 16;
  st.searchymax = st.height - 16;
  st.lumapitch = st.width;
  st.chromapitch = st.width / 2;

  // Frame range, inside the clip and inside the per-frame tables.
  const int usable = std::min(st.clipframes, maxframes);
  if (st.clipframes > maxframes && st.lastframe > lastframeindex)
    warn(" WARNING, the clip has " + std::to_string(st.clipframes) +
         " frames, frames from 640000 on are not encoded");
  st.firstframe = std::max(0, std::min(st.firstframe, usable - 1));
  st.lastframe = std::min(st.lastframe, usable - 1);
  st.framecount = st.lastframe - st.firstframe + 1;
  if (st.framecount <= 0) return 267;

  st.level = levelfor(st.width, st.height, 0.0);  // by size; the frame rate joins it below

  st.chaptercount = 0;
  for (int f = st.firstframe; f <= st.lastframe; ++f) st.chaptercount += chapterflags[f] == 1;
  show(1069, std::to_string(st.chaptercount));

  previewon = st.previewini;
  if (showwindow && maindialog) {
    if (previewon) dlgputflag(*maindialog, 1007, true);
    if (shutdownflag) dlgputflag(*maindialog, 1073, true);
  }
  show(1080, std::to_string(st.width) + "x" + std::to_string(st.displayheight));

  if (st.lastiframe) {
    chapterflags[st.lastframe] = 1;
    st.chaptercount++;
  }

  // Clips of 1 to 3 frames: one constant-quantiser pass; only the settings file's quantisers
  // replace the short clip's own.
  if (st.framecount < 4) {
    st.passmode = 1;
    st.cqvalue = st.framecount == 1 ? 4.0f : 5.0f;
    if (keygiven[keycq]) {
      st.cqmode = true;
      st.cqvalue = inivalues.cq;
    }
    if (keygiven[keycqmaxbitrate]) {
      st.cqmbrmode = true;
      st.cqmbrvalue = inivalues.cqmaxbitrate;
    }
  }

  st.framerate = fpstocode(num, den, st.frameratecode);
  if (st.frameratecode == 0) {
    status.detail = framerateproblem(in, num, den);
    return 261;
  }
  if (st.frameratecode != 1) st.pulldown = false;
  show(1079, st.pulldown ? "yes" : "no");
  // Field pictures of standard decoders need a coded height in whole macroblock pairs.
  padcodedheight();
  // The level follows the sample rate as well as the picture size: 720x576 at 50 frames a
  // second is not Main Level. Pulldown shows 23.976 coded frames at 29.97.
  st.level = levelfor(st.width, st.height, st.pulldown ? 30000.0 / 1001.0 : st.framerate);
  if (!keygiven[keyautogop] && st.frameratecode == 1) st.autogopmax = 12;
  st.duration = st.framecount / st.framerate;

  const float bpp = static_cast<float>(st.bitrate) / static_cast<float>(st.mbcount);
  st.bppclass = bpp >= 3087 ? 6 : bpp >= 2161 ? 5 : bpp >= 1265 ? 4 : bpp >= 950 ? 3 : bpp >= 648 ? 2 : 1;

  // Reciprocals of the working matrices.
  for (int i = 0; i < 64; ++i) {
    quantrecip.intra[i] = reciprocal(quantmatrices.intra[i]);
    quantrecip.nonintra[i] = reciprocal(quantmatrices.nonintra[i]);
  }

  // VBV sizes: the level's buffer, or the settings file's for every level; the rate control
  // works with 95 % of each (the single-precision product, rounded).
  int full[4] = {vbvlimits[0], vbvlimits[1], vbvlimits[2], vbvlimits[3]};
  if (inivalues.vbvsizegiven) full[1] = full[2] = full[3] = inivalues.vbvsize;
  st.vbvsize = full[st.level];
  for (int l = 1; l <= 3; ++l) {
    float reduced = static_cast<float>(full[l]) * 0.95f;
    vbvtable[l] = static_cast<int>(std::lround(reduced));
  }
  ratecarry = 0;
  ratecarrysum = 0.0;

  // Ring and slots for the longest GOP in use, then the frame store.
  const int g = st.autogop ? st.autogopmax : st.goplength;
  st.slotcount = g + 1;
  st.ringsize = 2 * g + 3;
  if (allocframes() != 0) return 269;

  // The files last, so that a failure before leaves every existing file as it was.
  if ((code = openfiles(in, status.detail)) != 0) return code;

  const int askedmax = st.maxbitrate;
  initheaders();
  // The level's own limits: the peak the headers can declare, the buffer they declare.
  static const char* const levelnames[4] = {"", "Main Level", "High 1440 Level", "High Level"};
  const std::string levelname = levelnames[std::clamp(st.level, 1, 3)];
  if (st.maxbitrate != askedmax && st.maxbitrategiven)
    warn(" WARNING, " +
         (switchgiven(slotmaxbitrate) ? "-maxbitrate " + std::to_string(askedmax / 1000) + " " + fromcommandline()
                                      : "*MAXBITRATE " + std::to_string(askedmax / 1000) + " " + fromsettingsfile()) +
         " is above the " + std::to_string(st.maxbitrate / 1000) + " kbit/s of " + levelname + ", " +
         std::to_string(st.maxbitrate / 1000) + " used");
  if (inivalues.vbvsizegiven && inivalues.vbvsize > vbvlimits[st.level])
    warn(" WARNING, *VBVSIZE " + std::to_string(inivalues.vbvsize) + " " + fromsettingsfile() +
         " is above the " + std::to_string(vbvlimits[st.level]) + "-bit VBV buffer of " + levelname +
         " that the stream declares: the VBV check holds " + std::to_string(inivalues.vbvsize) +
         " bits, more than a decoder of the stream is asked to hold");

  if (showwindow) {
    std::string line;
    if (st.argcount > 1)
      line = st.iniused ? " input using arguments and ini file" : " input using arguments";
    else if (st.iniused)
      line = " input using ini file";
    if (!line.empty()) putstatus(line);
  }
  return 0;
}

}  // namespace

void inipath() {
  settings.exedir = programdir();
  if (switchgiven(slotini)) {
    settings.inifile = switchvalue(slotini);
    settings.iniused = true;
  } else {
    settings.inifile = settings.exedir + "KJ.ini";
  }
}

void makepaths() {
  auto folder = [](const std::string& p) {
    size_t k = p.find_last_of('/');
    return k == std::string::npos ? std::string() : p.substr(0, k + 1);
  };
  const std::string in = trimright(settings.inpath);
  const std::string out = trimright(settings.outpath);
  settings.inputdir = folder(in);
  settings.outputdir = folder(out);
  settings.scdname = scdfilename(out);
}

void inputtype() {
  settings.avsinput = false;
  settings.d2vinput = false;
  std::string p = trimright(settings.inpath);
  lowercase(p);
  if (p.size() < 4) return;
  const std::string ext = p.substr(p.size() - 4);
  if (ext == ".avs") settings.avsinput = true;
  if (ext == ".d2v") settings.d2vinput = true;
}

double fpstocode(int numerator, int denominator, int& code) {
  static constexpr double rates[9] = {0.0,         23.97602398, 24.0, 25.0, 29.97002997,
                                      30.0,        50.0,        59.94005994, 60.0};
  const double r = denominator != 0 ? static_cast<double>(numerator) / denominator : 0.0;
  code = 0;
  for (int c = 1; c <= 8; ++c)
    if (std::fabs(r - rates[c]) <= 0.01) code = c;
  return r;
}

int readchapters(std::FILE* f, int& negatives, std::string* why) {
  negatives = 0;
  if (why) why->clear();
  if (!f) return 518;
  std::string first;
  bool cut = false;
  int r = readline(f, first, chapterlinelength, &cut);
  if (r < 0) return 518;
  if (r == 0) return 0;
  dropbom(first);
  std::string head = first;
  lowercase(head);
  size_t a = head.find_first_not_of(' ');
  bool keyed = a != std::string::npos && head.compare(a, 8, "*chapter") == 0;
  // Without the key line, the first line already holds frame numbers: a number past its 128
  // characters would be cut ("250" becoming 25), so such a line is refused.
  if (!keyed && cut) {
    if (why) *why = "line 1 is longer than " + std::to_string(chapterlinelength) + " characters";
    return 518;
  }
  bool pending = !keyed;
  int lineno = 1;
  listreader numbers([&](std::string& line) {
    if (pending) {
      pending = false;
      line = first;
      return 1;
    }
    bool longer = false;
    int got = readline(f, line, listlinelength, &longer);
    if (got > 0) lineno++;
    if (got > 0 && longer) {
      if (why)
        *why = "line " + std::to_string(lineno) + " is longer than " +
               std::to_string(listlinelength) + " characters";
      return -1;
    }
    return got;
  });
  for (;;) {
    int v = 0;
    listresult res = numbers.getint(v);
    if (res == listend) return 0;
    if (res != listok) return 518;
    if (v < 0) {
      negatives++;
      continue;
    }
    chapterflags[std::min(v, lastframeindex)] = 1;
  }
}

std::string scratchname(int k) {
  std::string name = "KJ  .dbs";
  name[2] = static_cast<char>('0' + k / 10);
  name[3] = static_cast<char>('0' + k % 10);
  return name;
}

void sweepscratch(const std::string& dir) {
  // Leftovers of runs that ended without removing them: nobody holds them, so they go.
  for (int k = 8; k >= 1; --k) {
    std::string p = dir + scratchname(k);
    int fd = ::open(p.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0) continue;
    struct stat st;
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && ::flock(fd, LOCK_EX | LOCK_NB) == 0)
      ::unlink(p.c_str());
    ::close(fd);
  }
}

std::vector<std::string> scratchplaces(const std::string& exedir, const std::string& out) {
  std::vector<std::string> dirs;
  auto add = [&](std::string d) {
    if (d.empty()) return;
    if (d.back() != '/') d += '/';
    for (const std::string& k : dirs)
      if (samefile(k, d)) return;
    dirs.push_back(d);
  };
  add(exedir);
  const size_t slash = out.find_last_of('/');
  add(slash == std::string::npos ? std::string("./") : out.substr(0, slash + 1));
  const char* tmp = std::getenv("TMPDIR");
  add(tmp && *tmp ? tmp : "/tmp");
  return dirs;
}

std::string choosescratch(const std::string& dir, std::string* why) {
  releasescratch();
  sweepscratch(dir);
  // The first name that nobody holds: created (or taken over) and locked for the run. After
  // the lock the name must still lead to the locked file: another encoder may have removed it
  // as a leftover between our open and our lock.
  std::string reason = "all eight names are in use";
  for (int k = 1, tries = 0; k <= 8 && tries < 64; ++tries) {
    std::string p = dir + scratchname(k);
    int fd = ::open(p.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (fd < 0) {
      // A folder that takes no file (read-only, missing) says why; a name taken by a folder
      // or a link is passed over like a held one.
      if (errno != EISDIR && errno != ELOOP) reason = std::strerror(errno);
      ++k;
      continue;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
      ::close(fd);
      ++k;
      continue;
    }
    struct stat held, named;
    if (::fstat(fd, &held) != 0 || ::stat(p.c_str(), &named) != 0 || held.st_ino != named.st_ino ||
        held.st_dev != named.st_dev) {
      ::close(fd);
      continue;  // the same name once more
    }
    scratchfd = fd;
    return p;
  }
  if (why) *why = reason;
  return std::string();
}

void releasescratch() {
  if (scratchfd >= 0) ::close(scratchfd);
  scratchfd = -1;
}

void initencoder(statusrec& status) {
  status = statusrec{};
  startwarnings.clear();
  createdfiles.clear();
  filesread.clear();
  int code = runstartup(status);
  status.code = code;
  if (code != 0) {
    undostartup();
    if (code != 3 && code != 265) status.message.clear();
    if (code == 3) status.detail.clear();  // the frame server's message says it
    return;
  }
  postwake();
}

bool reopenscript(int pass, std::string& why) {
  int w = 0, h = 0, frames = 0, num = 0, den = 0, pixeltype = 0;
  char msg[512];
  std::fill(std::begin(msg), std::end(msg), ' ');
  const std::string in = trimright(settings.inpath);
  const std::string at = "pass " + std::to_string(pass) + ": ";
  const int code = avsopen(in.c_str(), w, h, frames, num, den, msg, sizeof msg, &pixeltype);
  if (code == 3) {
    why = at + trimright(std::string(msg, sizeof msg));
    return false;
  }
  if (code != 0) {
    const char* text = starttext(code);
    why = at + quoted(in) + ": " + (text ? text : "the frame server failed with code " + std::to_string(code));
    return false;
  }
  if (w != openwidth || h != openheight || pixeltype != openpixeltype) {
    // The ring and the tables are laid out for the first picture; a bigger one would not fit.
    why = at + "the script now gives " + picturetext(w, h, pixeltype) + ", at start-up " +
          picturetext(openwidth, openheight, openpixeltype);
    return false;
  }
  if (frames <= settings.lastframe) {
    // Frames past its new end would come as copies of its last frame, said by nobody.
    why = at + quoted(in) + " now has " + std::to_string(frames) + " frames, the run encodes up to frame " +
          std::to_string(settings.lastframe);
    return false;
  }
  return true;
}

void closeencoder() {
  if (settings.avsinput) avsclose();
  if (settings.d2vinput) d2vfree();
  if (matrixmodule) {
    dynfree(matrixmodule);
    matrixmodule = nullptr;
    settings.extmatrixentry = nullptr;
  }
  releasescratch();
  freeframes();
}
