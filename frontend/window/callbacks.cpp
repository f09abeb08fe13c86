// The callbacks of the Main, Settings 1 and Settings 2 pages.
//
// The pages are the live copy of most settings (the KJ.ini writer reads the controls); these
// callbacks keep dependent controls in step, normalise what the user types (read back, clamped,
// written back left-adjusted), keep the model words other routines compute with (bitrates, file
// length, frame range, aspect, mask and shift, time code, wait, bias, quantiser, luminance gain)
// and explain each choice in the status line. An edit whose text does not read as a number keeps
// its former value and shows it again.
#include <algorithm>
#include <climits>
#include <cmath>

#include "common/fmtfield.h"
#include "common/listread.h"
#include "common/texttime.h"
#include "dialogs/dialogs.h"
#include "frontend/settings/settings.h"
#include "frontend/window/front.h"
#include "resources/frontend.h"

namespace {
void tick(int page, int id, bool on = true) { dlgputflag(dlgof(page), id, on); }
bool ticked(int page, int id) { return dlggetflag(dlgof(page), id); }
void enable(int page, std::initializer_list<int> ids, bool on) {
  for (int id : ids) dlgputflag(dlgof(page), id, on, ixenabled);
}
void say(const std::string& text) { showinfo(text, false); }
void sayalso(const std::string& text) { showinfo(text, true); }

// A number written back into an edit: in its field (In or Fw.d), moved left.
void putint(int page, int id, int64_t v, int width = 8) { dlgputtext(dlgof(page), id, adjustleft(fmtint(v, width))); }
void putreal(int page, int id, float v, int width, int decimals) {
  dlgputtext(dlgof(page), id, adjustleft(fmtfixed(v, width, decimals)));
}
// The first number of an edit's text into v; v is left as it was when the text holds none.
bool readint(int page, int id, int& v) {
  int r = 0;
  if (readints(dlggettext(dlgof(page), id, 40), &r, 1) != listok) return false;
  v = r;
  return true;
}
bool readreal(int page, int id, float& v) {
  float r = 0;
  if (readreals(dlggettext(dlgof(page), id, 40), &r, 1) != listok || !std::isfinite(r)) return false;
  v = r;
  return true;
}
// A single-precision value to the nearest integer (halves away from zero), within int32.
int nearestint(float v) {
  if (!(v > (float)INT_MIN)) return INT_MIN;
  if (!(v < (float)INT_MAX)) return INT_MAX;
  return (int)std::lround(v);
}

// The preview pages show the picture with the mask and shift of Settings 2 at the Main page's
// aspect: a page that shows a picture already shows it again when either changes.
void redrawpreview() {
  if (scanrunning || !movieinfovalid) return;
  for (int page : {pagechapters, pagezones}) {
    std::vector<uint8_t> rgb;
    int w = 0, h = 0;
    if (dlgpicture(dlgof(page), previewbox, rgb, w, h)) showpicture(dlgof(page));
  }
}

// The mask and shift as Settings 2 shows them, into the model the preview reads.
void maskfrompage() {
  static const int edits[3] = {1036, 1044, 1045};  // top lines, bottom lines, shift lines
  for (int i = 0; i < 3; i++) readint(pagesettings2, edits[i], guisettings.guimask[i]);
}

// ---- Main ----

void aspect(int word, const char* text) {
  guisettings.guiaspect = word;
  say(text);
  redrawpreview();
}

// Interlaced coding ticks top field first and the alternate scan; progressive (and pulldown,
// which codes progressive frames) flags bottom field first, which then cannot be changed, and
// the zigzag scan.
void progressivefields() {
  enable(pagesettings1, {1092}, false);
  tick(pagesettings1, 1093);
  enable(pagesettings1, {1093}, false);
  tick(pagesettings1, 1019);
}

void interlacedbox() {
  if (ticked(pagemain, 1041)) {
    tick(pagesettings1, 1092);
    enable(pagesettings1, {1092, 1093}, true);
    tick(pagesettings1, 1020);
    say(" changing interlaced also changes TFF/BFF and scan method, set to TFF and alternate");
  } else {
    progressivefields();
    say(" changing interlaced also changes scan method, scan method set to zigzag");
  }
}

void pulldownbox() {
  tick(pagemain, 1041, false);
  if (ticked(pagemain, 1044)) {
    enable(pagemain, {1041}, false);
    progressivefields();
    say(" pulldown turned on, set flags for 23.976 --> 29.97 fps, interlaced is disabled");
    sayalso(", if your source is interlaced please de-interlace it first");
    sayalso(", if input rate is not equal to 23.976, setting is ignored");
  } else {
    enable(pagemain, {1041}, true);
    progressivefields();
    say(" pulldown turned off");
  }
}

void autogopbox() {
  const bool on = ticked(pagemain, 1077);
  enable(pagemain, {1113, 1112}, on);
  enable(pagesettings1, {1045, 1544, 1023, 1024}, !on);
  say(on ? " autogop turned on, variable B frames"
         : " autogop turned off, you can change GOP settings in Settings 1 tab");
}

void autogopspin() {
  const int length = dlggetint(dlgof(pagemain), 1112);
  putint(pagemain, 1113, length);
  if (length <= 14) say(" GOP length valid for PAL, NTSC and pulldown");
  else if (length == 15) say(" GOP length valid for PAL, 29.97 NTSC, not for pulldown");
  else say(" GOP length only valid for 29.97 NTSC");
}

void allframes() {
  guisettingsrec& g = guisettings;
  if (!movieinfovalid || g.sourceframes <= 0) return;
  g.startframe = 0;
  g.endframe = g.sourceframes - 1;
  g.framespan = g.sourceframes;
  putint(pagemain, 1088, g.startframe);
  putint(pagemain, 1089, g.endframe);
  movieinfo();
  filelength();
  say(" frame range set to all frames in video");
}

// The average bitrate that gives a file length (kbytes of 1,024 bytes) over the frames to
// encode, at most the maximum; the file length shown is then the one filelength gives for that
// average, so the two never disagree. Without a source there is nothing to compute with.
void filelengthedit() {
  guisettingsrec& g = guisettings;
  int kbytes = g.filekbytes;
  readint(pagemain, 1086, kbytes);
  kbytes = std::max(kbytes, 1);
  g.filekbytes = kbytes;
  putint(pagemain, 1086, kbytes, 12);
  const float seconds = (float)g.framespan / g.sourcefps;
  if (!movieinfovalid || !(seconds > 0.0f) || !std::isfinite(seconds)) return;
  // kbytes x 8 x 1.024 is kbits; single precision, each step to the nearest integer.
  const float kbits = (float)std::llround((float)kbytes * 8.192f);
  int average = nearestint(kbits / seconds);
  readint(pagemain, 1018, g.maxkbits);
  average = std::min(average, g.maxkbits);
  g.avgkbits = average;
  putint(pagemain, 1087, average, 12);
  filelength();
}

void averageedit() {
  guisettingsrec& g = guisettings;
  readint(pagemain, 1087, g.avgkbits);
  putint(pagemain, 1087, g.avgkbits);
  readint(pagemain, 1018, g.maxkbits);
  g.maxkbits = std::max(g.maxkbits, g.avgkbits);
  putint(pagemain, 1018, g.maxkbits);
  filelength();
}

void maximumedit() {
  guisettingsrec& g = guisettings;
  readint(pagemain, 1087, g.avgkbits);
  readint(pagemain, 1018, g.maxkbits);
  putint(pagemain, 1018, g.maxkbits);
  g.avgkbits = std::min(g.avgkbits, g.maxkbits);
  putint(pagemain, 1087, g.avgkbits);
  // A lowered average changes the estimate.
  filelength();
}

void frameedit(bool start) {
  guisettingsrec& g = guisettings;
  readint(pagemain, 1088, g.startframe);
  readint(pagemain, 1089, g.endframe);
  if (start) {
    g.startframe = std::min(std::max(g.startframe, 0), g.endframe);
  } else {
    if (g.endframe >= g.sourceframes) g.endframe = g.sourceframes - 1;
    g.endframe = std::max(g.endframe, g.startframe);
  }
  g.framespan = g.endframe - g.startframe + 1;
  if (start) putint(pagemain, 1088, g.startframe);
  else putint(pagemain, 1089, g.endframe);
  movieinfo();
  filelength();
}

// ---- Settings 1 ----

constexpr int longestgop = 36;  // pictures: the longest GOP the encoder codes

void gopmessage(int length, const char* warning) {
  if (length <= 15) clearinfo();
  else if (length <= 18) say(std::string(" ") + warning + ", GOP length not valid for PAL");
  else say(std::string(" ") + warning + ", GOP length not valid for PAL and NTSC");
}

// A number edit with its spin (GOP length 1045 with 1023, B frames 1544 with 1024): the spin
// holds the former value.
int spinedit(int edit, int spin, int lo, int hi) {
  dialogrecord& p = dlgof(pagesettings1);
  int v = dlggetint(p, spin);
  readint(pagesettings1, edit, v);
  v = std::clamp(v, lo, hi);
  putint(pagesettings1, edit, v);
  dlgputint(p, spin, v);
  return v;
}

void cqbox() {
  if (ticked(pagesettings1, 1055)) {
    enable(pagesettings1, {1056, 1057, 1038, 1037, 1109, 1110}, true);
    enable(pagemain, {1085, 1033, 1086, 1087, 1018}, false);
    enable(pagesettings2, {1035}, false);
    say(" 1 pass constant quantization turned on, you might consider turning on -check VBV/max bitrate- also");
  } else {
    enable(pagesettings1, {1056}, false);
    tick(pagesettings1, 1057, false);
    enable(pagesettings1, {1057, 1038, 1037, 1109, 1110}, false);
    enable(pagemain, {1085}, true);
    tick(pagemain, 1085);
    enable(pagemain, {1033}, true);
    enable(pagemain, {1086}, false);
    enable(pagemain, {1087, 1018}, true);
    enable(pagesettings2, {1035}, true);
    say(" constant quantization turned off");
  }
}

// The quantiser of P (or B) pictures that a factor spin gives: the factor of its position into
// its edit, then the quantiser edit times the factor within 1..31.
void factorspin(dialogrecord& dlg, int spin) {
  if (!ticked(pagesettings1, 1055)) return;
  // The quantiser edit loses the focus and is normalised before it is read.
  dlgsetfocus(dlg, spin);
  const bool p = spin == 1109;
  const float factor = factortable[std::clamp(dlggetint(dlg, spin), 1, 32) - 1];
  (p ? guisettings.guipfactor : guisettings.guibfactor) = factor;
  putreal(pagesettings1, p ? 1038 : 1037, factor, 5, 2);
  float value = 0;
  if (!readreal(pagesettings1, 1056, value)) {
    say(" WARNING, invalid CQ value, not a number");
    return;
  }
  const float q = std::min(31.0f, std::max(1.0f, value * factor));
  say(std::string(p ? " Constant Quantization for P-frames set " : " Constant Quantization for B-frames set ") +
      trimright(adjustleft(fmtfixed(q, 8, 3))));
}

// The constant quantiser edit: its text read into the model when it gains the focus, and
// normalised (1..31, three decimals) when it loses it.
void quantiseredit(int event) {
  if (event == evgainfocus) {
    readreal(pagesettings1, 1056, guisettings.guicq);
    clearinfo();
  } else if (event == evlosefocus) {
    readreal(pagesettings1, 1056, guisettings.guicq);
    guisettings.guicq = std::clamp(guisettings.guicq, 1.0f, 31.0f);
    putreal(pagesettings1, 1056, guisettings.guicq, 8, 3);
  }
}

// ---- Settings 2 ----

// The luminance gain 0..4: the trackbar and the edit beside it in step; a gain switches the
// adaptive matrix of the Matrix page off.
void luminance(int gain) {
  static const char* const texts[5] = {" no change on dark scenes", " mild matrix change on dark scenes",
                                       " moderate matrix change on dark scenes", " heavy matrix change on dark scenes",
                                       " hit dark scenes real hard..."};
  guisettings.guilumgain = gain;
  putint(pagesettings2, 1056, gain, 1);
  dlgputint(dlgof(pagesettings2), 1012, gain);
  say(texts[gain]);
  if (gain == 0) {
    enable(pagematrix, {1025}, true);
    return;
  }
  const bool adaptive = ticked(pagematrix, 1025);
  tick(pagematrix, 1025, false);
  enable(pagematrix, {1025}, false);
  if (adaptive) sayalso(", adaptive matrix disabled");
}

// A time code edit 1031..1034: hours up to 23, the others up to 59 (no lower bound here).
void timecodeedit(int id) {
  static const char* const names[4] = {"hour", "minute", "second", "frame"};
  const int i = id - 1031;
  const int most = i == 0 ? 23 : 59;
  int& v = guisettings.guitimecode[i];
  readint(pagesettings2, id, v);
  const bool corrected = v > most;
  v = std::min(v, most);
  putint(pagesettings2, id, v);
  if (corrected) say(std::string(" ") + names[i] + " timecode corrected, set to the maximum: " + std::to_string(most));
  else clearinfo();
}

void capedit(int id, int& word, int most) {
  readint(pagesettings2, id, word);
  word = std::min(word, most);
  putint(pagesettings2, id, word);
  clearinfo();
}

void cpuradio(const char* text) {
  static const char* const levels[5] = {"", ", CPU identified as MMX", ", CPU identified as MMX/SSE2",
                                        ", CPU identified as MMX/SSE2/SSE3",
                                        ", CPU identified as MMX/SSE2/SSE3/SSSE3"};
  say(text);
  const int level = guisettings.cpulevel;
  if (level >= 1 && level <= 4) sayalso(levels[level]);
}

void onoff(int page, int id, const char* on, const char* off) { say(ticked(page, id) ? on : off); }

std::string scdmessage() {
  const std::string out = trimright(outputpath);
  std::string name = "(output name)_scd.txt";
  if (outputset && !out.empty()) {
    name = scdfilename(out);
    name = name.substr(name.find_last_of('/') + 1);  // beside the output
  }
  return " writing scene change detection file turned on, file name: " + name;
}
}  // namespace

