#include "tests/frontend/pagestates.h"

#include "common/fmtfield.h"
#include "dialogs/dialogs.h"
#include "frontend/settings/settings.h"
#include "frontend/window/front.h"
#include "tests/support/blackbox.h"

std::string kv(const std::string& key, const std::string& value) { return fmtlabel(key, 18) + value; }
void tick(int page, int id, bool on) { dlgputflag(dlgof(page), id, on); }
void enable(int page, int id, bool on) { dlgputflag(dlgof(page), id, on, ixenabled); }
void settext(int page, int id, const std::string& text) { dlgputtext(dlgof(page), id, text); }

std::vector<std::string> filelines(const std::string& path) {
  std::vector<std::string> v;
  std::string t = readfile(path);
  size_t a = 0;
  for (size_t b; (b = t.find('\n', a)) != std::string::npos; a = b + 1) v.push_back(t.substr(a, b - a));
  if (a < t.size()) v.push_back(t.substr(a) + "<no line end>");
  return v;
}

std::string is(bool b) { return b ? "1" : "0"; }
std::string property(const want& w) {
  dialogrecord& d = dlgof(w.page);
  switch (w.what) {
    case 't': return is(dlggetflag(d, w.id));
    case 'e': return is(dlggetflag(d, w.id, ixenabled));
    case 'x': return trimright(dlggettext(d, w.id, 80));
    default:
      return std::to_string(dlggetint(d, w.id, ixmin)) + " " + std::to_string(dlggetint(d, w.id, ixmax)) + " " +
             std::to_string(dlggetint(d, w.id));
  }
}

void sourceopen() {
  const bool cq = dlggetflag(dlgof(pagesettings1), 1055), vbv = dlggetflag(dlgof(pagesettings1), 1057);
  for (int id : {1085, 1033, 1087}) enable(pagemain, id, !cq);
  enable(pagemain, 1018, !cq || vbv);
}

namespace {
void frames(const char* start, const char* end) {
  settext(pagemain, 1088, start);
  settext(pagemain, 1089, end);
}
void gop(const char* length, const char* bframes) {
  tick(pagemain, 1077, false);
  settext(pagesettings1, 1045, length);
  settext(pagesettings1, 1544, bframes);
}
void cq(const char* value, bool vbv) {
  tick(pagesettings1, 1055);
  settext(pagesettings1, 1056, value);
  tick(pagesettings1, 1057, vbv);
  sourceopen();  // the maximum bitrate holds the stream only with the VBV check
  enable(pagesettings2, 1035, false);  // the VBR bias means nothing at a constant quantiser
}
}  // namespace

