// The settings model and the reader of KJ.ini.
//
// The front end reads a settings file by the encoder's rules (common/inifile.h) and keeps in
// the model what the encoder will make of it: numbers in the ranges the encoder applies, the
// chapters and zones as the encoder marks them, a matrix named last in the file chosen.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "common/fmtfield.h"
#include "common/inifile.h"
#include "common/listread.h"
#include "common/texttime.h"
#include "dialogs/dialogs.h"
#include "frontend/settings/settings.h"
#include "frontend/window/front.h"

guisettingsrec guisettings;
bool iniseen[inikeycount];
std::string inputpath, outputpath, logpath, userinipath, chapterpath, matrixpath;
bool inputexists = false, movieinfovalid = false, outputset = false, d2vloaded = false;
std::vector<std::string> inicarried;

namespace {
bool fileexists(const std::string& path) {
  std::error_code ec;
  return !path.empty() && std::filesystem::is_regular_file(path, ec);
}

// The key code of each of the encoder's keys; the keys missing here are carried over.
struct frontkey {
  const char* key;
  int code;
};
constexpr frontkey frontkeys[] = {
    {"*INFILE", keyinfile},         {"*OUTFILE", keyoutfile},
    {"*FRAMES", keyframes},         {"*CQ", keycq},
    {"*BITRATE", keybitrate},       {"*MAXBITRATE", keymaxbitrate},
    {"*PREVIEW", keypreview},       {"*PROFILE", keyprofile},
    {"*ASPECT", keyaspect},         {"*CQ_MAXBITRATE", keycqmaxbitrate},
    {"*LOGFILE", keylogfile},       {"*LASTIFRAME", keylastiframe},
    {"*CQ_PFACTOR", keycqpfactor},  {"*CQ_BFACTOR", keycqbfactor},
    {"*ADAPTIVEMATRIX", keyadaptivematrix}, {"*PULLDOWN", keypulldown},
    {"*CPU", keycpu},               {"*GOP", keygop},
    {"*DC_PREC", keydcprec},        {"*SCANMETHOD", keyscanmethod},
    {"*TIMECODE", keytimecode},     {"*MATRIX", keymatrix},
    {"*CUSTOMMATRIX", keycustommatrix}, {"*BIAS", keybias},
    {"*CLOSEDGOPS", keyclosedgops}, {"*NOVBV", keynovbv},
    {"*NOSCD", keynoscd},           {"*CHAPTER", keychapter},
    {"*INTERLACED", keyinterlaced}, {"*MASK_SHIFT", keymaskshift},
    {"*TFF", keytff},               {"*BFF", keybff},
    {"*WAIT", keywait},             {"*NOSEQ_ENDCODE", keynoseqendcode},
    {"*SHUTDOWN", keyshutdown},     {"*AUTOGOP", keyautogop},
    {"*ZONE", keyzone},             {"*LUMGAIN", keylumgain},
    {"*SCDFILE", keyscdfile},
};
// Read by the encoder's start-up alone, never by its settings reader.
constexpr const char* silentkey = "*SILENT";

int frontcode(const char* key) {
  for (const frontkey& k : frontkeys)
    if (std::strcmp(k.key, key) == 0) return k.code;
  return 0;
}

// One settings file being read: its lines, and list reads over the lines that follow a key
// (each read starts on a new line, as the encoder reads them). A list line is read whole; one
// longer than the encoder takes is an error. The lines a list read took can be kept (carry).
class inifile {
 public:
  explicit inifile(std::FILE* f)
      : f_(f), list_([this](std::string& line) {
          bool cut = false;
          int r = readline(f_, line, inilistlinelength, &cut);
          if (r > 0 && cut) return -1;
          if (r > 0 && carry_) carry_->push_back(line);
          return r;
        }) {}
  // The next line: 1, 0 at the end, -1 on a read error.
  int line(std::string& raw) {
    int r = readline(f_, raw, inilistlinelength);
    // A byte-order mark (a UTF-8 file from some editors) is no part of the first line.
    if (r > 0 && first_ && raw.compare(0, 3, "\xEF\xBB\xBF") == 0) raw.erase(0, 3);
    first_ = false;
    return r;
  }
  void carryto(std::vector<std::string>* lines) { carry_ = lines; }
  bool ints(int* v, int n) {
    list_.beginread();
    for (int i = 0; i < n; i++)
      if (list_.getint(v[i]) != listok) return false;
    return true;
  }
  bool frameandfactor(int& frame, float& factor) {
    list_.beginread();
    return list_.getint(frame) == listok && list_.getreal(factor) == listok;
  }