void mainclick(dialogrecord& dlg, int id, int event) {
  switch (id) {
    case 1085:
      if (!ticked(pagemain, 1085)) break;
      enable(pagemain, {1086}, false);
      enable(pagemain, {1087, 1018}, true);
      say(" please set average and maximum bitrate");
      break;
    case 1033:
      if (!ticked(pagemain, 1033)) break;
      enable(pagemain, {1086}, true);
      enable(pagemain, {1087}, false);
      enable(pagemain, {1018}, true);
      say(" please set file length and maximum bitrate");
      break;
    case 1111: allframes(); break;
    case 1040:
      onoff(pagemain, 1040, " scene change detection turned on, new closed GOP on every scene change",
            " scene change detection turned off");
      break;
    case 1077: autogopbox(); break;
    case 1112: autogopspin(); break;
    case 1090:
      onoff(pagemain, 1090, " closedgops turned on, every GOP will be closed", " closedgops turned off");
      break;
    case 1041: interlacedbox(); break;
    case 1044: pulldownbox(); break;
    case 1078: say(" fastest encode, lowest quality but still pretty good :)"); break;
    case 1079: say(" normal speed encode, normal quality"); break;
    case 1080: say(" slowest encode, high quality"); break;
    case 1046: say(" dc precision 8 set, recommended for low bitrate"); break;
    case 1047: say(" dc precision 9 set, recommended for normal bitrate"); break;
    case 1048: say(" dc precision 10 set, recommended for high bitrate"); break;
    case 1049: say(" dc precision 11 set, NOT DVD-COMPLIANT !!"); break;
    case 1081: aspect(1, " aspect ratio set to 1:1, NOT DVD-COMPLIANT !!"); break;
    case 1082: aspect(2, " aspect ratio set to 4:3"); break;
    case 1083: aspect(3, " aspect ratio set to 16:9"); break;
    case 1084: aspect(4, " aspect ratio set to 2.21:1, NOT DVD-COMPLIANT !!"); break;
    case 1011:
      setdefaults();
      // The defaults cleared the mask and set 16:9: the preview follows.
      maskfrompage();
      redrawpreview();
      say(" all values reset to default");
      break;
    case 1091:
      say(" possible non-DVD compliant settings fixed");
      makedvd();
      dvdcheck();
      redrawpreview();
      break;
    case 1092: encoderinfo(); break;
    case 1093: avsinfo(); break;
    case 1094: decoderinfo(); break;
    default:
      break;
  }
}

