#include "encoder/control/inireader.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <vector>

#include "encoder/control/advisory.h"
#include "encoder/control/control.h"
#include "common/inifile.h"
#include "common/listread.h"
#include "common/matrices.h"
#include "encoder/control/settings.h"
#include "encoder/control/switches.h"

inivaluesrec inivalues;
bool keygiven[inikeycount];
std::string keycontext;
std::string keylines[inikeycount];

namespace {

constexpr size_t linelength = inilinelength;
constexpr size_t listlinelength = inilistlinelength;
constexpr int lastchapterframe = maxframes - 1;

void setpresets() {
  inivalues = inivaluesrec{};
  const builtinpair* mpeg = builtinmatrix(1);
  for (int i = 0; i < 64; ++i) {
    inivalues.customintra[i] = mpeg->intra[i];
    inivalues.customnonintra[i] = mpeg->nonintra[i];
  }
  std::fill(std::begin(chapterflags), std::end(chapterflags), uint8_t{0});
  std::fill(std::begin(zonefactors), std::end(zonefactors), 1.0f);
  std::fill(std::begin(keygiven), std::end(keygiven), false);
  for (std::string& l : keylines) l.clear();
  keycontext.clear();
  advisories.clear();
}

// A line as the advisories quote it: blanks and tabs run together, at most 60 characters.
std::string quotedline(const std::string& raw) {
  std::string q;
  for (char c : raw) {
    if (c == '\r' || c == '\n') break;
    if (c == ' ' || c == '\t') {
      if (!q.empty() && q.back() != ' ') q += ' ';
    } else {
      q += c;
    }
  }
  while (!q.empty() && q.back() == ' ') q.pop_back();
  if (q.size() > 60) q = q.substr(0, 57) + "...";
  return q;
}

// The keyword part of a key's line, for an advisory on a word the key does not know.
std::string wordof(const std::string& raw, int key) {
  std::string line = quotedline(raw);
  const size_t n = std::char_traits<char>::length(inikeys[key]);
  return line.size() > n + 1 ? line.substr(n + 1) : "";
}

int frameindex(int f) { return std::clamp(f, 0, lastchapterframe); }

// Zones as read, in file order; applied once the whole file has been read (applyzones).
struct zone {
  int frame;
  float factor;
};
std::vector<zone> zones;

// zonefactors from the zones: each frame takes the factor of the zone read last among those
// that start at or before it, so later zones override earlier ones from their frame on. One
// walk over the zones and one over the frames, however many zones there are.
void applyzones() {
  if (zones.empty()) return;
  std::vector<int> last(maxframes, -1);  // per frame: the last zone (file order) starting there
  for (size_t i = 0; i < zones.size(); ++i) last[zones[i].frame] = static_cast<int>(i);
  int current = -1;
  for (int f = 0; f < maxframes; ++f) {
    current = std::max(current, last[f]);
    if (current >= 0) zonefactors[f] = zones[current].factor;
  }
  zones.clear();
}

// Reads the value of one key line; false on an unreadable or missing value (keycontext names
// the key then, and why what was wrong when the value text says nothing of it).
class linereader {
 public:
  explicit linereader(std::FILE* f)
      : list_([this, f](std::string& line) {
          bool cut = false;
          int r = readline(f, line, listlinelength, &cut);
          if (r > 0 && cut) {
            why = "a line of its list is longer than " + std::to_string(listlinelength) +
                  " characters";
            return -1;
          }
          return r;
        }) {}

  bool apply(int key, const std::string& raw, const std::string& upper);
  std::string why;