std::vector<pagestate> pagestates() {
  const std::string b4000 = kv("*BITRATE", "4000"), m8000 = kv("*MAXBITRATE", "8000");
  const std::string autogop = kv("*AUTOGOP", "15  "), mpeg = kv("*MATRIX", "mpeg");
  return {
      {"defaults with a frame range, no source: the maximum's edit is disabled", [] { frames("0", "999"); },
       {b4000, kv("*FRAMES", "0 999"), autogop, mpeg}},
      {"defaults with a frame range and a source", [] { sourceopen(); frames("0", "999"); },
       {b4000, m8000, kv("*FRAMES", "0 999"), autogop, mpeg}},
      {"fast, 1:1, dc 8, interlaced top field first with zigzag, closed, no scene cuts",
       [] {
         sourceopen();
         frames("  25", "99");
         tick(pagemain, 1078);
         tick(pagemain, 1081);
         tick(pagemain, 1046);
         tick(pagemain, 1041);
         tick(pagesettings1, 1092);
         tick(pagemain, 1090);
         tick(pagemain, 1040, false);
         settext(pagemain, 1087, " 6000");
         settext(pagemain, 1018, "9000");
         settext(pagemain, 1113, "18");
       },
       {kv("*BITRATE", "6000"), kv("*MAXBITRATE", "9000"), kv("*FRAMES", "25 99"), kv("*PROFILE", "fast"),
        kv("*ASPECT", "1:1"), kv("*AUTOGOP", "18  "), kv("*DC_PREC", "8"), "*INTERLACED", "*TFF",
        kv("*SCANMETHOD", "zigzag"), "*NOSCD", "*CLOSEDGOPS", mpeg}},
      {"best, 4:3, dc 10, bottom field first with alternate scan, every box of Settings 2, KJLOW",
       [] {
         sourceopen();
         tick(pagemain, 1080);
         tick(pagemain, 1082);
         tick(pagemain, 1048);
         tick(pagemain, 1041);
         tick(pagesettings1, 1093);
         tick(pagesettings1, 1020);
         tick(pagesettings2, 1021, false);
         tick(pagesettings2, 1022, false);
         tick(pagesettings2, 2023);
         settext(pagesettings2, 1035, "150");
         settext(pagesettings2, 1036, "8");
         settext(pagesettings2, 1044, "8");
         settext(pagesettings2, 1045, "-2");
         tick(pagematrix, 1025);
         tick(pagesettings2, 1018);
         tick(pagesettings2, 2021);
         settext(pagesettings2, 1031, "25");
         guisettings.matrixindex = 12;
         settext(pagesettings2, 1056, "2");
         tick(pagesettings2, 1053);
         settext(pagesettings2, 1017, "0");
         tick(pagesettings2, 1039);
       },
       {b4000, m8000, kv("*PROFILE", "best"), kv("*ASPECT", "4:3"), autogop, kv("*DC_PREC", "10"), "*INTERLACED",
        "*BFF", "*NOVBV", "*NOSEQ_ENDCODE", "*SCDFILE", kv("*BIAS", "100"), kv("*MASK_SHIFT", "8 8 -2"),
        "*ADAPTIVEMATRIX", "*LASTIFRAME", "*PREVIEW", kv("*TIMECODE", "23  0  0  0"), kv("*MATRIX", "kjlow"),
        kv("*LUMGAIN", "2"), kv("*CPU", "sse3"), kv("*WAIT", "0"), "*SHUTDOWN"}},
      {"2.21:1, dc 11, progressive alternate scan, pulldown, silent, fixed GOP, chapters, zones, custom pair",
       [] {
         sourceopen();
         tick(pagemain, 1084);
         tick(pagemain, 1049);
         tick(pagesettings1, 1020);
         tick(pagemain, 1044);
         tick(pagesettings2, 2022);
         gop("12", "1");
         tick(pagesettings2, 1010);
         settext(pagesettings2, 1017, "150");
         settext(pagesettings2, 1031, "1");
         chaptertable.count = 3;
         chaptertable.frames[1] = 0, chaptertable.frames[2] = 250, chaptertable.frames[3] = 639999;
         zonetable.count = 2;
         zonetable.frames[1] = 10, zonetable.factors[1] = 0.5f;
         zonetable.frames[2] = 1500, zonetable.factors[2] = 1.5f;
         tick(pagematrix, 1011);
         for (int i = 0; i < 64; i++) {
           custommatrix.intra[i] = i == 0 ? 8 : 8 + 3 * i;
           custommatrix.nonintra[i] = 16 + i;
         }
         custommatrix.nonintra[63] = 255;
       },
       {b4000, m8000, kv("*ASPECT", "2.21:1"), kv("*GOP", "12 1"), kv("*DC_PREC", "11"), kv("*SCANMETHOD", "alt"),
        "*PULLDOWN", "*SILENT", kv("*TIMECODE", "1  0  0  0"), "*CUSTOMMATRIX",
        "   8  11  14  17  20  23  26  29", "  32  35  38  41  44  47  50  53", "  56  59  62  65  68  71  74  77",
        "  80  83  86  89  92  95  98 101", " 104 107 110 113 116 119 122 125", " 128 131 134 137 140 143 146 149",
        " 152 155 158 161 164 167 170 173", " 176 179 182 185 188 191 194 197", "",
        "  16  17  18  19  20  21  22  23", "  24  25  26  27  28  29  30  31", "  32  33  34  35  36  37  38  39",
        "  40  41  42  43  44  45  46  47", "  48  49  50  51  52  53  54  55", "  56  57  58  59  60  61  62  63",
        "  64  65  66  67  68  69  70  71", "  72  73  74  75  76  77  78 255", kv("*CPU", "ssse3"),
        kv("*WAIT", "99"), kv("*CHAPTER", "3"), "0", "250", "639999", kv("*ZONE", "2"), "10         0.5",
        "1500       1.5"}},
      {"a constant quantiser with its factors, 1.0 written in its field of 4",
       [] {
         sourceopen();
         cq("3.5", false);
         settext(pagesettings1, 1038, "1.0");
         settext(pagesettings1, 1037, "1.50");
         tick(pagesettings2, 1051);
         gop("9", "  2");
       },
       {kv("*GOP", "9 2"), kv("*CQ", "3.5"), kv("*CQ_PFACTOR", "1.0 "), kv("*CQ_BFACTOR", "1.50"), mpeg,
        kv("*CPU", "mmx")}},
      {"a constant quantiser under the maximum bitrate, the other matrices by name",
       [] {
         sourceopen();
         cq("4.000", true);
         settext(pagesettings1, 1038, "0.75");
         guisettings.matrixindex = 16;
         tick(pagesettings2, 1052);
         settext(pagesettings2, 1034, "7");
       },
       {m8000, autogop, kv("*CQ_MAXBITRATE", "4.000"), kv("*CQ_PFACTOR", "0.75"), kv("*TIMECODE", "0  0  0  7"),
        kv("*MATRIX", "mpegstd"), kv("*CPU", "sse2")}},
      {"the Matrix page's numbers of the pairs named apart from the encoder's",
       [] { sourceopen(); guisettings.matrixindex = 2; },
       {b4000, m8000, autogop, kv("*MATRIX", "tgn")}},
      {"KJ", [] { sourceopen(); guisettings.matrixindex = 4; }, {b4000, m8000, autogop, kv("*MATRIX", "kj")}},
      {"TOLV1", [] { sourceopen(); guisettings.matrixindex = 5; }, {b4000, m8000, autogop, kv("*MATRIX", "tolv1")}},
      {"MIRDO1CD", [] { sourceopen(); guisettings.matrixindex = 6; }, {b4000, m8000, autogop, kv("*MATRIX", "mirdo1cd")}},
  };
}
