// The callbacks of the Main, Settings 1 and Settings 2 pages through the layer's driver, one
// table a page: what the user types, clicks, spins and slides, and the controls, model words and
// status line it leaves. Edits are normalised when they lose the focus (or at each change where
// the page acts on every change); a text that is no number keeps the former value. The preview
// follows the aspect and the mask.
#include <gtest/gtest.h>

#include <filesystem>

#include "common/fmtfield.h"
#include "dialogs/dialogs.h"
#include "dialogs/driver.h"
#include "frontend/settings/settings.h"
#include "frontend/window/front.h"
#include "resources/frontend.h"
#include "tests/frontend/clips.h"
#include "tests/frontend/pagetable.h"
#include "tests/support/blackbox.h"

namespace {
using callbacks = pagetable;
constexpr int p102 = pagemain, p103 = pagesettings1, p104 = pagesettings2, p105 = pagematrix;
act focuson(int page, int id) { return {act::focus, page, id, ""}; }
}  // namespace

// Main: the bitrate and the file length kept in step (the file length shown is always the one the
// average gives), the frame range, the GOP and pulldown boxes, the radios with the aspect word,
// reset and the DVD fixer. The sources: 90,000 frames at 25 frames/s (3,600 s), 1,000 frames,
// 25 frames (1 s), 1,000 frames at 23.976.
TEST_F(callbacks, mainpage) {
  const std::string pulldownon =
      " pulldown turned on, set flags for 23.976 --> 29.97 fps, interlaced is disabled, if your source is "
      "interlaced please de-interlace it first, if input rate is not equal to 23.976, setting is ignored";
  run({
      {"the file length radio: its edit, not the average", source::pal, {clickon(p102, 1033)},
       {enabledof(p102, 1086, true), enabledof(p102, 1087, false), enabledof(p102, 1018, true),
        tickof(p102, 1085, false)},
       " please set file length and maximum bitrate"},
      {"the average radio again", source::pal, {clickon(p102, 1033), clickon(p102, 1085)},
       {enabledof(p102, 1086, false), enabledof(p102, 1087, true), enabledof(p102, 1018, true)},
       " please set average and maximum bitrate"},
      {"an average: the maximum stays, the file length follows", source::pal, {enteron(p102, 1087, "6000")},
       {textof(p102, 1087, "6000"), textof(p102, 1018, "8000"), textof(p102, 1086, "2636718"), wordof("avg", "6000"),
        wordof("max", "8000"), wordof("file", "2636718")},
       ""},
      {"an average above the maximum raises it", source::pal, {enteron(p102, 1087, " 9000 ")},
       {textof(p102, 1087, "9000"), textof(p102, 1018, "9000"), wordof("max", "9000")}, ""},
      {"an emptied average keeps the former one", source::pal, {enteron(p102, 1087, "5000"), enteron(p102, 1087, "")},
       {textof(p102, 1087, "5000"), wordof("avg", "5000")}, ""},
      {"an average that is no number keeps the default", source::pal, {enteron(p102, 1087, "12x")},
       {textof(p102, 1087, "4000"), wordof("avg", "4000")}, ""},
      {"a maximum below the average lowers the average and the file length", source::pal,
       {enteron(p102, 1018, "3000")},
       {textof(p102, 1018, "3000"), textof(p102, 1087, "3000"), wordof("avg", "3000"), textof(p102, 1086, "1318359")},
       ""},
      {"an emptied maximum keeps the former one", source::pal, {enteron(p102, 1018, "")},
       {textof(p102, 1018, "8000"), wordof("max", "8000")}, ""},
      {"a file length gives the average; the length shown is what that average gives", source::pal,
       {clickon(p102, 1033), enteron(p102, 1086, "1000000")},
       {textof(p102, 1087, "2276"), textof(p102, 1086, "1000195"), wordof("avg", "2276"), wordof("file", "1000195")},
       ""},
      {"a file length above what the maximum gives", source::pal,
       {enteron(p102, 1018, "2000"), clickon(p102, 1033), enteron(p102, 1086, "1000000")},
       {textof(p102, 1087, "2000"), textof(p102, 1086, "878906"), wordof("avg", "2000")}, ""},
      {"a file length of 0 is 1 kbyte", source::onesecond, {clickon(p102, 1033), enteron(p102, 1086, "0")},
       {textof(p102, 1087, "8"), textof(p102, 1086, "1")}, ""},
      {"an emptied file length keeps the former one", source::pal, {clickon(p102, 1033), enteron(p102, 1086, "")},
       {textof(p102, 1086, "1757812"), textof(p102, 1087, "4000")}, ""},
      {"an end past the source is its last frame", source::thousand, {enteron(p102, 1089, "999999")},
       {textof(p102, 1089, "999"), wordof("end", "999"), wordof("span", "1000")}, ""},
      {"an end below the start is the start", source::thousand, {enteron(p102, 1088, "500"), enteron(p102, 1089, "100")},
       {textof(p102, 1088, "500"), textof(p102, 1089, "500"), wordof("span", "1"), textof(p102, 1106, "1")}, ""},
      {"a start below 0 is 0", source::thousand, {enteron(p102, 1088, "-5")},
       {textof(p102, 1088, "0"), wordof("start", "0")}, ""},
      {"a start past the end is the end", source::thousand, {enteron(p102, 1089, "400"), enteron(p102, 1088, "700")},
       {textof(p102, 1088, "400"), wordof("start", "400"), wordof("end", "400"), wordof("span", "1")}, ""},
      {"a start that is no number keeps the former one", source::thousand,
       {enteron(p102, 1088, "20"), enteron(p102, 1088, "x")},
       {textof(p102, 1088, "20"), wordof("start", "20"), wordof("span", "980")}, ""},
      {"the frame range changes the encoding length and the file length", source::thousand,
       {enteron(p102, 1089, "499")},
       {wordof("span", "500"), textof(p102, 1106, "500"), textof(p102, 1104, "20.00"), textof(p102, 1086, "9765")}, ""},
      {"all frames", source::thousand, {enteron(p102, 1088, "10"), enteron(p102, 1089, "20"), clickon(p102, 1111)},
       {textof(p102, 1088, "0"), textof(p102, 1089, "999"), wordof("span", "1000"), textof(p102, 1106, "1000")},
       " frame range set to all frames in video"},
      {"scene change detection off", source::pal, {clickon(p102, 1040)}, {tickof(p102, 1040, false)},
       " scene change detection turned off"},
      {"and on", source::pal, {clickon(p102, 1040), clickon(p102, 1040)}, {tickof(p102, 1040, true)},
       " scene change detection turned on, new closed GOP on every scene change"},
      {"closed GOPs", source::pal, {clickon(p102, 1090)}, {}, " closedgops turned on, every GOP will be closed"},
      {"closed GOPs off", source::pal, {clickon(p102, 1090), clickon(p102, 1090)}, {}, " closedgops turned off"},
      {"autogop off: the fixed GOP of Settings 1 can be set", source::pal, {clickon(p102, 1077)},
       {enabledof(p102, 1113, false), enabledof(p102, 1112, false), enabledof(p103, 1045, true),
        enabledof(p103, 1544, true), enabledof(p103, 1023, true), enabledof(p103, 1024, true)},
       " autogop turned off, you can change GOP settings in Settings 1 tab"},
      {"autogop on", source::pal, {clickon(p102, 1077), clickon(p102, 1077)},
       {enabledof(p102, 1113, true), enabledof(p102, 1112, true), enabledof(p103, 1045, false),
        enabledof(p103, 1544, false), enabledof(p103, 1023, false), enabledof(p103, 1024, false)},
       " autogop turned on, variable B frames"},
      {"the longest automatic GOP 14", source::pal, {spinon(p102, 1112, -1)}, {textof(p102, 1113, "14")},
       " GOP length valid for PAL, NTSC and pulldown"},
      {"15", source::pal, {spinon(p102, 1112, 1), spinon(p102, 1112, -1)}, {textof(p102, 1113, "15")},
       " GOP length valid for PAL, 29.97 NTSC, not for pulldown"},
      {"16", source::pal, {spinon(p102, 1112, 1)}, {textof(p102, 1113, "16")}, " GOP length only valid for 29.97 NTSC"},
      {"at most 18", source::pal, {spinon(p102, 1112, 9)}, {textof(p102, 1113, "18"), positionof(p102, 1112, 18)},
       " GOP length only valid for 29.97 NTSC"},
      {"at least 12", source::pal, {spinon(p102, 1112, -9)}, {textof(p102, 1113, "12"), positionof(p102, 1112, 12)},
       " GOP length valid for PAL, NTSC and pulldown"},
      {"interlaced: top field first, alternate scan", source::pal, {clickon(p102, 1041)},
       {tickof(p103, 1092, true), enabledof(p103, 1092, true), tickof(p103, 1093, false), enabledof(p103, 1093, true),
        tickof(p103, 1020, true), tickof(p103, 1019, false)},
       " changing interlaced also changes TFF/BFF and scan method, set to TFF and alternate"},
      {"progressive again: bottom field first, fixed, zigzag", source::pal, {clickon(p102, 1041), clickon(p102, 1041)},
       {tickof(p103, 1092, false), enabledof(p103, 1092, false), tickof(p103, 1093, true),
        enabledof(p103, 1093, false), tickof(p103, 1019, true)},
       " changing interlaced also changes scan method, scan method set to zigzag"},
      {"pulldown on an interlaced setting", source::pal, {clickon(p102, 1041), clickon(p102, 1044)},
       {tickof(p102, 1041, false), enabledof(p102, 1041, false), tickof(p102, 1044, true), tickof(p103, 1092, false),
        enabledof(p103, 1092, false), tickof(p103, 1093, true), enabledof(p103, 1093, false), tickof(p103, 1019, true)},
       pulldownon},
      {"pulldown off: interlaced can be chosen again", source::pal,
       {clickon(p102, 1041), clickon(p102, 1044), clickon(p102, 1044)},
       {tickof(p102, 1041, false), enabledof(p102, 1041, true), tickof(p102, 1044, false), enabledof(p103, 1092, false),
        tickof(p103, 1093, true), enabledof(p103, 1093, false), tickof(p103, 1019, true)},
       " pulldown turned off"},
      {"fast", source::pal, {clickon(p102, 1078)}, {tickof(p102, 1078, true), tickof(p102, 1079, false)},
       " fastest encode, lowest quality but still pretty good :)"},
      {"normal", source::pal, {clickon(p102, 1080), clickon(p102, 1079)}, {tickof(p102, 1079, true)},
       " normal speed encode, normal quality"},
      {"best", source::pal, {clickon(p102, 1080)}, {tickof(p102, 1080, true)}, " slowest encode, high quality"},
      {"dc precision 8", source::pal, {clickon(p102, 1046)}, {tickof(p102, 1046, true), tickof(p102, 1047, false)},
       " dc precision 8 set, recommended for low bitrate"},
      {"9", source::pal, {clickon(p102, 1048), clickon(p102, 1047)}, {},
       " dc precision 9 set, recommended for normal bitrate"},
      {"10", source::pal, {clickon(p102, 1048)}, {}, " dc precision 10 set, recommended for high bitrate"},
      {"11", source::pal, {clickon(p102, 1049)}, {}, " dc precision 11 set, NOT DVD-COMPLIANT !!"},
      {"1:1", source::pal, {clickon(p102, 1081)}, {tickof(p102, 1081, true), wordof("aspect", "1")},
       " aspect ratio set to 1:1, NOT DVD-COMPLIANT !!"},
      {"4:3", source::pal, {clickon(p102, 1082)}, {wordof("aspect", "2")}, " aspect ratio set to 4:3"},
      {"16:9", source::pal, {clickon(p102, 1082), clickon(p102, 1083)}, {wordof("aspect", "3")},
       " aspect ratio set to 16:9"},
      {"2.21:1", source::pal, {clickon(p102, 1084)}, {wordof("aspect", "4")},
       " aspect ratio set to 2.21:1, NOT DVD-COMPLIANT !!"},
      {"reset: the defaults, no mask, 16:9", source::pal,
       {enteron(p102, 1087, "5000"), clickon(p102, 1081), clickon(p102, 1041), enteron(p104, 1036, "8"),
        enteron(p104, 1045, "-4"), clickon(p102, 1011)},
       {textof(p102, 1087, "4000"), tickof(p102, 1083, true), wordof("aspect", "3"), tickof(p102, 1041, false),
        textof(p104, 1036, "0"), textof(p104, 1045, "0"), wordof("top", "0"), wordof("shift", "0")},
       " all values reset to default"},
      {"reset after autogop off: autogop on with its longest GOP to set, the fixed GOP not", source::pal,
       {clickon(p102, 1077), clickon(p102, 1011)},
       {tickof(p102, 1077, true), enabledof(p102, 1113, true), enabledof(p102, 1112, true), enabledof(p103, 1045, false),
        enabledof(p103, 1544, false), enabledof(p103, 1023, false), enabledof(p103, 1024, false)},
       " all values reset to default"},
      {"the longest automatic GOP spun after that reset", source::pal,
       {clickon(p102, 1077), clickon(p102, 1011), spinon(p102, 1112, -2)},
       {textof(p102, 1113, "13"), positionof(p102, 1112, 13)}, " GOP length valid for PAL, NTSC and pulldown"},
      {"reset after a fixed GOP read from KJ.ini", source::pal, {clickon(p102, 1011)},
       {tickof(p102, 1077, true), enabledof(p102, 1113, true), enabledof(p102, 1112, true), enabledof(p103, 1045, false)},
       " all values reset to default", [this] {
         // "load KJ.ini" of a file with a fixed GOP: autogop off, its longest GOP disabled.
         writefile(dir + "KJ.ini", "*INFILE " + dir + "clip.avs\n*GOP 12 2\n");
         userclick(dlg(p102), 1012);
         EXPECT_FALSE(dlggetflag(dlgof(p102), 1077));
         EXPECT_FALSE(dlggetflag(dlgof(p102), 1113, ixenabled));
         EXPECT_FALSE(dlggetflag(dlgof(p102), 1112, ixenabled));
       }},
      {"gaining the focus clears the status line", source::pal, {focuson(p102, 1087)}, {}, ""},
  });
}

