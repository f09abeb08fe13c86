// The pages' settings in the terms of the settings model, and the encoder's echo of them.
#include "tests/frontend/echo.h"

#include <algorithm>

#include "common/fmtfield.h"
#include "common/listread.h"
#include "common/matrices.h"
#include "dialogs/dialogs.h"
#include "frontend/settings/settings.h"
#include "frontend/window/front.h"

namespace {
std::string text(int page, int id) { return trimright(dlggettext(dlgof(page), id, 40)); }
bool ticked(int page, int id) { return dlggetflag(dlgof(page), id); }
int number(int page, int id) {
  int v = 0;
  readints(text(page, id), &v, 1);
  return v;
}
float real(int page, int id) {
  float v = 0;
  readreals(text(page, id), &v, 1);
  return v;
}
const char* pick(const settingsview& v, int code, std::map<std::string, const char*> names, const char* otherwise) {
  auto k = v.find(code);
  if (k == v.end()) return otherwise;
  auto n = names.find(k->second);
  return n == names.end() ? otherwise : n->second;
}
}  // namespace

std::string ints(std::initializer_list<int> v) {
  std::string s;
  for (int i : v) s += (s.empty() ? "" : " ") + std::to_string(i);
  return s;
}
std::string f3(float v) { return fmtfixed(v, 0, 3); }
std::string tables() {
  std::string s = "chapters";
  for (int i = 1; i <= chaptertable.count; i++) s += " " + std::to_string(chaptertable.frames[i]);
  s += ", zones";
  for (int i = 1; i <= zonetable.count; i++)
    s += " " + std::to_string(zonetable.frames[i]) + ":" + fmtfixed(zonetable.factors[i], 0, 1);
  return s;
}
std::string customview() {
  std::string s;
  for (int v : custommatrix.intra) s += std::to_string(v) + " ";
  for (int v : custommatrix.nonintra) s += std::to_string(v) + " ";
  return s;
}

