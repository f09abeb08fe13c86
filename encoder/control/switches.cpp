#include "encoder/control/switches.h"

#include <algorithm>
#include <cstring>

#include "dialogs/dialogs.h"
#include "encoder/control/advisory.h"
#include "encoder/control/control.h"
#include "encoder/control/inireader.h"
#include "common/listread.h"
#include "common/matrices.h"
#include "encoder/control/settings.h"

std::string switchtexts[switchslots];
std::vector<std::string> strangewords;

namespace {

constexpr size_t wordlength = 256;  // a switch word is compared as a 256-character text

enum switchkind { valuekind, pairkind, flagkind };

struct switchdef {
  const char* word;
  int slot;
  switchkind kind;
};

constexpr switchdef switchtable[] = {
    {"-i", slotinput, valuekind},
    {"-o", slotoutput, valuekind},
    {"-b", slotbitrate, valuekind},
    {"-maxbitrate", slotmaxbitrate, valuekind},
    {"-aspectratio", slotaspect, valuekind},
    {"-gop", slotgoplength, pairkind},
    {"-profile", slotprofile, valuekind},
    {"-scene", slotscene, flagkind},
    {"-noscene", slotscene, flagkind},
    {"-interlaced", slotinterlaced, flagkind},
    {"-nointerlaced", slotinterlaced, flagkind},
    {"-ini", slotini, valuekind},
    {"-log", slotlog, valuekind},
    {"-tff", slottff, flagkind},
    {"-bff", slotbff, flagkind},
    {"-matrix", slotmatrix, valuekind},
    {"-bias", slotbias, valuekind},
    {"-dc_prec", slotdcprec, valuekind},
    {"-frames", slotfirstframe, pairkind},
    {"-chapter", slotchapter, valuekind},
    {"-cq", slotcq, valuekind},
    {"-cq_maxbitrate", slotcqmbr, valuekind},
    {"-cq_pfactor", slotcqpfactor, valuekind},
    {"-cq_bfactor", slotcqbfactor, valuekind},
    {"-pulldown", slotpulldown, flagkind},
};

std::string lowered(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

// The one window write of this file; every caller has checked showwindow.
void putshown(int id, const std::string& text) {
  if (maindialog) dlgputtext(*maindialog, id, text);
}

int keywordvalue(const std::string& text, const std::pair<const char*, int>* words, size_t n,
                 int otherwise) {
  for (size_t i = 0; i < n; ++i)
    if (text == words[i].first) return words[i].second;
  return otherwise;
}

const std::pair<const char*, int> aspectwords[] = {{"1:1", 1},    {"4:3", 2},    {"3:4", 2},
                                                   {"16:9", 3},   {"9:16", 3},   {"2.21:1", 4},
                                                   {"1:2.21", 4}, {"2:21", 4}};
const std::pair<const char*, int> profilewords[] = {
    {"fast", 1}, {"normal", 2}, {"good", 2}, {"best", 4}};
const std::pair<const char*, int> matrixwords[] = {
    {"mpeg", 1},     {"kj", 2},       {"notch", 3},    {"tgn", 4},      {"mirdo1cd", 5},
    {"tolv1", 6},    {"hvsgood", 7},  {"hvsbetter", 8}, {"hvsbest", 9}, {"zelmat6", 10},
    {"zelmat7", 11}, {"kjlow", 12},   {"kiv1", 13},    {"kiv2", 14},    {"kiv3", 15},
    {"mpegstd", 16}};

template <size_t n>
int keywordvalue(const std::string& text, const std::pair<const char*, int> (&words)[n],
                 int otherwise) {
  return keywordvalue(text, words, n, otherwise);
}

bool readint(int slot, int& v) { return readints(switchtexts[slot], &v, 1) == listok; }
bool readreal(int slot, float& v) { return readreals(switchtexts[slot], &v, 1) == listok; }

}  // namespace

std::string switchvalue(int slot) {
  const std::string& s = switchtexts[slot];
  size_t e = s.find_last_not_of(' ');
  return e == std::string::npos ? std::string() : s.substr(0, e + 1);
}

bool switchgiven(int slot) {
  return switchtexts[slot].find_first_not_of(' ') != std::string::npos;
}

void getargs(int argc, const char* const* argv) {
  settings.inputgiven = settings.outputgiven = false;
  settings.bitrategiven = settings.maxbitrategiven = false;
  settings.logfileon = settings.chapterfilegiven = false;
  settings.inifilegiven = settings.iniused = false;
  settings.cqmode = settings.cqmbrmode = false;
  settings.avsinput = settings.d2vinput = false;
  shutdownflag.store(false);
  for (std::string& t : switchtexts) t.clear();
  strangewords.clear();
  settings.argcount = argc;

  for (int i = 1; i < argc; ++i) {
    std::string word = argv[i] ? argv[i] : "";
    if (word.size() > wordlength) word.resize(wordlength);
    word = lowered(word);
    // Blank-padded equality: trailing blanks of the word do not count.
    size_t e = word.find_last_not_of(' ');
    word = e == std::string::npos ? std::string() : word.substr(0, e + 1);
    bool known = false;
    for (const switchdef& s : switchtable) {
      if (word != s.word) continue;
      known = true;
      if (s.kind == flagkind) {
        switchtexts[s.slot] = word;
      } else {
        if (i + 1 < argc) switchtexts[s.slot] = argv[++i] ? argv[i] : "";
        if (s.kind == pairkind && i + 1 < argc) switchtexts[s.slot + 1] = argv[++i] ? argv[i] : "";
      }
      break;
    }
    if (!known) strangewords.push_back(argv[i] ? argv[i] : "");
  }
  settings.inifilegiven = switchgiven(slotini);
}

int helpasked(int argc, const char* const* argv) {
  for (int i = 1; i < argc; ++i) {
    const std::string word = lowered(argv[i] ? argv[i] : "");
    if (word == "-h" || word == "--help") return 1;
    if (word == "--version") return 2;
    // A value word is taken whatever it is ("-o -h" names the output "-h").
    for (const switchdef& s : switchtable)
      if (word == s.word && s.kind != flagkind) i += s.kind == pairkind ? 2 : 1;
  }
  return 0;
}

int parseargs() {
  int v = 0;
  float r = 0.0f;
  const std::string cmd = fromcommandline();
  // The words that are no switch are ignored, each said once.
  for (const std::string& w : strangewords)
    advisories.push_back({" WARNING, \"" + w + "\" " + cmd + (w.size() > 1 && w[0] == '-' ? " is no switch" : " is no switch and no switch's value") + " (ostrel -h lists them), ignored", -1});
  if (switchgiven(slotinput)) {
    settings.inpath = switchvalue(slotinput);
    settings.inputgiven = true;
  }
  if (switchgiven(slotoutput)) {
    settings.outpath = switchvalue(slotoutput);
    settings.outputgiven = true;
  }
  // Bitrates in kbit/s; kept where their bit/s value fits an int32.
  if (switchgiven(slotbitrate)) {
    if (!readint(slotbitrate, v)) return 512;
    settings.bitrate = clampnoted(v, 50, maxkbitrate, "-b", cmd, -1, " kbit/s") * 1000;
    settings.bitrategiven = true;
  }
  if (switchgiven(slotmaxbitrate)) {
    if (!readint(slotmaxbitrate, v)) return 513;
    settings.maxbitrate = clampnoted(v, 50, maxkbitrate, "-maxbitrate", cmd, -1, " kbit/s") * 1000;
    settings.maxbitrategiven = true;
  }
  if (switchgiven(slotaspect)) {
    settings.aspect = keywordvalue(switchvalue(slotaspect), aspectwords, 0);
    if (settings.aspect == 0) {
      settings.aspect = 3;
      unknownword("-aspectratio", switchvalue(slotaspect), cmd, "1:1, 4:3, 16:9, 2.21:1", "16:9");
    }
  }
  if (switchgiven(slotgoplength)) {
    if (!readint(slotgoplength, v)) return 521;
    settings.goplength = clampnoted(v, 1, maxgoplength, "-gop length", cmd, -1, " pictures");
    settings.autogop = false;
  }
  if (switchgiven(slotgopb)) {
    if (!readint(slotgopb, v)) return 522;
    settings.bframes = clampnoted(v, 0, 2, "-gop B pictures", cmd);
  }
  if (switchgiven(slotprofile)) {
    settings.profile = keywordvalue(lowered(switchvalue(slotprofile)), profilewords, 0);
    if (settings.profile == 0) {
      settings.profile = 2;
      unknownword("-profile", switchvalue(slotprofile), cmd, "fast, normal, good, best", "normal");
    }
  }
  if (switchgiven(slotscene)) settings.noscd = switchvalue(slotscene) == "-noscene";

  // Field order and scan method. A field order the file named stays; with "-interlaced" it is
  // the file's own choice (the file may name it without "*INTERLACED").
  if (switchgiven(slotinterlaced)) {
    bool on = switchvalue(slotinterlaced) == "-interlaced";
    settings.interlaced = on;
    if (on) {
      settings.tff = keygiven[keytff] || keygiven[keybff] ? inivalues.tff : true;
      settings.bff = keygiven[keytff] || keygiven[keybff] ? inivalues.bff : false;
    } else {
      if (!keygiven[keytff]) settings.tff = false;
      if (!keygiven[keybff]) settings.bff = true;
    }
  }
  settings.altscan =
      keygiven[keyscanmethod] ? inivalues.scanmethod == 2 : settings.interlaced;

  if (switchgiven(slotlog)) {
    settings.logpath = switchvalue(slotlog);
    settings.logfileon = true;
  }
  if (switchgiven(slottff)) settings.tff = true, settings.bff = false;
  if (switchgiven(slotbff)) settings.tff = false, settings.bff = true;
  if (switchgiven(slotmatrix)) {
    settings.matrixno = keywordvalue(lowered(switchvalue(slotmatrix)), matrixwords, 0);
    if (settings.matrixno == 0) {
      settings.matrixno = 1;
      unknownword("-matrix", switchvalue(slotmatrix), cmd, "the built-in matrices (ostrel -h)", "mpeg");
    }
  }
  if (switchgiven(slotbias)) {
    if (!readint(slotbias, v)) return 514;
    settings.bias = clampnoted(v, 0, 100, "-bias", cmd, -1, " percent");
  }
  if (switchgiven(slotdcprec)) {
    if (!readint(slotdcprec, v)) return 515;
    settings.dcprec = clampnoted(v, 8, 11, "-dc_prec", cmd, -1, " bits") - 8;
  }
  if (switchgiven(slotfirstframe)) {
    if (!readint(slotfirstframe, v)) return 516;
    settings.firstframe = v;
  }
  if (switchgiven(slotlastframe)) {
    if (!readint(slotlastframe, v)) return 517;
    settings.lastframe = v;
  }
  if (switchgiven(slotchapter)) {
    settings.chapterpath = switchvalue(slotchapter);
    settings.chapterfilegiven = true;
  }
  // Constant quantisers in the range of quantiser_scale (1..31), as from the file.
  if (switchgiven(slotcq)) {
    if (!readreal(slotcq, r)) return 523;
    settings.cqvalue = clampnoted(r, 1.0f, 31.0f, "-cq", cmd);
    settings.cqmode = true;
    settings.passmode = 1;
  }
  if (switchgiven(slotcqmbr)) {
    if (!readreal(slotcqmbr, r)) return 524;
    settings.cqmbrvalue = clampnoted(r, 1.0f, 31.0f, "-cq_maxbitrate", cmd);
    settings.cqmbrmode = true;
    settings.passmode = 1;
  }
  if (switchgiven(slotcqpfactor)) {
    if (!readreal(slotcqpfactor, r)) return 525;
    settings.cqpfactor = r;
  }
  if (switchgiven(slotcqbfactor)) {
    if (!readreal(slotcqbfactor, r)) return 526;
    settings.cqbfactor = r;
  }
  if (switchgiven(slotpulldown)) settings.pulldown = true;

  if (showwindow.load()) showswitches();
  fillmatrices();
  return 0;
}

void fillmatrices() {
  const builtinpair* p = builtinmatrix(settings.matrixno);
  for (int i = 0; i < 64; ++i) {
    if (p) {
      quantmatrices.intra[i] = p->intra[i];
      quantmatrices.nonintra[i] = p->nonintra[i];
    } else {
      // A weight of 0 would divide by zero in the reciprocals; above 255 the sequence header
      // cannot carry it.
      quantmatrices.intra[i] = static_cast<int16_t>(std::clamp(inivalues.customintra[i], 1, 255));
      quantmatrices.nonintra[i] =
          static_cast<int16_t>(std::clamp(inivalues.customnonintra[i], 1, 255));
    }
  }
  // The intra DC coefficient is quantised by the DC precision, not by the matrix, and the
  // standard wants 8 as the first entry of every intra matrix a stream carries.
  if (!p) quantmatrices.intra[0] = 8;
  basematrices = quantmatrices;
  matrixloadflags(settings.matrixno, settings.adaptivematrix || settings.lumgain > 0,
                  loadintramatrix, loadnonintramatrix);
}

void showswitches() {
  if (!showwindow.load()) return;
  // "arguments passed": one mark per switch given; -tff/-bff and -cq/-cq_maxbitrate share.
  static constexpr std::pair<int, int> marks[] = {
      {slotinput, 1044},     {slotoutput, 1045},     {slotbitrate, 1047}, {slotmaxbitrate, 1048},
      {slotaspect, 1049},    {slotgoplength, 1071},  {slotprofile, 1057}, {slotscene, 1052},
      {slotinterlaced, 1050}, {slotini, 1046},       {slotlog, 1056},     {slottff, 1055},
      {slotbff, 1055},       {slotmatrix, 1058},     {slotbias, 1066},    {slotdcprec, 1067},
      {slotfirstframe, 1072}, {slotchapter, 1070},   {slotcq, 1077},      {slotcqmbr, 1077},
      {slotpulldown, 1078}};
  for (const auto& m : marks)
    if (switchgiven(m.first)) putshown(m.second, "x");

  // "files"
  putshown(1011, settings.inpath);
  putshown(1012, settings.outpath);

  // "encoder settings"
  const bool onepass = settings.passmode == 1;
  putshown(1033, onepass ? "NA" : std::to_string(settings.bitrate / 1000));
  putshown(1032, onepass && settings.cqmode ? "NA" : std::to_string(settings.maxbitrate / 1000));
  putshown(1034, settings.profile == 1 ? "fast" : settings.profile == 4 ? "best" : "normal");
  static const char* const aspects[] = {"1:1", "4:3", "16:9", "2.21:1"};
  putshown(1035, aspects[std::clamp(settings.aspect, 1, 4) - 1]);
  std::string gop = settings.autogop ? "auto"
                                     : std::to_string(settings.goplength) + "-" +
                                           std::to_string(settings.bframes);
  if (settings.closedgops) gop += ", closed";
  putshown(1036, gop);
  putshown(1037, settings.noscd ? "no" : "yes");
  putshown(1038, settings.novbv ? "no" : onepass && settings.cqmode ? "NA" : "yes");
  putshown(1040, settings.adaptivematrix ? "ADAPTIVE" : matrixname(settings.matrixno));
  putshown(1041, std::to_string(settings.dcprec + 8));
  putshown(1043, settings.altscan ? "ALTERNATE" : "ZIGZAG");
  putshown(1042, settings.interlaced ? "yes" : "no");
  if (!settings.interlaced) {
    putshown(1039, "NA");
  } else {
    if (settings.tff) putshown(1039, "TFF");
    if (settings.bff) putshown(1039, "BFF");
  }
  putshown(1079, settings.pulldown ? "yes" : "no");
  putshown(1068, settings.cqmode || settings.cqmbrmode ? "NA" : std::to_string(settings.bias));
}