 private:
  bool ints(const std::string& upper, int col, int* v, int n) {
    return readints(inicolumns(upper, col, ininumberlastcol), v, n) == listok;
  }
  bool real(const std::string& upper, int col, float& v) {
    return readreals(inicolumns(upper, col, ininumberlastcol), &v, 1) == listok;
  }
  bool list64(int32_t* out) {
    int v[64];
    list_.beginread();
    for (int i = 0; i < 64; ++i)
      if (list_.getint(v[i]) != listok) return false;
    std::copy(v, v + 64, out);
    return true;
  }
  listreader list_;
};

bool linereader::apply(int key, const std::string& raw, const std::string& upper) {
  inivaluesrec& iv = inivalues;
  const int n = static_cast<int>(std::char_traits<char>::length(inikeys[key]));
  const int c = inivaluecolumn(inikeys[key]);  // one character after the key is skipped
  // A path is at most 500 characters: one that goes on beyond them is refused, never cut.
  auto path = [&](std::string& p) {
    if (inipath(raw, static_cast<size_t>(n), p)) return true;
    why = std::string(inikeys[key]) + ": the path is longer than 500 characters";
    return false;
  };
  int v[4] = {0, 0, 0, 0};
  float r = 0.0f;
  int w = -1;
  switch (key) {
    case keyinfile:
      if (!path(settings.inpath)) return false;
      settings.inputgiven = true;
      break;
    case keyoutfile:
      if (!path(settings.outpath)) return false;
      settings.outputgiven = true;
      break;
    case keylogfile:
      if (!path(settings.logpath)) return false;
      settings.logfileon = true;
      break;
    case keyframes:
      if (!ints(upper, c, v, 2)) return false;
      iv.firstframe = v[0];
      iv.lastframe = v[1];
      break;
    case keybitrate:
      if (!ints(upper, c, v, 1)) return false;
      iv.bitrate = v[0];
      settings.bitrategiven = true;
      break;
    case keymaxbitrate:
      if (!ints(upper, c, v, 1)) return false;
      iv.maxbitrate = v[0];
      settings.maxbitrategiven = true;
      break;
    case keypreview: iv.preview = true; break;
    case keyprofile:
      if ((w = iniwordvalue(upper, iniprofile)) >= 0) iv.profile = w;
      else
        unknownword("*PROFILE", wordof(raw, key), fromsettingsfile(), "FAST, NORMAL, GOOD, BEST",
                    iv.profile == 1 ? "fast" : iv.profile == 4 ? "best" : "normal", slotprofile);
      break;
    case keyaspect:
      if ((w = iniwordvalue(upper, iniaspect)) >= 0) iv.aspect = w;
      else
        unknownword("*ASPECT", wordof(raw, key), fromsettingsfile(), "1:1, 4:3, 16:9, 2.21:1",
                    aspectname(iv.aspect), slotaspect);
      break;
    case keycqmaxbitrate:
      if (!real(upper, c, r)) return false;
      iv.cqmaxbitrate = r;
      iv.passmode = 1;
      break;
    case keycqpfactor:
      if (!real(upper, c, r)) return false;
      iv.cqpfactor = r;
      break;
    case keycqbfactor:
      if (!real(upper, c, r)) return false;
      iv.cqbfactor = r;
      break;
    case keycq:
      if (!real(upper, c, r)) return false;
      iv.cq = r;
      iv.passmode = 1;
      break;
    case keylastiframe: iv.lastiframe = true; break;
    case keyadaptivematrix: iv.adaptivematrix = true; break;
    case keypulldown: iv.pulldown = true; break;
    case keymaskshift:
      if (!ints(upper, c, v, 3)) return false;
      std::copy(v, v + 3, iv.maskshift);
      iv.maskon = true;
      break;
    case keymaskvalue:
      if (!ints(upper, c, v, 3)) return false;
      std::copy(v, v + 3, iv.maskvalue);
      break;
    case keycpu:
      if ((w = iniwordvalue(upper, inicpu)) >= 0) iv.cpu = w;
      break;
    case keygop:
      if (!ints(upper, c, v, 2)) return false;
      iv.goplength = v[0];
      iv.bframes = v[1];
      iv.autogop = false;
      break;
    case keydcprec:
      if (!ints(upper, c, v, 1)) return false;
      iv.dcprec = v[0];
      break;
    case keyscanmethod:
      if ((w = iniwordvalue(upper, iniscan)) < 0) return true;  // not given
      iv.scanmethod = w;
      break;
    case keytimecode:
      if (!ints(upper, c, v, 4)) return false;
      std::copy(v, v + 4, iv.timecode);
      break;
    case keymatrix:
      iv.matrixno = 1;
      if ((w = iniwordvalue(upper, inimatrix)) >= 0) iv.matrixno = w;
      else
        unknownword("*MATRIX", wordof(raw, key), fromsettingsfile(), "the built-in matrices (ostrel -h)", "MPEG",
                    slotmatrix);
      break;
    case keycustommatrix:
      if (!list64(iv.customintra)) return false;
      if (!list64(iv.customnonintra)) return false;
      iv.matrixno = 0;
      break;
    case keyintramatrix:
      if (!list64(iv.customintra)) return false;
      break;
    case keyintermatrix:
      if (!list64(iv.customnonintra)) return false;
      break;
    case keybias:
      if (!ints(upper, c, v, 1)) return false;
      iv.bias = v[0];
      break;
    case keyclosedgops: iv.closedgops = true; break;
    case keynovbv: iv.novbv = true; break;
    case keynoscd: iv.noscd = true; break;
    case keychapter: {
      if (!ints(upper, c, v, 1)) return false;
      iv.chaptercount = v[0];
      for (int i = 0; i < iv.chaptercount; ++i) {
        int f = 0;
        list_.beginread();
        if (list_.getint(f) != listok) return false;
        chapterflags[frameindex(f)] = 1;
      }
      break;
    }
    case keyinterlaced: iv.interlaced = true; break;
    case keyautogop:
      if (!ints(upper, c, v, 1)) return true;  // lenient: a line without a number is skipped
      iv.autogopmax = v[0];
      break;
    case keytff: iv.tff = true; iv.bff = false; break;
    case keybff: iv.bff = true; iv.tff = false; break;
    case keywait:
      if (!ints(upper, c, v, 1)) return false;
      iv.wait = v[0];
      break;
    case keynoseqendcode: iv.seqendcode = false; break;
    case keyshutdown: iv.shutdown = true; break;
    case keyzone: {
      if (!ints(upper, c, v, 1)) return false;
      iv.zonecount = v[0];
      for (int i = 0; i < iv.zonecount; ++i) {
        int f = 0;
        float z = 0.0f;
        list_.beginread();
        if (list_.getint(f) != listok || list_.getreal(z) != listok) return false;
        zones.push_back({frameindex(f), std::clamp(z, 0.5f, 2.0f)});
      }
      break;
    }
    case keylumgain:
      if (!ints(upper, c, v, 1)) return false;
      iv.lumgain = v[0];
      break;
    case keyvbvsize:
      if (!ints(upper, c, v, 1)) return false;
      iv.vbvsize = v[0];
      iv.vbvsizegiven = true;
      break;
    case keyscdfile: iv.scdfile = true; break;
    default: return true;
  }
  keygiven[key] = true;
  keylines[key] = quotedline(raw);
  return true;
}

}  // namespace

