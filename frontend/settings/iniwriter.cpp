// The KJ.ini writer: the lines from the page controls, and the file written whole or not at all.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "common/fmtfield.h"
#include "common/listread.h"
#include "common/matrices.h"
#include "common/texttime.h"
#include "dialogs/dialogs.h"
#include "frontend/settings/settings.h"
#include "frontend/window/front.h"
#include "platform/system.h"

bool settingsvalid = false;

namespace {
constexpr int keywidth = 18;  // the key in columns 1..18, the value from column 19

// A text moved left and trimmed.
std::string left(const std::string& t) { return trimright(adjustleft(t)); }

bool firstint(const std::string& t, int& v) { return readints(t, &v, 1) == listok; }
bool firstreal(const std::string& t, float& v) { return readreals(t, &v, 1) == listok; }

// A path the encoder reads back as it is: at most its 500 characters, no blank at either end
// (the reader drops them), no line end or tab (a tab reads as a blank).
bool pathwritable(const std::string& p) {
  return p.size() <= 500 && p.find_first_of("\n\r\t") == std::string::npos && p.front() != ' ' && p.back() != ' ';
}

class linebuilder {
 public:
  linebuilder(std::vector<std::string>& lines, int textlength) : lines_(lines), length_(textlength) {}
  std::string text(int page, int id) { return dlggettext(dlgof(page), id, length_); }
  std::string text(int page, int id, int length) { return dlggettext(dlgof(page), id, length); }
  bool ticked(int page, int id) { return dlggetflag(dlgof(page), id); }
  bool enabled(int page, int id) { return dlggetflag(dlgof(page), id, ixenabled); }
  // The key in its field and the value as given (the callers cut trailing blanks where the
  // value form says so).
  void put(const char* key, const std::string& value) { lines_.push_back(fmtlabel(key, keywidth) + value); }
  void put(const char* key) { lines_.push_back(key); }
  void plain(const std::string& line) { lines_.push_back(line); }

 private:
  std::vector<std::string>& lines_;
  int length_;
};

const char* const cpunames[] = {"mmx", "sse2", "sse3", "ssse3"};
}  // namespace