// What the pages ask the encoder for, in the terms of the model: the page's meaning of each
// control, with the ranges the encoder applies.
settingsview pagesview() {
  settingsview v;
  if (iniseen[keyinfile]) v[keyinfile] = inputpath;
  if (iniseen[keyoutfile]) v[keyoutfile] = outputpath;
  if (iniseen[keylogfile]) v[keylogfile] = logpath;
  const bool cq = ticked(103, 1055), vbv = ticked(103, 1057);
  const int max = std::clamp(number(102, 1018), 50, 2147483);
  if (!cq) v[keybitrate] = std::to_string(std::clamp(number(102, 1087), 50, max));
  // The maximum means something while its edit is enabled (a source open, a mode that uses it).
  if (dlggetflag(dlgof(102), 1018, ixenabled)) v[keymaxbitrate] = std::to_string(max);
  int se[2];
  if (readints(text(102, 1088) + " " + text(102, 1089), se, 2) == listok) v[keyframes] = ints({se[0], se[1]});
  if (ticked(102, 1078)) v[keyprofile] = "1";
  if (ticked(102, 1080)) v[keyprofile] = "4";
  for (int a : {1, 2, 4})
    if (ticked(102, 1080 + a)) v[keyaspect] = std::to_string(a);
  if (ticked(102, 1077)) v[keyautogop] = std::to_string(std::clamp(number(102, 1113), 12, 18));
  else v[keygop] = ints({std::clamp(number(103, 1045), 1, 36), std::clamp(number(103, 1544), 0, 2)});
  if (cq) {
    v[vbv ? keycqmaxbitrate : keycq] = f3(std::clamp(real(103, 1056), 1.0f, 31.0f));
    if (text(103, 1038) != "1.00") v[keycqpfactor] = f3(real(103, 1038));
    if (text(103, 1037) != "1.00") v[keycqbfactor] = f3(real(103, 1037));
  }
  for (int bits : {8, 10, 11})
    if (ticked(102, 1038 + bits)) v[keydcprec] = std::to_string(bits);
  const bool interlaced = ticked(102, 1041), zigzag = ticked(103, 1019);
  if (interlaced) v[keyinterlaced] = "";
  if (interlaced && ticked(103, 1092)) v[keytff] = "";
  if (interlaced && ticked(103, 1093)) v[keybff] = "";
  if (interlaced == zigzag) v[keyscanmethod] = zigzag ? "0" : "1";
  const struct {
    int page, id;
    bool on;
    int code;
  } switches[] = {{102, 1040, false, keynoscd},     {104, 1021, false, keynovbv},
                  {102, 1090, true, keyclosedgops}, {104, 1022, false, keynoseqendcode},
                  {104, 2023, true, keyscdfile},    {105, 1025, true, keyadaptivematrix},
                  {102, 1044, true, keypulldown},   {104, 1018, true, keylastiframe},
                  {104, 2021, true, keypreview},    {104, 2022, true, keysilent},
                  {104, 1039, true, keyshutdown}};
  for (const auto& s : switches)
    if (ticked(s.page, s.id) == s.on) v[s.code] = "";
  if (dlggetflag(dlgof(104), 1035, ixenabled) && number(104, 1035) > 0)
    v[keybias] = std::to_string(std::min(number(104, 1035), 100));
  std::string mask = ints({number(104, 1036), number(104, 1044), number(104, 1045)});
  if (mask != "0 0 0") v[keymaskshift] = mask;
  int tc[4];
  for (int i = 0; i < 4; i++) tc[i] = std::clamp(number(104, 1031 + i), 0, i == 0 ? 23 : 59);
  if (tc[0] + tc[1] + tc[2] + tc[3] > 0) v[keytimecode] = ints({tc[0], tc[1], tc[2], tc[3]});
  if (ticked(105, 1010)) v[keymatrix] = std::to_string(guisettings.matrixindex);
  if (ticked(105, 1011)) v[keycustommatrix] = customview();
  if (number(104, 1056) > 0) v[keylumgain] = std::to_string(std::min(number(104, 1056), 4));
  for (int level = 1; level <= 4; level++)
    if (ticked(104, level == 4 ? 1010 : 1050 + level)) v[keycpu] = std::to_string(level);
  if (int w = std::clamp(number(104, 1017), 0, 99); w != 5) v[keywait] = std::to_string(w);
  if (chaptertable.count > 0) v[keychapter] = tables();
  if (zonetable.count > 0) v[keyzone] = tables();
  return v;
}