 private:
  std::FILE* f_;
  bool first_ = true;
  std::vector<std::string>* carry_ = nullptr;
  listreader list_;
};

// Numbers of a key line, from the value's column to column 80.
bool ints(const std::string& upper, int column, int* v, int n) {
  return readints(inicolumns(upper, column, ininumberlastcol), v, n) == listok;
}
bool real(const std::string& upper, int column, float& v) {
  return readreals(inicolumns(upper, column, ininumberlastcol), &v, 1) == listok;
}

// The input check of "*INFILE": the D2V outcome, 0 fine, 1 no decoder library for its
// version, 2 its video files are missing; -1 no such file (the outcome stays as it was).
int inputcheck(const std::string& path) {
  inputpath = path;
  inputexists = fileexists(asencoder(inputpath));
  if (!inputexists) return -1;
  pickdecoder();
  if (!d2vfilesfound || !d2vversionok) {
    inputpath.clear();
    iniseen[keyinfile] = false;
    movieinfovalid = false;
    if (dialogrecord* d = frontdialog(pagemain)) dlgputtext(*d, 1008, "input file name (*.d2v, *.avs)");
    return d2vfilesfound ? 1 : 2;
  }
  iniseen[keyinfile] = true;
  return 0;
}

// What a file read leaves for the end: the D2V outcome, and chapter frames of every
// "*CHAPTER" list (the encoder marks the frames of all of them).
struct readstate {
  int d2vstatus = 0;
  std::vector<int> chapters;
};

// Reads the value of one key line into the model; false on an unreadable or missing value.
bool applykey(inifile& file, int code, const char* key, const std::string& raw, const std::string& upper,
              readstate& st) {
  guisettingsrec& g = guisettings;
  const size_t n = std::strlen(key);
  const int c = inivaluecolumn(key);
  int v[4] = {0, 0, 0, 0};
  float r = 0.0f;
  int w = -1;
  std::string path;
  switch (code) {
    case keyinfile:
      if (!inipath(raw, n, path)) return false;
      if (path.empty()) return true;  // a key without a name changes nothing
      if (int s = inputcheck(path); s >= 0) st.d2vstatus = s;
      return true;
    case keyoutfile:
    case keylogfile:
      if (!inipath(raw, n, path)) return false;
      if (path.empty()) return true;
      (code == keyoutfile ? outputpath : logpath) = path;
      break;
    case keyframes:
      if (!ints(upper, c, v, 2)) return false;
      g.startframe = v[0];
      g.endframe = v[1];
      break;
    case keycq:
    case keycqmaxbitrate:
      if (!real(upper, c, r)) return false;
      (code == keycq ? g.guicq : g.guicqmbr) = std::clamp(r, 1.0f, 31.0f);
      break;
    case keybitrate:
    case keymaxbitrate:
      if (!ints(upper, c, v, 1)) return false;
      (code == keybitrate ? g.avgkbits : g.maxkbits) = v[0];
      break;
    case keycqpfactor:
    case keycqbfactor:
      if (!real(upper, c, r)) return false;
      (code == keycqpfactor ? g.guipfactor : g.guibfactor) = r;
      break;
    case keyprofile:
      if ((w = iniwordvalue(upper, iniprofile)) < 0) return true;
      g.guiprofile = w;
      break;
    case keyaspect:
      if ((w = iniwordvalue(upper, iniaspect)) < 0) return true;
      g.guiaspect = w;
      break;
    case keycpu:
      // "SSE4" leaves the level to the processor, as "AUTO" does.
      if ((w = iniwordvalue(upper, inicpu)) < 0) return true;
      g.guicpu = w > 4 ? 0 : w;
      break;
    case keyscanmethod:
      if ((w = iniwordvalue(upper, iniscan)) < 0) return true;
      g.guiscan = w - 1;
      break;
    case keymatrix:
      // The matrix named last in the file is used: a custom pair before it is not.
      iniseen[keycustommatrix] = false;
      g.matrixindex = 1;
      if ((w = iniwordvalue(upper, inimatrix)) < 0) return true;
      g.matrixindex = guimatrixindex(w);
      break;
    case keycustommatrix:
      if (!file.ints(custommatrix.intra, 64) || !file.ints(custommatrix.nonintra, 64)) return false;
      break;
    case keygop:
      if (!ints(upper, c, v, 2)) return false;
      g.guigoplength = std::clamp(v[0], 1, 36);
      g.guibframes = std::clamp(v[1], 0, 2);
      break;
    case keydcprec:
      if (!ints(upper, c, v, 1)) return false;
      g.guidcprec = std::clamp(v[0], 8, 11);
      break;
    case keytimecode:
      if (!ints(upper, c, v, 4)) return false;
      g.guitimecode[0] = std::clamp(v[0], 0, 23);
      for (int i = 1; i < 4; i++) g.guitimecode[i] = std::clamp(v[i], 0, 59);
      break;
    case keybias:
      if (!ints(upper, c, v, 1)) return false;
      g.guibias = std::clamp(v[0], 0, 100);
      break;
    case keywait:
      if (!ints(upper, c, v, 1)) return false;
      g.guiwait = std::clamp(v[0], 0, 99);
      break;
    case keyautogop:
      if (!ints(upper, c, v, 1)) return true;  // as the encoder: a line without a number is skipped
      g.guiautogop = std::clamp(v[0], 12, 18);
      break;
    case keylumgain:
      if (!ints(upper, c, v, 1)) return false;
      g.guilumgain = std::clamp(v[0], 0, 4);
      break;
    case keymaskshift:
      if (!ints(upper, c, v, 3)) return false;
      g.guimask[0] = std::clamp(v[0], 0, 1152);
      g.guimask[1] = std::clamp(v[1], 0, 1152);
      g.guimask[2] = std::clamp(v[2], -1152, 1152);
      break;
    case keychapter: {
      if (!ints(upper, c, v, 1)) return false;
      for (int i = 0; i < v[0]; i++) {
        int f = 0;
        if (!file.ints(&f, 1)) return false;
        st.chapters.push_back(f);
      }
      break;
    }
    case keyzone: {
      if (!ints(upper, c, v, 1)) return false;
      for (int i = 0; i < v[0]; i++) {
        int f = 0;
        float z = 0.0f;
        if (!file.frameandfactor(f, z) || !zonefromlist(f, z)) return false;
      }
      break;
    }
    case keypreview:
      g.guipreview = true;
      break;
    case keysilent:
      g.guisilent = true;
      break;
    default:  // the other switches: the mark is the value
      break;
  }
  iniseen[code] = true;
  return true;
}

// A key the pages do not show: its line and its list lines are kept as read; its values are
// checked as the encoder reads them, and the matrices it gives go into the custom pair.
bool carrykey(inifile& file, const char* key, const std::string& raw, const std::string& upper) {
  inicarried.push_back(raw);
  int v[3];
  if (std::strcmp(key, "*MASK_VALUE") == 0) return ints(upper, inivaluecolumn(key), v, 3);
  if (std::strcmp(key, "*VBVSIZE") == 0) return ints(upper, inivaluecolumn(key), v, 1);
  int* half = std::strcmp(key, "*INTRAMATRIX") == 0   ? custommatrix.intra
              : std::strcmp(key, "*INTERMATRIX") == 0 ? custommatrix.nonintra
                                                      : nullptr;
  if (!half) return true;
  file.carryto(&inicarried);
  bool ok = file.ints(half, 64);
  file.carryto(nullptr);
  return ok;
}
}  // namespace