bool inilines(std::vector<std::string>& lines, std::string& refusal, int textlength) {
  lines.clear();
  refusal.clear();
  guisettingsrec& g = guisettings;
  linebuilder b(lines, textlength);
  auto refuse = [&](const std::string& why) {
    refusal = why;
    return false;
  };
  for (const std::string& l : inicarried) b.plain(l);

  // Files.
  const struct {
    int code;
    const char* key;
    const std::string& path;
    const char* what;
  } files[] = {{keyinfile, "*INFILE", inputpath, "input file name"},
               {keyoutfile, "*OUTFILE", outputpath, "output file name"},
               {keylogfile, "*LOGFILE", logpath, "log file name"}};
  for (const auto& f : files) {
    if (!iniseen[f.code]) continue;
    std::string p = trimright(f.path);
    if (p.empty()) continue;
    if (!pathwritable(p)) return refuse(std::string("invalid ") + f.what + ", it can't be written to KJ.ini");
    b.put(f.key, p);
  }

  // Bitrates: the average without a constant quantiser; the maximum while its edit is enabled,
  // which the pages keep so while a source is open and the mode holds the stream under it (two
  // passes, or a constant quantiser with the VBV check).
  const bool cq = b.ticked(pagesettings1, 1055);
  const bool cqvbv = b.ticked(pagesettings1, 1057);
  int v = 0;
  if (!cq) {
    std::string avg = left(b.text(pagemain, 1087));
    if (!firstint(avg, v)) return refuse("invalid average bitrate, not a number");
    b.put("*BITRATE", avg);
  }
  if (b.enabled(pagemain, 1018)) {
    std::string max = left(b.text(pagemain, 1018));
    if (!firstint(max, v)) return refuse("invalid maximum bitrate, not a number");
    b.put("*MAXBITRATE", max);
  }

  // Frames: left out when the two texts do not give two numbers.
  {
    std::string start = left(b.text(pagemain, 1088));
    std::string end = left(adjustleft(b.text(pagemain, 1089)).substr(0, 8));
    std::string value = trimright(start + " " + end);
    int se[2];
    if (firstint(start, v) && firstint(end, v) && readints(value, se, 2) == listok) {
      g.startframe = se[0];
      g.endframe = se[1];
      b.put("*FRAMES", value);
    }
  }

  if (b.ticked(pagemain, 1078)) b.put("*PROFILE", "fast");
  if (b.ticked(pagemain, 1080)) b.put("*PROFILE", "best");
  if (b.ticked(pagemain, 1081)) b.put("*ASPECT", "1:1");
  if (b.ticked(pagemain, 1082)) b.put("*ASPECT", "4:3");
  if (b.ticked(pagemain, 1084)) b.put("*ASPECT", "2.21:1");

  // GOP: fixed, or the longest automatic one in a field of 4 kept whole.
  if (!b.ticked(pagemain, 1077)) {
    std::string gop = left(b.text(pagesettings1, 1045));
    std::string bf = left(adjustleft(b.text(pagesettings1, 1544)).substr(0, 8));
    std::string value = trimright(gop + " " + bf);
    int gb[2];
    if (readints(value, gb, 2) != listok) return refuse("invalid GOP length or B frames, not a number");
    g.guigoplength = gb[0];
    g.guibframes = gb[1];
    b.put("*GOP", value);
  } else {
    if (!firstint(b.text(pagemain, 1113), v)) return refuse("invalid autogop maximum, not a number");
    b.put("*AUTOGOP", adjustleft(fmtint(v, 4)));
  }

  // Constant quantiser and its factors.
  if (cq) {
    std::string q = left(b.text(pagesettings1, 1056));
    float r = 0;
    if (!firstreal(q, r)) return refuse("invalid CQ value, not a number");
    b.put(cqvbv ? "*CQ_MAXBITRATE" : "*CQ", q);
    const struct {
      int id;
      const char* key;
      const char* what;
    } factors[] = {{1038, "*CQ_PFACTOR", "P-factor"}, {1037, "*CQ_BFACTOR", "B-factor"}};
    for (const auto& f : factors) {
      std::string whole = b.text(pagesettings1, f.id);
      if (trimright(whole) == "1.00") continue;
      // Written as its first 4 characters: they must give the number the whole text gives.
      std::string four = whole.substr(0, 4);
      float all = 0, written = 0;
      if (!firstreal(whole, all)) return refuse(std::string("invalid ") + f.what + ", not a number");
      if (!firstreal(four, written) || written != all)
        return refuse(std::string("invalid ") + f.what + ", more than 4 characters");
      b.put(f.key, four);
    }
  }

  if (b.ticked(pagemain, 1046)) b.put("*DC_PREC", "8");
  else if (b.ticked(pagemain, 1048)) b.put("*DC_PREC", "10");
  else if (b.ticked(pagemain, 1049)) b.put("*DC_PREC", "11");

  const bool interlaced = b.ticked(pagemain, 1041);
  const bool zigzag = b.ticked(pagesettings1, 1019);
  if (interlaced) b.put("*INTERLACED");
  if (interlaced && b.ticked(pagesettings1, 1092)) b.put("*TFF");
  if (interlaced && b.ticked(pagesettings1, 1093)) b.put("*BFF");
  if (interlaced && zigzag) b.put("*SCANMETHOD", "zigzag");
  if (!interlaced && !zigzag) b.put("*SCANMETHOD", "alt");
  if (!b.ticked(pagemain, 1040)) b.put("*NOSCD");
  if (!b.ticked(pagesettings2, 1021)) b.put("*NOVBV");
  if (b.ticked(pagemain, 1090)) b.put("*CLOSEDGOPS");
  if (!b.ticked(pagesettings2, 1022)) b.put("*NOSEQ_ENDCODE");
  if (b.ticked(pagesettings2, 2023)) b.put("*SCDFILE");

  if (b.enabled(pagesettings2, 1035)) {
    if (!firstint(b.text(pagesettings2, 1035), v)) return refuse("invalid VBR bias, not a number");
    g.guibias = std::clamp(v, 0, 100);
    if (g.guibias > 0) b.put("*BIAS", fmtint(g.guibias, 0));
  }

  // Mask and shift: the three numbers as the encoder reads them back from the line.
  {
    std::string value = left(b.text(pagesettings2, 1036)) + " " + left(b.text(pagesettings2, 1044, 5)) + " " +
                        left(b.text(pagesettings2, 1045, 5));
    value = left(value);
    int m[3];
    if (readints(value, m, 3) != listok) return refuse("invalid mask or shift lines, not a number");
    std::copy(m, m + 3, g.guimask);
    if (m[0] != 0 || m[1] != 0 || m[2] != 0) b.put("*MASK_SHIFT", value);
  }

  if (b.ticked(pagematrix, 1025)) b.put("*ADAPTIVEMATRIX");
  if (b.ticked(pagemain, 1044)) b.put("*PULLDOWN");
  if (b.ticked(pagesettings2, 1018)) b.put("*LASTIFRAME");
  if (b.ticked(pagesettings2, 2021)) b.put("*PREVIEW");
  if (b.ticked(pagesettings2, 2022)) b.put("*SILENT");

  // Time code: hours 0..23, minutes, seconds and frames 0..59.
  {
    std::string value;
    int sum = 0;
    for (int i = 0; i < 4; i++) {
      if (!firstint(b.text(pagesettings2, 1031 + i), v)) return refuse("invalid time code, not a number");
      g.guitimecode[i] = std::clamp(v, 0, i == 0 ? 23 : 59);
      sum += g.guitimecode[i];
      value += fmtint(g.guitimecode[i], 3);
    }
    if (sum > 0) b.put("*TIMECODE", left(value));
  }

  // The matrix pair: a built-in one by name, or the custom pair's 128 values.
  if (b.ticked(pagematrix, 1010) && encodermatrix(g.matrixindex) > 0) {
    std::string name = matrixname(encodermatrix(g.matrixindex));
    lowercase(name);
    b.put("*MATRIX", name);
  }
  if (b.ticked(pagematrix, 1011)) {
    for (int e : custommatrix.intra)
      if (e < -99 || e > 999) return refuse("invalid custom matrix, a value too wide for its field");
    for (int e : custommatrix.nonintra)
      if (e < -99 || e > 999) return refuse("invalid custom matrix, a value too wide for its field");
    b.put("*CUSTOMMATRIX");
    for (const std::string& row : matrixrows(custommatrix)) b.plain(row);
  }

  if (firstint(b.text(pagesettings2, 1056), v) && v > 0) b.put("*LUMGAIN", fmtint(std::min(v, 4), 1));
  for (int i = 0; i < 4; i++)
    if (b.ticked(pagesettings2, i == 3 ? 1010 : 1051 + i)) {
      b.put("*CPU", cpunames[i]);
      break;
    }

  if (!firstint(b.text(pagesettings2, 1017), v)) return refuse("invalid wait time, not a number");
  g.guiwait = std::clamp(v, 0, 99);
  if (g.guiwait != 5) b.put("*WAIT", fmtint(g.guiwait, 0));
  if (b.ticked(pagesettings2, 1039)) b.put("*SHUTDOWN");

  // The chapter and zone tables, one entry a line.
  if (chaptertable.count > 0) {
    b.put("*CHAPTER", fmtint(chaptertable.count, 0));
    for (int i = 1; i <= chaptertable.count; i++) b.plain(fmtint(chaptertable.frames[i], 0));
  }
  if (zonetable.count > 0) {
    b.put("*ZONE", fmtint(zonetable.count, 0));
    for (int i = 1; i <= zonetable.count; i++)
      b.plain(trimright(fmtlabel(fmtint(zonetable.frames[i], 0), 11) + fmtfixed(zonetable.factors[i], 3, 1)));
  }
  return true;
}