int readini(std::string& errtext, std::string* why) {
  errtext.clear();
  if (why) why->clear();
  setpresets();
  zones.clear();
  // A missing file is no error: presets and switches make the settings then.
  std::error_code ec;
  auto st = std::filesystem::status(settings.inifile, ec);
  if (settings.inifile.empty() || !std::filesystem::exists(st)) return 0;
  if (std::filesystem::is_directory(st)) return 266;
  std::FILE* f = std::fopen(settings.inifile.c_str(), "rb");
  if (!f) return 266;
  settings.iniused = true;
  linereader values(f);
  std::string raw;
  bool first = true;
  // Read whole (bounded) so that a path going on past its columns is seen, then taken as the
  // 512-character record.
  auto finish = [&](int code) {
    std::fclose(f);
    applyzones();
    return code;
  };
  for (;;) {
    keycontext.clear();
    int r = readline(f, raw, listlinelength);
    if (r == 0) break;
    if (r < 0) return finish(265);
    // A byte-order mark (a UTF-8 file from some editors) is no part of the first line.
    if (first && raw.compare(0, 3, "\xEF\xBB\xBF") == 0) raw.erase(0, 3);
    first = false;
    std::string upper = raw;
    upper.resize(linelength, ' ');
    for (char& ch : upper)
      if (ch >= 'a' && ch <= 'z') ch = static_cast<char>(ch - 'a' + 'A');
    int key = inifilekey(upper);
    if (key < 0) continue;
    keycontext = std::string(": ") + inikeys[key];
    values.why.clear();
    if (!values.apply(key, raw, upper)) {
      errtext = keycontext;
      if (why) *why = values.why;
      return finish(265);
    }
  }
  keycontext.clear();
  return finish(0);
}