// Make DVD compliant through the button, on the GOP limits of 25 and 23.976 frames a second.
TEST_F(callbacks, makedvdcompliant) {
  run({
      {"25 frames/s: the GOP, B frames, dc, aspect and bitrates fixed, autogop 15", source::pal,
       {clickon(p102, 1077), typeon(p103, 1045, "18"), clickon(p102, 1049), clickon(p102, 1081),
        enteron(p102, 1087, "9500"), enteron(p102, 1018, "9900"), clickon(p102, 1077), spinon(p102, 1112, 3),
        clickon(p102, 1091)},
       {textof(p103, 1045, "15"), positionof(p103, 1023, 15), tickof(p102, 1048, true), tickof(p102, 1082, true),
        wordof("aspect", "2"), textof(p102, 1087, "9000"), textof(p102, 1018, "9800"), textof(p102, 1113, "15"),
        positionof(p102, 1112, 15), tickof(p102, 1044, false)},
       " possible non-DVD compliant settings fixed, WARNING, resolution/frame rate mismatch"},
      {"23.976 frames/s: pulldown, progressive, autogop 12", source::film, {clickon(p102, 1041), clickon(p102, 1091)},
       {textof(p102, 1113, "12"), positionof(p102, 1112, 12), tickof(p102, 1044, true), tickof(p102, 1041, false),
        enabledof(p102, 1041, false), tickof(p103, 1093, true), tickof(p103, 1019, true)},
       " possible non-DVD compliant settings fixed, WARNING, resolution/frame rate mismatch"},
  });
}

