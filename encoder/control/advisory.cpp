#include "encoder/control/advisory.h"

#include <algorithm>
#include <cstdio>

#include "encoder/control/inireader.h"
#include "encoder/control/settings.h"
#include "encoder/control/switches.h"

std::vector<advisory> advisories;

namespace {
std::string realtext(float v) {
  char b[32];
  std::snprintf(b, sizeof b, "%g", v);
  return b;
}

void note(const std::string& text, int overriddenby) { advisories.push_back({" WARNING, " + text, overriddenby}); }
}  // namespace

const char* aspectname(int aspect) {
  static const char* const names[] = {"1:1", "4:3", "16:9", "2.21:1"};
  return names[std::clamp(aspect, 1, 4) - 1];
}

std::string fromcommandline() { return "on the command line"; }
std::string fromsettingsfile() { return "in \"" + settings.inifile + "\""; }

int clampnoted(int v, int lo, int hi, const std::string& word, const std::string& from, int overriddenby,
               const char* unit) {
  const int used = std::clamp(v, lo, hi);
  if (used != v)
    note(word + " " + std::to_string(v) + " " + from + " is out of range " + std::to_string(lo) + ".." +
             std::to_string(hi) + unit + ", " + std::to_string(used) + " used",
         overriddenby);
  return used;
}

float clampnoted(float v, float lo, float hi, const std::string& word, const std::string& from,
                 int overriddenby) {
  const float used = std::clamp(v, lo, hi);
  if (used != v)
    note(word + " " + realtext(v) + " " + from + " is out of range " + realtext(lo) + ".." + realtext(hi) + ", " +
             realtext(used) + " used",
         overriddenby);
  return used;
}

void unknownword(const std::string& word, const std::string& text, const std::string& from,
                 const char* known, const std::string& used, int overriddenby) {
  note(word + " \"" + text + "\" " + from + " is none of " + known + "; " + used + " used", overriddenby);
}

std::string settingsfileineffect() {
  const settingsrec& st = settings;
  if (!st.iniused || st.inifilegiven || st.argcount <= 1) return "";
  // The switches that override a key (a key without one always takes effect).
  struct override {
    int key, slot1, slot2;
  };
  static constexpr override overrides[] = {
      {keyinfile, slotinput, -1},        {keyoutfile, slotoutput, -1},
      {keyframes, slotfirstframe, -1},   {keybitrate, slotbitrate, -1},
      {keymaxbitrate, slotmaxbitrate, -1}, {keyprofile, slotprofile, -1},
      {keyaspect, slotaspect, -1},       {keycqmaxbitrate, slotcqmbr, -1},
      {keycqpfactor, slotcqpfactor, -1}, {keycqbfactor, slotcqbfactor, -1},
      {keycq, slotcq, -1},               {keylogfile, slotlog, -1},
      {keypulldown, slotpulldown, -1},   {keygop, slotgoplength, -1},
      {keyautogop, slotgoplength, -1},   {keydcprec, slotdcprec, -1},
      {keymatrix, slotmatrix, -1},       {keycustommatrix, slotmatrix, -1},
      {keybias, slotbias, -1},           {keynoscd, slotscene, -1},
      {keyinterlaced, slotinterlaced, -1}, {keytff, slottff, slotbff},
      {keybff, slottff, slotbff},
  };
  auto overridden = [](int key) {
    for (const override& o : overrides)
      if (o.key == key) return switchgiven(o.slot1) || (o.slot2 >= 0 && switchgiven(o.slot2));
    return false;
  };
  std::string used;
  for (int k = 0; k < inikeycount; ++k)
    if (keygiven[k] && !overridden(k)) used += (used.empty() ? "" : ", ") + keylines[k];
  if (used.empty()) return "";
  std::string text = " WARNING, settings file \"" + st.inifile +
                     "\" (the program folder's; the front end writes it at every encode) was read "
                     "with the switches; in effect from it: " + used;
  // The mode is the surprise that matters most: the file's quantiser replaces two passes.
  const bool filemode = ((keygiven[keycq] && !overridden(keycq)) ||
                         (keygiven[keycqmaxbitrate] && !overridden(keycqmaxbitrate))) &&
                        !switchgiven(slotcq) && !switchgiven(slotcqmbr);
  if (filemode)
    text += std::string("; so this is one pass at a constant quantiser") +
            (switchgiven(slotbitrate) ? ", not two passes to -b" : "");
  return text + " (-ini names another settings file)";
}