// The settings echo the encoder must write for the pages' settings (the CPU line is left out
// unless the pages force MMX or SSE2, which every x86-64 processor has).
std::vector<std::string> echofor(const settingsview& v) {
  std::vector<std::string> e;
  auto add = [&e](const char* label, const std::string& value) { e.push_back(fmtlabel(label, 22) + value); };
  auto has = [&v](int code) { return v.count(code) > 0; };
  auto numbers = [&v](int code) {
    std::vector<int> n(4);
    readints(v.at(code), n.data(), (int)std::count(v.at(code).begin(), v.at(code).end(), ' ') + 1);
    return n;
  };
  add("profile:", pick(v, keyprofile, {{"1", "FAST"}, {"4", "BEST"}}, "NORMAL"));
  int first = 0, last = clipframes - 1;
  if (has(keyframes)) {
    std::vector<int> f = numbers(keyframes);
    first = std::clamp(f[0], 0, clipframes - 1), last = std::min(f[1], clipframes - 1);
  }
  add("frames:", fmtint(first, 8) + fmtint(last, 8));
  add("framerate:", "  23.976");
  add("aspect ratio:", pick(v, keyaspect, {{"1", "1:1"}, {"2", "4:3"}, {"4", "2.21:1"}}, "16:9"));
  const bool cq = has(keycq), cqmbr = has(keycqmaxbitrate);
  if (cq || cqmbr) add("bitrate:", "NA");
  else add("bitrate Kb/s:", fmtint(std::stoi(v.at(keybitrate)), 8));
  if (cq) add("max. bitrate:", "NA");
  else add("max. bitrate Kb/s:", fmtint(std::stoi(v.at(keymaxbitrate)), 8));
  if (cq || cqmbr) add("pass:", fmtint(1, 8) + " (Constant Quant)");
  if (cq) add("constant Q:", fmtfixed(std::stof(v.at(keycq)), 8, 3));
  if (cqmbr) add("constant Q:", fmtfixed(std::stof(v.at(keycqmaxbitrate)), 8, 3));
  add("pulldown:", has(keypulldown) ? "yes, 23.976 --> 29.97" : "no");
  add("closed gops:", has(keyclosedgops) ? "yes" : "no");
  add("VBV check:", has(keynovbv) ? "no" : cq ? "NA" : "yes");
  add("scene change det.:", has(keynoscd) ? "no" : "yes");
  const bool interlaced = has(keyinterlaced);
  add("interlaced:", !interlaced ? "no" : has(keybff) ? "yes, BFF" : "yes, TFF");
  if (has(keygop)) {
    std::vector<int> g = numbers(keygop);
    add("goplen,B-pic:", fmtint(g[0], 8) + fmtint(g[1], 8));
  } else {
    add("goplen,B-pic:", "AUTO");
  }
  int dc = has(keydcprec) ? std::stoi(v.at(keydcprec)) : 9;
  add("dc_precision:", fmtint(dc, 8) + (dc == 11 ? " <--- NOT DVD COMPLIANT" : ""));
  bool alt = has(keyscanmethod) ? v.at(keyscanmethod) == "1" : interlaced;
  add("scan method:", alt ? "ALTERNATE" : "ZIGZAG");
  add("bias:", fmtint(has(keybias) ? std::stoi(v.at(keybias)) : 0, 8));
  int chapters = has(keylastiframe) ? 1 : 0;
  for (int i = 1; i <= chaptertable.count; i++)
    chapters += chaptertable.frames[i] >= first && chaptertable.frames[i] <= last;
  add("chapter frames:", fmtint(chapters, 8));
  std::vector<int> tc = has(keytimecode) ? numbers(keytimecode) : std::vector<int>(4);
  add("time code:", fmtint(tc[0], 8) + fmtint(tc[1], 8) + fmtint(tc[2], 8) + fmtint(tc[3], 8));
  if (has(keycpu) && std::stoi(v.at(keycpu)) <= 2) add("CPU:", v.at(keycpu) == "1" ? "MMX" : "SSE2");
  int gain = has(keylumgain) ? std::stoi(v.at(keylumgain)) : 0;
  std::string matrix = has(keycustommatrix) ? "CUSTOM" : matrixname(encodermatrix(std::stoi(v.at(keymatrix))));
  if (has(keyadaptivematrix) || gain > 0) matrix += ", adaptive";
  add("matrix:", matrix);
  add("luminance gain:", gain == 0 ? std::string("no") : "yes, level" + fmtint(gain, 2));
  return e;
}

// The echo lines of a log: "profile:" to "luminance gain:", the CPU line only when expected.
std::vector<std::string> echoof(const std::string& log, bool cpu) {
  std::vector<std::string> e;
  bool in = false;
  size_t a = 0;
  for (size_t b; (b = log.find('\n', a)) != std::string::npos; a = b + 1) {
    std::string l = log.substr(a, b - a);
    in = in || l.rfind("profile:", 0) == 0;
    if (in && (cpu || l.rfind("CPU:", 0) != 0)) e.push_back(l);
    if (l.rfind("luminance gain:", 0) == 0) break;
  }
  return e;
}

bool echocpu(const settingsview& v) { return v.count(keycpu) && std::stoi(v.at(keycpu)) <= 2; }