void mainfocus(dialogrecord& dlg, int id, int event) {
  guisettingsrec& g = guisettings;
  // The text the program wrote last is the former value an unreadable entry goes back to.
  switch (id) {
    case 1018: readint(pagemain, id, g.maxkbits); break;
    case 1086: readint(pagemain, id, g.filekbytes); break;
    case 1087: readint(pagemain, id, g.avgkbits); break;
    case 1088: readint(pagemain, id, g.startframe); break;
    case 1089: readint(pagemain, id, g.endframe); break;
    default: return;
  }
  clearinfo();
}

void mainedit(dialogrecord& dlg, int id, int event) {
  switch (id) {
    case 1087: averageedit(); break;
    case 1018: maximumedit(); break;
    case 1086: filelengthedit(); break;
    case 1088: frameedit(true); break;
    case 1089: frameedit(false); break;
    default: break;
  }
}

void set1click(dialogrecord& dlg, int id, int event) {
  switch (id) {
    case 1092: say(" Top Field First flagged, only applicable for interlaced encoding"); break;
    case 1093: say(" Bottom Field First flagged, only applicable for interlaced encoding"); break;
    case 1019: say(" scanning set to zigzag, recommended for progressive video"); break;
    case 1020: say(" scanning set to alternate, recommended for interlaced video"); break;
    case 1023: {
      const int length = dlggetint(dlg, 1023);
      putint(pagesettings1, 1045, length);
      guisettings.guigoplength = length;
      gopmessage(length, "WARNING !!");
      break;
    }
    case 1045:
      guisettings.guigoplength = spinedit(1045, 1023, 1, longestgop);
      gopmessage(guisettings.guigoplength, "WARNING");
      break;
    case 1024:
      guisettings.guibframes = dlggetint(dlg, 1024);
      putint(pagesettings1, 1544, guisettings.guibframes);
      clearinfo();
      break;
    case 1544:
      guisettings.guibframes = spinedit(1544, 1024, 0, 2);
      clearinfo();
      break;
    case 1057:
      enable(pagemain, {1018}, ticked(pagesettings1, 1057));
      onoff(pagesettings1, 1057, " check VBV/max bitrate turned on, maximum bitrate set will not be exceeded",
            " check VBV/max bitrate turned off");
      break;
    case 1055: cqbox(); break;
    case 1109:
    case 1110: factorspin(dlg, id); break;
    case 1056: quantiseredit(event); break;
    default: break;
  }
  showini();
}