// The information buttons of Main: the encoder of the program folder with the version it
// carries, missing, or without a version; the frame server and the decoder libraries.
TEST_F(callbacks, theinformationbuttons) {
  begin(source::none);
  dialogrecord& m = dlg(pagemain);
  userclick(m, 1092);
  EXPECT_EQ(status(), " KJ encoder: " + dir + "ostrel NOT found");
  std::filesystem::copy_file(std::string(OSTREL_PROGDIR) + "/ostrel", dir + "ostrel");
  userclick(m, 1092);
  EXPECT_EQ(status(), " Ostrel found: " + dir + "ostrel, file version: 0.21.0.0");
  writefile(dir + "ostrel", "not ours");
  userclick(m, 1092);
  EXPECT_EQ(status(), " Ostrel found: " + dir + "ostrel, no file version information available");
  userclick(m, 1093);
  EXPECT_EQ(status(), " Avisynth installation NOT found");
  userclick(m, 1094);
  EXPECT_EQ(status(), " DGDecode NOT found");
}

// Settings 1: field order and scan, the GOP and B frames by spin and by typing (acting on every
// change), the constant quantiser with its controls and the bitrate controls of Main, the
// quantiser normalised, the P and B factors.
TEST_F(callbacks, settings1page) {
  const char* cqon = " 1 pass constant quantization turned on, you might consider turning on -check VBV/max bitrate- also";
  run({
      {"top field first", source::pal, {clickon(p102, 1041), clickon(p103, 1093), clickon(p103, 1092)},
       {tickof(p103, 1092, true), tickof(p103, 1093, false)},
       " Top Field First flagged, only applicable for interlaced encoding"},
      {"bottom field first", source::pal, {clickon(p102, 1041), clickon(p103, 1093)}, {tickof(p103, 1093, true)},
       " Bottom Field First flagged, only applicable for interlaced encoding"},
      {"zigzag", source::pal, {clickon(p103, 1020), clickon(p103, 1019)}, {tickof(p103, 1019, true)},
       " scanning set to zigzag, recommended for progressive video"},
      {"alternate", source::pal, {clickon(p103, 1020)}, {tickof(p103, 1020, true)},
       " scanning set to alternate, recommended for interlaced video"},
      {"a GOP of 14 by the spin", source::pal, {clickon(p102, 1077), spinon(p103, 1023, -1)},
       {textof(p103, 1045, "14"), wordof("gop", "14")}, ""},
      {"16 is not for PAL", source::pal, {clickon(p102, 1077), spinon(p103, 1023, 1)}, {textof(p103, 1045, "16")},
       " WARNING !!, GOP length not valid for PAL"},
      {"18", source::pal, {clickon(p102, 1077), spinon(p103, 1023, 3)}, {textof(p103, 1045, "18")},
       " WARNING !!, GOP length not valid for PAL"},
      {"19 is neither for PAL nor for NTSC", source::pal, {clickon(p102, 1077), spinon(p103, 1023, 4)},
       {textof(p103, 1045, "19")}, " WARNING !!, GOP length not valid for PAL and NTSC"},
      {"at most 36", source::pal, {clickon(p102, 1077), spinon(p103, 1023, 30)},
       {textof(p103, 1045, "36"), positionof(p103, 1023, 36)}, " WARNING !!, GOP length not valid for PAL and NTSC"},
      {"typed 0 is 1", source::pal, {clickon(p102, 1077), typeon(p103, 1045, "0")},
       {textof(p103, 1045, "1"), positionof(p103, 1023, 1), wordof("gop", "1")}, ""},
      {"typed 40 is 36", source::pal, {clickon(p102, 1077), typeon(p103, 1045, "40")},
       {textof(p103, 1045, "36"), positionof(p103, 1023, 36)}, " WARNING, GOP length not valid for PAL and NTSC"},
      {"typed 17", source::pal, {clickon(p102, 1077), typeon(p103, 1045, "17")}, {positionof(p103, 1023, 17)},
       " WARNING, GOP length not valid for PAL"},
      {"typed 15", source::pal, {clickon(p102, 1077), typeon(p103, 1045, "16"), typeon(p103, 1045, "15")},
       {positionof(p103, 1023, 15)}, ""},
      {"emptied: the former length", source::pal,
       {clickon(p102, 1077), typeon(p103, 1045, "12"), typeon(p103, 1045, "")},
       {textof(p103, 1045, "12"), positionof(p103, 1023, 12)}, ""},
      {"B frames by the spin", source::pal, {clickon(p102, 1077), spinon(p103, 1024, -1)},
       {textof(p103, 1544, "1"), wordof("bframes", "1")}, ""},
      {"B frames typed 3 are 2", source::pal,
       {clickon(p102, 1077), typeon(p103, 1544, "0"), typeon(p103, 1544, "3")},
       {textof(p103, 1544, "2"), positionof(p103, 1024, 2), wordof("bframes", "2")}, ""},
      {"B frames emptied keep the former", source::pal,
       {clickon(p102, 1077), typeon(p103, 1544, "1"), typeon(p103, 1544, "")},
       {textof(p103, 1544, "1"), positionof(p103, 1024, 1)}, ""},
      {"constant quantiser on: its controls, no bitrate, no VBR bias", source::pal, {clickon(p103, 1055)},
       {enabledof(p103, 1056, true), enabledof(p103, 1057, true), enabledof(p103, 1038, true),
        enabledof(p103, 1037, true), enabledof(p103, 1109, true), enabledof(p103, 1110, true),
        enabledof(p102, 1085, false), enabledof(p102, 1033, false), enabledof(p102, 1086, false),
        enabledof(p102, 1087, false), enabledof(p102, 1018, false), enabledof(p104, 1035, false)},
       cqon},
      {"off again after the file length was chosen: the average ticked", source::pal,
       {clickon(p102, 1033), clickon(p103, 1055), clickon(p103, 1057), clickon(p103, 1055)},
       {enabledof(p103, 1056, false), tickof(p103, 1057, false), enabledof(p103, 1057, false),
        enabledof(p103, 1038, false), enabledof(p103, 1037, false), enabledof(p103, 1109, false),
        enabledof(p103, 1110, false), tickof(p102, 1085, true), enabledof(p102, 1085, true),
        tickof(p102, 1033, false), enabledof(p102, 1033, true), enabledof(p102, 1086, false),
        enabledof(p102, 1087, true), enabledof(p102, 1018, true), enabledof(p104, 1035, true)},
       " constant quantization turned off"},
      {"check VBV: the maximum bitrate applies", source::pal, {clickon(p103, 1055), clickon(p103, 1057)},
       {enabledof(p102, 1018, true), enabledof(p102, 1087, false)},
       " check VBV/max bitrate turned on, maximum bitrate set will not be exceeded"},
      {"check VBV off", source::pal, {clickon(p103, 1055), clickon(p103, 1057), clickon(p103, 1057)},
       {enabledof(p102, 1018, false)}, " check VBV/max bitrate turned off"},
      {"the quantiser in three decimals", source::pal, {clickon(p103, 1055), enteron(p103, 1056, "2.5")},
       {textof(p103, 1056, "2.500"), wordof("cq", "2.500")}, ""},
      {"at most 31", source::pal, {clickon(p103, 1055), enteron(p103, 1056, "40")}, {textof(p103, 1056, "31.000")}, ""},
      {"at least 1", source::pal, {clickon(p103, 1055), enteron(p103, 1056, "0")}, {textof(p103, 1056, "1.000")}, ""},
      {"emptied: the former", source::pal,
       {clickon(p103, 1055), enteron(p103, 1056, "7.25"), enteron(p103, 1056, "")},
       {textof(p103, 1056, "7.250"), wordof("cq", "7.250")}, ""},
      {"no number: the default", source::pal, {clickon(p103, 1055), enteron(p103, 1056, "abc")},
       {textof(p103, 1056, "5.000")}, ""},
      {"P factor 4.0 (position 32) on quantiser 4", source::pal,
       {clickon(p103, 1055), enteron(p103, 1056, "4.0"), spinon(p103, 1109, 23)},
       {textof(p103, 1038, "4.00"), wordof("pfactor", "4.00")}, " Constant Quantization for P-frames set 16.000"},
      {"B factor 0.5 (position 1)", source::pal, {clickon(p103, 1055), enteron(p103, 1056, "4"), spinon(p103, 1110, -8)},
       {textof(p103, 1037, "0.50"), wordof("bfactor", "0.50")}, " Constant Quantization for B-frames set 2.000"},
      {"the factor's quantiser at most 31", source::pal,
       {clickon(p103, 1055), enteron(p103, 1056, "20"), spinon(p103, 1109, 23)}, {},
       " Constant Quantization for P-frames set 31.000"},
      {"and at least 1", source::pal, {clickon(p103, 1055), enteron(p103, 1056, "1"), spinon(p103, 1110, -8)}, {},
       " Constant Quantization for B-frames set 1.000"},
      {"a quantiser being typed is normalised before the spin reads it", source::pal,
       {clickon(p103, 1055), focuson(p103, 1056), typeon(p103, 1056, "3"), spinon(p103, 1109, 1)},
       {textof(p103, 1056, "3.000"), textof(p103, 1038, "1.05")}, " Constant Quantization for P-frames set 3.150"},
      {"a quantiser that is no number", source::pal, {clickon(p103, 1055), typeon(p103, 1056, "x"), spinon(p103, 1109, 1)},
       // The KJ.ini preview, refreshed after every Settings 1 callback, says why its lines stop.
       {textof(p103, 1038, "1.05")}, " show KJ.ini aborted, invalid CQ value, not a number"},
  });
}

