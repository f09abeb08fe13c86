// The front end's dialogs: the main dialog 101 with its tab control, status line and three
// buttons, and the six pages that live in the tab control: 102 Main, 103 Settings 1,
// 104 Settings 2, 105 Matrix, 106 Preview/Chapters, 107 Preview/Zones. Positions and sizes in
// dialog units; group boxes come first on each page, so a window backend draws them beneath
// the rest. Labels are statics with id -1; statics with an id hold values the program writes.
// The pages are sized to the tab control's display area, 411 x 238 units.
#include "resources/frontend.h"

#include <iterator>

#include "dialogs/layer.h"

namespace {
#define L(t, x, y, w, h) {ctlstatic, -1, t, x, y, w, h}
#define S(id, t, x, y, w, h) {ctlstatic, id, t, x, y, w, h}
#define B(id, t, x, y, w, h) {ctlpush, id, t, x, y, w, h}
#define C(id, t, x, y, w, h) {ctlcheck, id, t, x, y, w, h}
#define O(id, t, x, y, w, h) {ctlradio, id, t, x, y, w, h}
#define O1(id, t, x, y, w, h) {ctlradio, id, t, x, y, w, h, stylegroup}  // the first of a group
#define E(id, x, y, w, h) {ctledit, id, "", x, y, w, h}
#define N(id, x, y, w, h) {ctledit, id, "", x, y, w, h, styledigits}
#define U(id, x, y, h) {ctlupdown, id, "", x, y, 9, h}
#define G(id, x, y) {ctledit, id, "", x, y, 16, 14, stylecentre | styledigits | stylecell}
#define BOX(t, x, y, w, h) {ctlgroup, -1, t, x, y, w, h}

// ---- 101: the main dialog ----
const dlgitem items101[] = {
    {ctltab, 1006, "", 4, 4, 414, 253},
    B(1011, "about KJ", 4, 261, 58, 14),
    B(1012, "encode", 298, 261, 58, 14),
    B(1013, "exit", 360, 261, 58, 14),
    // The status line: two lines of text across the window.
    {ctlstatic, 1076, "", 4, 279, 414, 20, stylesunken},
};

// ---- 102: Main ----
const dlgitem items102[] = {
    BOX("files", 6, 2, 284, 66),
    BOX("settings", 294, 2, 111, 66),
    BOX("movie info", 6, 70, 150, 84),
    BOX("frame range", 160, 70, 116, 58),
    BOX("video", 160, 130, 116, 24),
    BOX("bitrate", 280, 70, 125, 84),
    BOX("GOP", 6, 156, 150, 62),
    BOX("profile", 160, 156, 56, 62),
    BOX("dc precision", 220, 156, 56, 62),
    BOX("aspect ratio", 280, 156, 125, 62),
    // files
    B(1008, "input file name (*.d2v, *.avs)", 12, 12, 272, 14),
    B(1029, "output file name (not set)", 12, 30, 272, 14),
    B(1030, "log file name (not set)", 12, 48, 272, 14),
    // settings files
    B(1012, "load KJ.ini", 300, 12, 48, 14),
    B(1013, "save KJ.ini", 351, 12, 48, 14),
    B(1009, "load ini file", 300, 30, 48, 14),
    B(1010, "save ini file", 351, 30, 48, 14),
    B(1011, "reset GUI to default", 300, 48, 99, 14),
    // movie info: the source, then the source and the part encoded side by side
    L("width x height", 12, 81, 52, 8),
    S(1099, "-", 66, 81, 88, 8),
    L("frame rate", 12, 92, 52, 8),
    S(1101, "-", 66, 92, 88, 8),
    L("movie", 66, 105, 42, 8),
    L("encoding", 110, 105, 44, 8),
    L("frames", 12, 116, 52, 8),
    S(1098, "-", 66, 116, 42, 8),
    S(1106, "-", 110, 116, 44, 8),
    L("length, sec", 12, 127, 52, 8),
    S(1102, "-", 66, 127, 42, 8),
    S(1104, "-", 110, 127, 44, 8),
    L("length, hms", 12, 138, 52, 8),
    S(1103, "-", 66, 138, 42, 8),
    S(1105, "-", 110, 138, 44, 8),
    // frame range
    L("start frame", 166, 82, 44, 8),
    N(1088, 212, 80, 58, 12),
    L("end frame", 166, 96, 44, 8),
    N(1089, 212, 94, 58, 12),
    B(1111, "all frames", 212, 110, 58, 14),
    // video
    C(1041, "interlaced", 166, 140, 46, 10),
    C(1044, "3:2 pulldown", 214, 140, 58, 10),
    // bitrate
    O(1085, "average bitrate", 286, 80, 113, 10),
    O(1033, "file length", 286, 91, 113, 10),
    L("average (kb/s)", 286, 106, 64, 8),
    N(1087, 352, 104, 47, 12),
    L("maximum (kb/s)", 286, 120, 64, 8),
    N(1018, 352, 118, 47, 12),
    L("file length in kbytes", 286, 134, 64, 8),
    N(1086, 352, 132, 47, 12),
    // GOP
    C(1040, "scene change", 12, 167, 68, 10),
    C(1090, "closed gops", 84, 167, 66, 10),
    C(1077, "autogop", 12, 182, 44, 10),
    L("max. length", 60, 183, 44, 8),
    N(1113, 104, 181, 22, 12),
    U(1112, 126, 181, 12),
    // profile
    O(1078, "Fast", 166, 167, 46, 10),
    O(1079, "Normal", 166, 178, 46, 10),
    O(1080, "Best", 166, 189, 46, 10),
    // dc precision
    O1(1046, "8", 226, 167, 44, 10),
    O(1047, "9", 226, 178, 44, 10),
    O(1048, "10", 226, 189, 44, 10),
    O(1049, "11", 226, 200, 44, 10),
    // aspect ratio
    O1(1081, "1:1", 286, 167, 54, 10),
    O(1082, "4:3", 286, 178, 54, 10),
    O(1083, "16:9", 286, 189, 54, 10),
    O(1084, "2.21:1", 286, 200, 54, 10),
    // tools
    B(1091, "make DVD compliant", 6, 222, 90, 14),
    B(1092, "Ostrel info", 219, 222, 60, 14),
    B(1093, "Avisynth info", 282, 222, 60, 14),
    B(1094, "DGDecode info", 345, 222, 60, 14),
};

// ---- 103: Settings 1 ----
const dlgitem items103[] = {
    BOX("constant quantization", 6, 2, 200, 96),
    BOX("GOP", 6, 102, 200, 50),
    BOX("field order", 6, 156, 200, 38),
    BOX("scan method", 6, 198, 200, 38),
    BOX("current KJ.ini", 212, 2, 193, 234),
    C(1055, "constant Quantization", 12, 14, 188, 10),
    L("quant value", 22, 30, 80, 8),
    E(1056, 110, 28, 40, 12),
    C(1057, "check VBV/max bitrate", 12, 46, 188, 10),
    L("P-frame factor", 22, 64, 80, 8),
    E(1038, 110, 62, 31, 12),
    U(1109, 141, 62, 12),
    L("B-frame factor", 22, 80, 80, 8),
    E(1037, 110, 78, 31, 12),
    U(1110, 141, 78, 12),
    L("GOP length", 12, 118, 80, 8),
    N(1045, 110, 116, 31, 12),
    U(1023, 141, 116, 12),
    L("B frames", 12, 134, 80, 8),
    N(1544, 110, 132, 31, 12),
    U(1024, 141, 132, 12),
    O(1092, "TFF", 12, 172, 60, 10),
    O(1093, "BFF", 80, 172, 60, 10),
    O1(1019, "zigzag", 12, 214, 60, 10),
    O(1020, "alternate", 80, 214, 60, 10),
    {ctllist, 1107, "", 218, 12, 181, 220},
};

// ---- 104: Settings 2 ----
const dlgitem items104[] = {
    BOX("time code", 6, 2, 200, 36),
    BOX("mask and shift", 6, 40, 200, 34),
    BOX("luminance gain", 6, 76, 200, 28),
    BOX("encoding", 6, 106, 200, 30),
    BOX("CPU extensions", 6, 138, 200, 34),
    BOX("encoder options", 6, 174, 200, 62),
    BOX("current KJ.ini", 212, 2, 193, 234),
    L("hours", 12, 11, 40, 8),
    L("minutes", 60, 11, 40, 8),
    L("seconds", 108, 11, 40, 8),
    L("frames", 156, 11, 40, 8),
    N(1031, 12, 20, 40, 12),
    E(1032, 60, 20, 40, 12),
    N(1033, 108, 20, 40, 12),
    N(1034, 156, 20, 40, 12),
    L("top lines", 12, 49, 56, 8),
    L("bottom lines", 76, 49, 56, 8),
    L("shift lines", 140, 49, 56, 8),
    E(1036, 12, 58, 56, 12),
    E(1044, 76, 58, 56, 12),
    E(1045, 140, 58, 56, 12),
    {ctltrack, 1012, "", 12, 86, 150, 14},
    N(1056, 168, 87, 30, 12),
    L("VBR bias (0 - 100)", 12, 119, 62, 8),
    N(1035, 76, 117, 26, 12),
    L("wait for exit (sec)", 110, 119, 60, 8),
    N(1017, 172, 117, 26, 12),
    O(1050, "auto", 12, 148, 60, 10),
    O(1051, "MMX", 76, 148, 60, 10),
    O(1052, "SSE2", 140, 148, 60, 10),
    O(1053, "SSE3", 12, 159, 60, 10),
    O(1010, "SSSE3", 76, 159, 60, 10),
    O(1011, "SSE4", 140, 159, 60, 10),
    C(1021, "VBV check", 12, 184, 92, 10),
    C(1022, "write seq endcode", 12, 195, 92, 10),
    C(1018, "last I-frame", 12, 206, 92, 10),
    C(2023, "write scd file", 12, 217, 92, 10),
    C(2021, "preview", 108, 184, 94, 10),
    C(2022, "silent (no encoder GUI)", 108, 195, 94, 10),
    C(1039, "shutdown", 108, 206, 94, 10),
    {ctllist, 1107, "", 218, 12, 181, 220},
};

// ---- 105: Matrix ----
const dlgitem items105[] = {
    BOX("matrix", 6, 2, 195, 42),
    BOX("built in matrix", 205, 2, 200, 42),
    BOX("custom matrix", 6, 47, 114, 132),
    BOX("current matrix", 124, 47, 281, 132),
    BOX("intra", 130, 58, 127, 118),
    BOX("non-intra", 269, 58, 127, 118),
    BOX("adaptive matrix (advanced)", 6, 182, 399, 54),
    L("Use one of the built in matrices", 12, 12, 185, 8),
    L("or use your own custom matrix.", 12, 21, 185, 8),
    O(1010, "built in matrix", 12, 31, 72, 10),
    O(1011, "custom matrix", 90, 31, 72, 10),
    {ctlcombo, 1054, "MPEG\nTGN\nNOTCH\nTOLV1\nKJ\nKJLOW\nMIRDO1CD\nHVSGOOD\nHVSBETTER\nHVSBEST\n"
                     "ZELMAT6\nZELMAT7\nKIV1\nKIV2\nKIV3\nMPEG STANDARD",
     211, 14, 88, 150, styleeditable},
    L("Matrices shown below", 305, 13, 96, 8),
    L("will be used for encoding.", 305, 22, 96, 8),
    L("Load/save your own matrices", 12, 58, 102, 8),
    B(1102, "load custom matrix", 12, 70, 102, 14),
    B(1104, "save custom matrix (mtx)", 12, 87, 102, 14),
    B(1103, "save custom matrix (cqm)", 12, 104, 102, 14),
    L("Supported formats:", 12, 126, 102, 8),
    L("- simple text file (mtx)", 12, 136, 102, 8),
    L("- binary format (cqm)", 12, 146, 102, 8),
    // the intra grid: cell 1201 + 8r + c at (133 + 15c, 68 + 13r)
    G(1201, 133, 68), G(1202, 148, 68), G(1203, 163, 68), G(1204, 178, 68),
    G(1205, 193, 68), G(1206, 208, 68), G(1207, 223, 68), G(1208, 238, 68),
    G(1209, 133, 81), G(1210, 148, 81), G(1211, 163, 81), G(1212, 178, 81),
    G(1213, 193, 81), G(1214, 208, 81), G(1215, 223, 81), G(1216, 238, 81),
    G(1217, 133, 94), G(1218, 148, 94), G(1219, 163, 94), G(1220, 178, 94),
    G(1221, 193, 94), G(1222, 208, 94), G(1223, 223, 94), G(1224, 238, 94),
    G(1225, 133, 107), G(1226, 148, 107), G(1227, 163, 107), G(1228, 178, 107),
    G(1229, 193, 107), G(1230, 208, 107), G(1231, 223, 107), G(1232, 238, 107),
    G(1233, 133, 120), G(1234, 148, 120), G(1235, 163, 120), G(1236, 178, 120),
    G(1237, 193, 120), G(1238, 208, 120), G(1239, 223, 120), G(1240, 238, 120),
    G(1241, 133, 133), G(1242, 148, 133), G(1243, 163, 133), G(1244, 178, 133),
    G(1245, 193, 133), G(1246, 208, 133), G(1247, 223, 133), G(1248, 238, 133),
    G(1249, 133, 146), G(1250, 148, 146), G(1251, 163, 146), G(1252, 178, 146),
    G(1253, 193, 146), G(1254, 208, 146), G(1255, 223, 146), G(1256, 238, 146),
    G(1257, 133, 159), G(1258, 148, 159), G(1259, 163, 159), G(1260, 178, 159),
    G(1261, 193, 159), G(1262, 208, 159), G(1263, 223, 159), G(1264, 238, 159),
    // the non-intra grid: cell 1301 + 8r + c at (272 + 15c, 68 + 13r)
    G(1301, 272, 68), G(1302, 287, 68), G(1303, 302, 68), G(1304, 317, 68),
    G(1305, 332, 68), G(1306, 347, 68), G(1307, 362, 68), G(1308, 377, 68),
    G(1309, 272, 81), G(1310, 287, 81), G(1311, 302, 81), G(1312, 317, 81),
    G(1313, 332, 81), G(1314, 347, 81), G(1315, 362, 81), G(1316, 377, 81),
    G(1317, 272, 94), G(1318, 287, 94), G(1319, 302, 94), G(1320, 317, 94),
    G(1321, 332, 94), G(1322, 347, 94), G(1323, 362, 94), G(1324, 377, 94),
    G(1325, 272, 107), G(1326, 287, 107), G(1327, 302, 107), G(1328, 317, 107),
    G(1329, 332, 107), G(1330, 347, 107), G(1331, 362, 107), G(1332, 377, 107),
    G(1333, 272, 120), G(1334, 287, 120), G(1335, 302, 120), G(1336, 317, 120),
    G(1337, 332, 120), G(1338, 347, 120), G(1339, 362, 120), G(1340, 377, 120),
    G(1341, 272, 133), G(1342, 287, 133), G(1343, 302, 133), G(1344, 317, 133),
    G(1345, 332, 133), G(1346, 347, 133), G(1347, 362, 133), G(1348, 377, 133),
    G(1349, 272, 146), G(1350, 287, 146), G(1351, 302, 146), G(1352, 317, 146),
    G(1353, 332, 146), G(1354, 347, 146), G(1355, 362, 146), G(1356, 377, 146),
    G(1357, 272, 159), G(1358, 287, 159), G(1359, 302, 159), G(1360, 317, 159),
    G(1361, 332, 159), G(1362, 347, 159), G(1363, 362, 159), G(1364, 377, 159),
    C(1025, "adaptive matrix", 12, 195, 100, 10),
    L("Write your own code to adapt matrices,", 130, 194, 268, 8),
    L("see the manual for more information how", 130, 204, 268, 8),
    L("to create the DLL.", 130, 214, 268, 8),
};

// ---- 106 and 107: the preview pages share the picture, the slider and the navigation ----
#define PREVIEW                                                          \
  {ctlpicture, previewbox, "", 136, 6, 269, 192, stylesunken},           \
      {ctltrack, 1061, "", 136, 201, 269, 14},                           \
      B(1013, "<<<", 136, 220, 24, 14), B(1014, "<<", 162, 220, 24, 14), \
      B(1016, "<", 188, 220, 24, 14), L("current frame", 222, 223, 50, 8), \
      {ctledit, 1036, "", 274, 221, 46, 12, stylecentre | stylereadonly | styledigits}, \
      B(1015, ">", 329, 220, 24, 14), B(1011, ">>", 355, 220, 24, 14),  \
      B(1012, ">>>", 381, 220, 24, 14)

const dlgitem items106[] = {
    BOX("chapter list", 6, 2, 124, 136),
    BOX("frame range", 6, 142, 124, 44),
    BOX("chapter file", 6, 190, 124, 44),
    {ctllist, 1094, "", 12, 12, 112, 86, stylefixedfont},
    B(1029, "add", 12, 102, 35, 14),
    B(1030, "remove", 50, 102, 36, 14),
    B(1097, "clear list", 89, 102, 35, 14),
    B(2010, "create SCD chapter list", 12, 120, 112, 14),
    B(1037, "set current as start frame", 12, 152, 112, 14),
    B(1038, "set current as end frame", 12, 168, 112, 14),
    B(2008, "import chapter list from file", 12, 200, 112, 14),
    B(2009, "export chapter list to file", 12, 216, 112, 14),
    PREVIEW,
};

const dlgitem items107[] = {
    BOX("zone list", 6, 2, 124, 234),
    // The heading over the list's two columns, in the list's fixed-pitch font.
    {ctlstatic, -1, "   frame | value", 12, 12, 112, 8, stylefixedfont},
    {ctllist, 1117, "", 12, 21, 112, 150, stylefixedfont},
    L("zone value", 12, 179, 50, 8),
    E(1017, 64, 177, 30, 12),
    B(1114, "set zone", 12, 194, 54, 14),
    B(1115, "remove zone", 70, 194, 54, 14),
    B(1116, "clear zone list", 12, 212, 112, 14),
    PREVIEW,
};
#undef PREVIEW
#undef L
#undef S
#undef B
#undef C
#undef O
#undef O1
#undef E
#undef N
#undef U
#undef G
#undef BOX

constexpr int pagestyle = 0;  // child windows: no caption, no frame
constexpr int mainstyle = stylecaption | stylesysmenu | styleminimize;
}  // namespace