void checkini() {
  inivaluesrec& iv = inivalues;
  // 1. Pass mode: one constant-quantiser pass when either CQ key was given.
  iv.passmode = keygiven[keycq] || keygiven[keycqmaxbitrate] ? 1 : 2;

  // 2. Clamps. The bitrates also stay where their bit/s value fits an int32 (and the maximum
  // never below the floor of the average, so the average stays under it).
  // Each clamp of a value the file gave is said (the presets are all in range).
  const std::string file = fromsettingsfile();
  iv.dcprec = clampnoted(iv.dcprec, 8, 11, "*DC_PREC", file, slotdcprec, " bits");
  iv.cq = clampnoted(iv.cq, 1.0f, 31.0f, "*CQ", file, slotcq);
  iv.cqmaxbitrate = clampnoted(iv.cqmaxbitrate, 1.0f, 31.0f, "*CQ_MAXBITRATE", file, slotcqmbr);
  iv.autogopmax = clampnoted(iv.autogopmax, 12, 18, "*AUTOGOP", file, slotgoplength, " pictures");
  iv.goplength = clampnoted(iv.goplength, 1, maxgoplength, "*GOP length", file, slotgoplength, " pictures");
  iv.bframes = clampnoted(iv.bframes, 0, 2, "*GOP B pictures", file, slotgopb);
  iv.maxbitrate = clampnoted(iv.maxbitrate, 50, maxkbitrate, "*MAXBITRATE", file, slotmaxbitrate, " kbit/s");
  iv.bitrate = clampnoted(iv.bitrate, 50, std::max(iv.maxbitrate, 50), "*BITRATE", file, slotbitrate,
                          " kbit/s (at most the maximum bitrate)");
  iv.bias = clampnoted(iv.bias, 0, 100, "*BIAS", file, slotbias, " percent");
  iv.timecode[0] = clampnoted(iv.timecode[0], 0, 23, "*TIMECODE hours", file);
  static const char* const tcparts[4] = {"", "*TIMECODE minutes", "*TIMECODE seconds", "*TIMECODE frames"};
  for (int i = 1; i < 4; ++i) iv.timecode[i] = clampnoted(iv.timecode[i], 0, 59, tcparts[i], file);
  iv.wait = clampnoted(iv.wait, 0, 100, "*WAIT", file, -1, " seconds");
  iv.lumgain = clampnoted(iv.lumgain, 0, 4, "*LUMGAIN", file);
  // Masked lines and the vertical shift never exceed the tallest picture; a VBV size is at
  // least one unit of vbv_buffer_size (16,384 bits), as the rate control divides by it.
  iv.maskshift[0] = std::clamp(iv.maskshift[0], 0, maxheight);
  iv.maskshift[1] = std::clamp(iv.maskshift[1], 0, maxheight);
  iv.maskshift[2] = std::clamp(iv.maskshift[2], -maxheight, maxheight);
  if (iv.vbvsizegiven) iv.vbvsize = std::max(iv.vbvsize, 16384);

  // 3. Pass mode, matrix, processor level (forced down only: a level above the processor's
  // would run instructions it does not have).
  settings.passmode = iv.passmode;
  settings.matrixno = iv.matrixno;
  if (iv.cpu >= 1 && iv.cpu <= 4) settings.simdlevel = std::min(iv.cpu, settings.simdlevel);

  // 4. Constant quantiser; with both CQ keys the one under a maximum bitrate wins.
  settings.cqmode = settings.cqmbrmode = false;
  settings.cqvalue = 4.0f;
  if (iv.passmode == 1) {
    if (keygiven[keycq]) {
      settings.cqmode = true;
      settings.cqvalue = iv.cq;
    }
    if (keygiven[keycqmaxbitrate]) {
      settings.cqmbrmode = true;
      settings.cqmbrvalue = iv.cqmaxbitrate;
    }
    if (settings.cqmode && settings.cqmbrmode) {
      settings.cqmode = false;
      keygiven[keycq] = false;
    }
  }

  // 5. Copies.
  settings.firstframe = iv.firstframe;
  settings.lastframe = iv.lastframe;
  settings.bitrate = iv.bitrate * 1000;
  settings.maxbitrate = iv.maxbitrate * 1000;
  settings.profile = iv.profile;
  settings.goplength = iv.goplength;
  settings.bframes = iv.bframes;
  settings.aspect = iv.aspect;
  settings.closedgops = iv.closedgops;
  settings.dcprec = iv.dcprec - 8;
  settings.autogop = iv.autogop;
  settings.autogopmax = iv.autogopmax;
  settings.noscd = iv.noscd;
  settings.scdfile = iv.scdfile && !iv.noscd;
  settings.novbv = iv.novbv;
  settings.seqendcode = iv.seqendcode;
  settings.interlaced = iv.interlaced;
  settings.maskon = iv.maskon;
  settings.tchours = iv.timecode[0];
  settings.tcminutes = iv.timecode[1];
  settings.tcseconds = iv.timecode[2];
  settings.tcframes = iv.timecode[3];
  settings.waitsecs = showwindow.load() ? iv.wait : 0;
  settings.lumgain = iv.lumgain;
  shutdownflag.store(iv.shutdown);
  settings.lastiframe = iv.lastiframe;
  settings.previewini = iv.preview;
  settings.adaptivematrix = iv.adaptivematrix && iv.lumgain == 0;
  settings.pulldown = iv.pulldown;

  // 6. Quantiser factors only in the constant-quantiser modes.
  bool cq = settings.cqmode || settings.cqmbrmode;
  settings.cqpfactor = cq ? iv.cqpfactor : 1.0f;
  settings.cqbfactor = cq ? iv.cqbfactor : 1.0f;

  // 7. Bias, mask.
  settings.bias = iv.bias;
  for (int i = 0; i < 3; ++i) {
    settings.maskshift[i] = iv.maskshift[i];
    settings.fillbytes[i] = static_cast<uint8_t>(iv.maskvalue[i] & 0xff);
  }

  // 8. Field order; a scan method named in the file is applied with the switches.
  settings.altscan = false;
  if (iv.interlaced) {
    settings.tff = iv.tff;
    settings.bff = iv.bff;
    settings.altscan = !keygiven[keyscanmethod];
  } else {
    settings.tff = false;
    settings.bff = true;
  }
}