void set2click(dialogrecord& dlg, int id, int event) {
  switch (id) {
    case 1012: luminance(std::clamp(dlggetint(dlg, 1012), 0, 4)); break;
    case 1031:
    case 1032:
    case 1033:
    case 1034: timecodeedit(id); break;
    case 1017: capedit(1017, guisettings.guiwait, 99); break;
    case 1035: capedit(1035, guisettings.guibias, 100); break;
    case 1050: cpuradio(" auto detection of CPU extensions"); break;
    case 1051: cpuradio(" CPU is forced to use MMX/ISSE extensions"); break;
    case 1052: cpuradio(" CPU is forced to use SSE2 extensions"); break;
    case 1053: cpuradio(" CPU is forced to use SSE3 extensions"); break;
    case 1010: cpuradio(" CPU is forced to use SSSE3 extensions"); break;
    case 1039:
      onoff(pagesettings2, 1039, " shutdown turned on, system will shutdown in 300 sec after encoding finishes",
            " shutdown turned off");
      break;
    case 2022: {
      const bool silent = ticked(pagesettings2, 2022);
      if (silent) tick(pagesettings2, 2021, false);
      enable(pagesettings2, {2021}, !silent);
      say(silent ? " turns off the encoder GUI, background encode" : " turns on the encoder GUI (default)");
      break;
    }
    case 2021:
      onoff(pagesettings2, 2021, " turns on the preview window in the encoder",
            " turns off the preview window in the encoder (default)");
      break;
    case 2023:
      say(ticked(pagesettings2, 2023) ? scdmessage() : " writing scene change detection file turned off");
      break;
    case 1022:
      onoff(pagesettings2, 1022, " sequence end code turned on, an end of sequence header will be written",
            " sequence end code turned off, no end of sequence header will be written");
      break;
    case 1021: onoff(pagesettings2, 1021, " VBV checking turned on", " VBV checking turned off"); break;
    case 1018:
      onoff(pagesettings2, 1018, " last I-frame turned on, last frame will be encoded as an I-frame",
            " last I-frame turned off");
      break;
    default:
      break;
  }
  showini();
}