// Settings 2: the luminance gain by slider and by its edit (0..4, in step, switching the adaptive
// matrix off), the time code, wait and bias (acting on every change), the CPU radios with the
// level found, the boxes, the mask and shift.
TEST_F(callbacks, settings2page) {
  auto output = [](const char* path) {
    return [path] {
      outputpath = path;
      outputset = true;
    };
  };
  auto level = [](int l) { return [l] { guisettings.cpulevel = l; }; };
  const char* scdon = " writing scene change detection file turned on, file name: ";
  run({
      {"gain 2 by the slider: no adaptive matrix", source::pal, {spinon(p104, 1012, 2)},
       {textof(p104, 1056, "2"), wordof("gain", "2"), tickof(p105, 1025, false), enabledof(p105, 1025, false)},
       " moderate matrix change on dark scenes"},
      {"gain 1 with the adaptive matrix ticked", source::pal, {clickon(p105, 1025), spinon(p104, 1012, 1)},
       {tickof(p105, 1025, false), enabledof(p105, 1025, false)},
       " mild matrix change on dark scenes, adaptive matrix disabled"},
      {"gain 3", source::pal, {spinon(p104, 1012, 3)}, {}, " heavy matrix change on dark scenes"},
      {"gain 4 at most", source::pal, {spinon(p104, 1012, 7)}, {textof(p104, 1056, "4"), positionof(p104, 1012, 4)},
       " hit dark scenes real hard..."},
      {"back to 0: the adaptive matrix can be chosen", source::pal, {spinon(p104, 1012, 2), spinon(p104, 1012, -2)},
       {textof(p104, 1056, "0"), enabledof(p105, 1025, true)}, " no change on dark scenes"},
      {"the gain typed moves the slider", source::pal, {enteron(p104, 1056, "3")},
       {positionof(p104, 1012, 3), wordof("gain", "3"), enabledof(p105, 1025, false)},
       " heavy matrix change on dark scenes"},
      {"a gain above 4 is 4", source::pal, {enteron(p104, 1056, "9")},
       {textof(p104, 1056, "4"), positionof(p104, 1012, 4)}, " hit dark scenes real hard..."},
      {"an emptied gain keeps the former", source::pal, {enteron(p104, 1056, "2"), enteron(p104, 1056, "")},
       {textof(p104, 1056, "2"), positionof(p104, 1012, 2)}, " moderate matrix change on dark scenes"},
      {"hours above 23", source::pal, {typeon(p104, 1031, "25")}, {textof(p104, 1031, "23"), wordof("hours", "23")},
       " hour timecode corrected, set to the maximum: 23"},
      {"hours 23", source::pal, {typeon(p104, 1031, "23")}, {textof(p104, 1031, "23")}, ""},
      {"minutes above 59", source::pal, {typeon(p104, 1032, "75")}, {textof(p104, 1032, "59")},
       " minute timecode corrected, set to the maximum: 59"},
      {"seconds", source::pal, {typeon(p104, 1033, "60")}, {wordof("seconds", "59")},
       " second timecode corrected, set to the maximum: 59"},
      {"frames", source::pal, {typeon(p104, 1034, "99")}, {wordof("frames", "59")},
       " frame timecode corrected, set to the maximum: 59"},
      // The edit keeps what was typed; the model holds what KJ.ini will say.
      {"no lower bound", source::pal, {typeon(p104, 1032, "-5")}, {textof(p104, 1032, "-5"), wordof("minutes", "0")}, ""},
      {"an emptied time code keeps the former", source::pal, {typeon(p104, 1031, "12"), typeon(p104, 1031, "")},
       {textof(p104, 1031, "12")}, ""},
      {"wait above 99", source::pal, {typeon(p104, 1017, "150")}, {textof(p104, 1017, "99"), wordof("wait", "99")}, ""},
      {"an emptied wait keeps the former", source::pal, {typeon(p104, 1017, "30"), typeon(p104, 1017, "")},
       {textof(p104, 1017, "30")}, ""},
      {"bias above 100", source::pal, {typeon(p104, 1035, "150")}, {textof(p104, 1035, "100"), wordof("bias", "100")},
       ""},
      {"an emptied bias keeps the former", source::pal, {typeon(p104, 1035, "40"), typeon(p104, 1035, "")},
       {textof(p104, 1035, "40")}, ""},
      {"CPU auto, no level found", source::pal, {clickon(p104, 1051), clickon(p104, 1050)}, {},
       " auto detection of CPU extensions", level(0)},
      {"MMX on MMX", source::pal, {clickon(p104, 1051)}, {tickof(p104, 1051, true), tickof(p104, 1050, false)},
       " CPU is forced to use MMX/ISSE extensions, CPU identified as MMX", level(1)},
      {"SSE2", source::pal, {clickon(p104, 1052)}, {},
       " CPU is forced to use SSE2 extensions, CPU identified as MMX/SSE2", level(2)},
      {"SSE3", source::pal, {clickon(p104, 1053)}, {},
       " CPU is forced to use SSE3 extensions, CPU identified as MMX/SSE2/SSE3", level(3)},
      {"SSSE3", source::pal, {clickon(p104, 1010)}, {},
       " CPU is forced to use SSSE3 extensions, CPU identified as MMX/SSE2/SSE3/SSSE3", level(4)},
      {"shutdown", source::pal, {clickon(p104, 1039)}, {},
       " shutdown turned on, system will shutdown in 300 sec after encoding finishes"},
      {"shutdown off", source::pal, {clickon(p104, 1039), clickon(p104, 1039)}, {}, " shutdown turned off"},
      {"silent: no preview", source::pal, {clickon(p104, 2021), clickon(p104, 2022)},
       {tickof(p104, 2021, false), enabledof(p104, 2021, false)}, " turns off the encoder GUI, background encode"},
      {"not silent", source::pal, {clickon(p104, 2022), clickon(p104, 2022)}, {enabledof(p104, 2021, true)},
       " turns on the encoder GUI (default)"},
      {"preview", source::pal, {clickon(p104, 2021)}, {}, " turns on the preview window in the encoder"},
      {"preview off", source::pal, {clickon(p104, 2021), clickon(p104, 2021)}, {},
       " turns off the preview window in the encoder (default)"},
      {"the scene-change list the encoder writes", source::pal, {clickon(p104, 2023)}, {},
       std::string(scdon) + "film_scd.txt", output("/videos/film.m2v")},
      {"beside an output without extension", source::pal, {clickon(p104, 2023)}, {},
       std::string(scdon) + "abc_scd.txt", output("/videos/my.dir/abc")},
      {"without an output", source::pal, {clickon(p104, 2023)}, {},
       std::string(scdon) + "(output name)_scd.txt"},
      {"no scene-change list", source::pal, {clickon(p104, 2023), clickon(p104, 2023)}, {},
       " writing scene change detection file turned off"},
      {"no sequence end code", source::pal, {clickon(p104, 1022)}, {},
       " sequence end code turned off, no end of sequence header will be written"},
      {"sequence end code", source::pal, {clickon(p104, 1022), clickon(p104, 1022)}, {},
       " sequence end code turned on, an end of sequence header will be written"},
      {"no VBV check", source::pal, {clickon(p104, 1021)}, {}, " VBV checking turned off"},
      {"VBV check", source::pal, {clickon(p104, 1021), clickon(p104, 1021)}, {}, " VBV checking turned on"},
      {"last I-frame", source::pal, {clickon(p104, 1018)}, {},
       " last I-frame turned on, last frame will be encoded as an I-frame"},
      {"last I-frame off", source::pal, {clickon(p104, 1018), clickon(p104, 1018)}, {}, " last I-frame turned off"},
      {"odd top lines go one down", source::pal, {enteron(p104, 1036, "7")}, {textof(p104, 1036, "6"), wordof("top", "6")},
       ""},
      {"odd bottom lines, negative", source::pal, {enteron(p104, 1044, "-3")},
       {textof(p104, 1044, "-4"), wordof("bottom", "-4")}, ""},
      {"even lines stay", source::pal, {enteron(p104, 1036, "8")}, {textof(p104, 1036, "8")}, ""},
      {"a shift of at most 1152", source::pal, {enteron(p104, 1045, "2000")},
       {textof(p104, 1045, "1152"), wordof("shift", "1152")}, ""},
      {"and at least -1152", source::pal, {enteron(p104, 1045, "-2000")}, {textof(p104, 1045, "-1152")}, ""},
      {"an emptied mask keeps the former", source::pal, {enteron(p104, 1036, "4"), enteron(p104, 1036, "")},
       {textof(p104, 1036, "4"), wordof("top", "4")}, ""},
      {"a shift that is no number keeps the former", source::pal, {enteron(p104, 1045, "abc")},
       {textof(p104, 1045, "0"), wordof("shift", "0")}, ""},
  });
}

