#include "encoder/control/echo.h"

#include <initializer_list>

#include "common/fmtfield.h"
#include "common/matrices.h"

linesink logsink;

namespace {

constexpr int labelwidth = 22;

// The text of an enumerated value, or "" for a value outside its table.
const char* pick(int v, int lo, std::initializer_list<const char*> names) {
  int i = v - lo;
  if (i < 0 || i >= static_cast<int>(names.size())) return "";
  return names.begin()[i];
}

std::string line(const char* label, const std::string& value) {
  return fmtlabel(label, labelwidth) + value;
}

std::string yesno(bool b) { return b ? "yes" : "no"; }
std::string i8(int64_t v) { return fmtint(v, 8); }
std::string f83(double v) { return fmtfixed(v, 8, 3); }

}  // namespace

std::vector<std::string> echolines(const settingsrec& s) {
  std::vector<std::string> out;
  auto add = [&out](const char* label, const std::string& value) {
    out.push_back(line(label, value));
  };
  const bool onepass = s.passmode == 1;

  // An intra DC precision of 11 bits is beyond Main Profile: the stream declares High Profile.
  const std::string level = pick(s.level, 1, {"@ML", "@H-14", "@HL"});
  add("MPEG profile@level:", level.empty() ? level : (s.dcprec >= 3 ? "HP" : "MP") + level);
  add("input:", trimright(s.inpath));
  add("output:", trimright(s.outpath));

  const std::string indent(14, ' ');
  out.push_back("");
  out.push_back(indent + "--------------------");
  out.push_back(indent + "| encoder settings |");
  out.push_back(indent + "--------------------");
  out.push_back("");

  add("profile:", pick(s.profile, 1, {"FAST", "NORMAL", "", "BEST"}));
  add("frames:", i8(s.firstframe) + i8(s.lastframe));
  add("framerate:", f83(s.framerate));
  add("aspect ratio:", pick(s.aspect, 1, {"1:1", "4:3", "16:9", "2.21:1"}));
  if (onepass)
    add("bitrate:", "NA");
  else
    add("bitrate Kb/s:", i8(s.bitrate / 1000));
  if (onepass && s.cqmode)
    add("max. bitrate:", "NA");
  else
    add("max. bitrate Kb/s:", i8(s.maxbitrate / 1000));
  if (onepass) add("pass:", i8(1) + " (Constant Quant)");
  if (onepass && s.cqmode) add("constant Q:", f83(s.cqvalue));
  if (onepass && s.cqmbrmode) add("constant Q:", f83(s.cqmbrvalue));
  add("pulldown:", s.pulldown ? "yes, 23.976 --> 29.97" : "no");
  add("closed gops:", yesno(s.closedgops));
  add("VBV check:", s.novbv ? "no" : onepass && s.cqmode ? "NA" : "yes");
  add("scene change det.:", yesno(!s.noscd));
  if (!s.interlaced) {
    add("interlaced:", "no");
  } else {
    if (s.tff) add("interlaced:", "yes, TFF");
    if (s.bff) add("interlaced:", "yes, BFF");
  }
  add("goplen,B-pic:", s.autogop ? std::string("AUTO") : i8(s.goplength) + i8(s.bframes));
  add("dc_precision:", i8(s.dcprec + 8) + (s.dcprec + 8 == 11 ? " <--- NOT DVD COMPLIANT" : ""));
  add("scan method:", s.altscan ? "ALTERNATE" : "ZIGZAG");
  add("bias:", i8(s.bias));
  add("chapter frames:", i8(s.chaptercount));
  add("time code:", i8(s.tchours) + i8(s.tcminutes) + i8(s.tcseconds) + i8(s.tcframes));
  add("CPU:", pick(s.simdlevel, 1, {"MMX", "SSE2", "SSE3", "SSSE3"}));
  std::string matrix = matrixname(s.matrixno);
  if (s.adaptivematrix || s.lumgain > 0) matrix += ", adaptive";
  add("matrix:", matrix);
  add("luminance gain:", s.lumgain == 0 ? std::string("no") : "yes, level" + fmtint(s.lumgain, 2));
  return out;
}

void echosettings() {
  if (logsink) echosettings(logsink);
}

void echosettings(const linesink& sink) {
  for (const std::string& l : echolines()) sink(l);
}

bool echosettings(std::ostream& out) {
  for (const std::string& l : echolines()) {
    out << l << '\n';
    if (!out) return false;
  }
  return true;
}

bool echosettings(std::FILE* out) {
  for (const std::string& l : echolines()) {
    if (std::fputs(l.c_str(), out) < 0 || std::fputc('\n', out) == EOF) return false;
  }
  return std::fflush(out) == 0;
}