void set2focus(dialogrecord& dlg, int id, int event) {
  guisettingsrec& g = guisettings;
  switch (id) {
    case 1036: readint(pagesettings2, id, g.guimask[0]); break;
    case 1044: readint(pagesettings2, id, g.guimask[1]); break;
    case 1045: readint(pagesettings2, id, g.guimask[2]); break;
    case 1056: readint(pagesettings2, id, g.guilumgain); break;
    default: return;
  }
  clearinfo();
}

void set2edit(dialogrecord& dlg, int id, int event) {
  guisettingsrec& g = guisettings;
  switch (id) {
    case 1045:
      // Lines the picture moves up (down when negative), at most the tallest picture.
      readint(pagesettings2, id, g.guimask[2]);
      g.guimask[2] = std::clamp(g.guimask[2], -previewmaxheight, previewmaxheight);
      putint(pagesettings2, id, g.guimask[2], 6);
      redrawpreview();
      break;
    case 1036:
    case 1044: {
      // Masked lines come in pairs (a chroma row is two luma rows): an odd count goes one down.
      int& lines = g.guimask[id == 1036 ? 0 : 1];
      readint(pagesettings2, id, lines);
      if (lines % 2 != 0) lines--;
      putint(pagesettings2, id, lines, 6);
      redrawpreview();
      break;
    }
    case 1056:
      readint(pagesettings2, id, g.guilumgain);
      luminance(std::clamp(g.guilumgain, 0, 4));
      break;
    default:
      break;
  }
  showini();
}