// The preview pages show the picture again when the aspect (Main) or the mask and shift
// (Settings 2) change, and after a reset; a page without a picture yet stays without one.
TEST_F(callbacks, thepreviewfollowsaspectandmask) {
  std::vector<yuvframe> frames;
  for (int n = 0; n < 4; n++) frames.push_back(sceneframe(64, 48, n, {2}));
  writefile(dir + "clip.y4m", y4m(frames));
  start("*INFILE " + script("clip.avs", "Y4MSource(\"clip.y4m\")\n") + "\n");
  ASSERT_TRUE(movieinfovalid);
  std::vector<uint8_t> rgb;
  int w, h;
  userselect(dlg(dlgmain), tabcontrol, 5);
  userclick(dlg(pagechapters), 1015);  // frame 1, on Preview/Chapters only
  ASSERT_EQ(previewstate.previewframe, 1);
  ASSERT_FALSE(dlgpicture(dlg(pagezones), previewbox, rgb, w, h));
  const struct {
    act how;
    int aspect, top, bottom, shift;
  } steps[] = {{clickon(pagemain, 1081), 1, 0, 0, 0},         {clickon(pagemain, 1084), 4, 0, 0, 0},
               {enteron(pagesettings2, 1036, "7"), 4, 6, 0, 0}, {enteron(pagesettings2, 1044, "4"), 4, 6, 4, 0},
               {enteron(pagesettings2, 1045, "-3"), 4, 6, 4, -3}, {clickon(pagemain, 1011), 3, 0, 0, 0}};
  for (const auto& s : steps) {
    SCOPED_TRACE(std::to_string(s.how.id) + " " + s.how.text);
    userselect(dlg(dlgmain), tabcontrol, s.how.page == pagemain ? 1 : 3);
    perform(s.how);
    ASSERT_TRUE(dlgpicture(dlg(pagechapters), previewbox, rgb, w, h));
    EXPECT_TRUE(rgb == boxmodel(maskedmodel(frames[1], s.top, s.bottom, s.shift), s.aspect, w, h));
    EXPECT_FALSE(dlgpicture(dlg(pagezones), previewbox, rgb, w, h));
  }
}