const dlgtemplate frontdialog101 = {101, "  Ostrelfront 0.21", 30, 20, 422, 303, mainstyle, 1076,
                                    items101, (int)std::size(items101)};
const dlgtemplate frontpage102 = {102, "", 0, 0, 411, 238, pagestyle, 0, items102, (int)std::size(items102)};
const dlgtemplate frontpage103 = {103, "", 0, 0, 411, 238, pagestyle, 0, items103, (int)std::size(items103)};
const dlgtemplate frontpage104 = {104, "", 0, 0, 411, 238, pagestyle, 0, items104, (int)std::size(items104)};
const dlgtemplate frontpage105 = {105, "", 0, 0, 417, 238, pagestyle, 0, items105, (int)std::size(items105)};
const dlgtemplate frontpage106 = {106, "", 0, 0, 411, 238, pagestyle, 0, items106, (int)std::size(items106)};
const dlgtemplate frontpage107 = {107, "", 0, 0, 411, 238, pagestyle, 0, items107, (int)std::size(items107)};

const dlgtemplate* const frontresources[] = {&frontdialog101, &frontpage102, &frontpage103, &frontpage104,
                                             &frontpage105,   &frontpage106, &frontpage107};
const int frontresourcecount = (int)std::size(frontresources);

namespace {
// Icon 116, the main window's: a frame of film showing a list of settings.
const char* const icon116[] = {
    "..############################..",
    "..############################..",
    "..#ww######################ww#..",
    "..#ww##ssssssssssssssssss##ww#..",
    "..#ww##swwwwwwwwwwwwwwwws##ww#..",
    "..#####swwwwwwwwwwwwwwwws#####..",
    "..#####swrsssssssssssswws#####..",
    "..#####swwwwwwwwwwwwwwwws#####..",
    "..#ww##swwwwwwwwwwwwwwwws##ww#..",
    "..#ww##swwwwwwwwwwwwwwwws##ww#..",
    "..#ww##swrsssssssssssswws##ww#..",
    "..#####swwwwwwwwwwwwwwwws#####..",
    "..#####swwwwwwwwwwwwwwwws#####..",
    "..#####swwwwwwwwwwwwwwwws#####..",
    "..#ww##swrsssssssssssswws##ww#..",
    "..#ww##swwwwwwwwwwwwwwwws##ww#..",
    "..#ww##swwwwwwwwwwwwwwwws##ww#..",
    "..#####swwwwwwwwwwwwwwwws#####..",
    "..#####swrsssssssssssswws#####..",
    "..#####swwwwwwwwwwwwwwwws#####..",
    "..#ww##swwwwwwwwwwwwwwwws##ww#..",
    "..#ww##swwwwwwwwwwwwwwwws##ww#..",
    "..#ww##swrsssssssssssswws##ww#..",
    "..#####swwwwwwwwwwwwwwwws#####..",
    "..#####swwwwwwwwwwwwwwwws#####..",
    "..#####swwwwwwwwwwwwwwwws#####..",
    "..#ww##swrsssssssssssswws##ww#..",
    "..#ww##swwwwwwwwwwwwwwwws##ww#..",
    "..#ww##ssssssssssssssssss##ww#..",
    "..############################..",
    "..############################..",
    "..############################..",
};
}  // namespace

const dlgiconres fronticons[] = {{116, 32, icon116}};
const int fronticoncount = 1;