void loadini(int mode) {
  inputpath.clear();
  outputpath.clear();
  logpath.clear();
  inputexists = false;
  std::fill(std::begin(iniseen), std::end(iniseen), false);
  d2vloaded = false;
  inicarried.clear();
  setdefaults();
  clearchapters();
  clearzones();
  readstate st;
  if (mode == 1 && !fileexists(inifilepath)) {
    showinfo(" KJ.ini not found, using default GUI settings", false);
    return;
  }
  // Only a regular file: a FIFO or a device would hold the window until it ends.
  const std::string& path = mode == 1 ? inifilepath : userinipath;
  std::FILE* f = fileexists(path) ? std::fopen(path.c_str(), "r") : nullptr;
  if (!f) {
    std::fill(std::begin(iniseen), std::end(iniseen), false);
    showinfo(" error openening ini file", false);
    return;
  }
  inifile file(f);
  std::string errkey;  // ": " and the key whose value is being read
  bool failed = false;
  for (std::string raw; !failed;) {
    errkey.clear();
    int r = file.line(raw);
    if (r == 0) break;
    if (r < 0) {
      failed = true;
      break;
    }
    std::string upper = raw;
    upper.resize(inilinelength, ' ');
    uppercase(upper);
    const char* key = nullptr;
    int code = 0;
    if (upper.compare(0, std::strlen(silentkey), silentkey) == 0) {
      key = silentkey;
      code = keysilent;
    } else if (int k = inifilekey(upper); k >= 0) {
      key = inifilekeys[k];
      code = frontcode(key);
    } else {
      continue;  // comments are free
    }
    errkey = std::string(": ") + key;
    failed = code ? !applykey(file, code, key, raw, upper, st) : !carrykey(file, key, raw, upper);
  }
  std::fclose(f);

  // What the encoder makes of the values: the chapters of all lists, the custom pair in range,
  // an average bitrate from 50 up to the maximum (the page's 8000 when none is given).
  guisettingsrec& g = guisettings;
  setchapters(st.chapters);
  clampcustommatrix();
  if (iniseen[keymaxbitrate]) g.maxkbits = std::clamp(g.maxkbits, minkbitrate, maxkbitrate);
  if (iniseen[keybitrate])
    g.avgkbits = std::max(std::min(g.avgkbits, iniseen[keymaxbitrate] ? g.maxkbits : 8000), minkbitrate);

  if (failed) {
    std::fill(std::begin(iniseen), std::end(iniseen), false);
    showinfo(" error processing ini file:" + errkey, false);
    return;
  }
  inireport(mode, st.d2vstatus);
}

void inireport(int mode, int d2vstatus) {
  showinfo(mode == 1 ? " KJ.ini successfully processed" : " USER ini file successfully processed", false);
  if (d2vstatus == 2) showinfo(", ERROR, invalid D2V project, can't find the VOB/MPEG files", true);
  if (d2vstatus == 1)
    showinfo(", ERROR, invalid D2V project, DGIndex/DGDecode mismatch" + d2vmismatch(), true);
  if (d2vstatus != 0) {
    movieinfo();
    filelength();
  }
  if (!inputexists) showinfo(", WARNING, input file not found", true);
}