namespace {
// The settings file must never take the place of a file of the encode.
bool isrunfile(const std::string& target) {
  fileid t, other;
  if (!fileidof(target, t)) return false;
  for (const std::string* p : {&inputpath, &outputpath, &logpath})
    if (fileidof(asencoder(trimright(*p)), other) && other == t) return true;
  return false;
}
}  // namespace

bool writewhole(const std::string& target, const std::string& content, std::string& why) {
  namespace fs = std::filesystem;
  std::error_code ec;
  if (target.empty()) {
    why = "no file name";
    return false;
  }
  if (isrunfile(target)) {
    why = "it is the input, output or log file";
    return false;
  }
  // A link is followed: the file it names gets the new content, the link stays.
  std::string real = target;
  if (fs::is_symlink(target, ec)) {
    fs::path p = fs::canonical(target, ec);
    if (!ec) real = p.string();
  }
  if (fs::exists(real, ec) && !fs::is_regular_file(real, ec)) {
    why = "not a regular file";
    return false;
  }
  std::string temp = real + ".writing";
  std::FILE* f = std::fopen(temp.c_str(), "wb");
  if (!f) {
    why = std::strerror(errno);
    return false;
  }
  bool ok = std::fwrite(content.data(), 1, content.size(), f) == content.size();
  ok = ok && std::fflush(f) == 0;
  int err = errno;
  ok = std::fclose(f) == 0 && ok;
  if (!ok) err = err ? err : errno;
  if (ok && fs::exists(real, ec)) fs::permissions(temp, fs::status(real, ec).permissions(), ec);
  if (ok) {
    fs::rename(temp, real, ec);
    if (ec) {
      ok = false;
      why = ec.message();
    }
  } else {
    why = std::strerror(err ? err : EIO);
  }
  if (!ok) fs::remove(temp, ec);
  return ok;
}

void saveini(int mode) {
  settingsvalid = true;
  const std::string target = mode == 1 ? inifilepath : userinipath;
  std::vector<std::string> lines;
  std::string why;
  if (!inilines(lines, why)) {
    settingsvalid = false;
    showinfo(" KJ.ini write aborted, " + why, false);
    return;
  }
  if (isrunfile(target)) {
    settingsvalid = false;
    showinfo(" KJ.ini write aborted, " + target + " is the input, output or log file", false);
    return;
  }
  std::string content;
  for (const std::string& l : lines) content += l + "\n";
  if (!writewhole(target, content, why)) {
    settingsvalid = false;
    showinfo(" KJ.ini write aborted, can't write " + target + ": " + why, false);
    return;
  }
  showinfo(" file successfully written", false);
}
