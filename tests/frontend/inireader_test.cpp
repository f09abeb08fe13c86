// The KJ.ini reader: every key with valid, out-of-range and unreadable values, read by the
// encoder's rules; CRLF files; the end messages; the chapters, zones and matrices it gives.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <functional>

#include "common/fmtfield.h"
#include "dialogs/dialogs.h"
#include "frontend/settings/settings.h"
#include "frontend/window/front.h"
#include "tests/frontend/fixture.h"
#include "tests/support/blackbox.h"

namespace {
using reader = frontfixture;
const guisettingsrec& g = guisettings;

std::vector<int> chapters() {
  return std::vector<int>(chaptertable.frames + 1, chaptertable.frames + 1 + chaptertable.count);
}
int seencount() {
  int n = 0;
  for (bool b : iniseen) n += b;
  return n;
}
const char* const processed = " USER ini file successfully processed, WARNING, input file not found";
}  // namespace

// One key a row: the file, the status line it leaves, the key's mark and what the model holds.
TEST_F(reader, thekeytable) {
  struct row {
    const char* file;
    std::vector<int> seen;  // the keys marked
    std::function<void()> check;
    const char* status = processed;
  };
  const row rows[] = {
      {"*FRAMES 10, 20\n", {keyframes}, [] { EXPECT_EQ(g.startframe, 10); EXPECT_EQ(g.endframe, 20); }},
      {"*FRAMES 10\n", {}, [] {}, " error processing ini file:: *FRAMES"},
      {"*FRAMES   10  x\n", {}, [] {}, " error processing ini file:: *FRAMES"},
      {"*CQ 3.5\n", {keycq}, [] { EXPECT_EQ(g.guicq, 3.5f); }},
      {"*CQ 40\n", {keycq}, [] { EXPECT_EQ(g.guicq, 31.0f); }},
      {"*CQ=0.5\n", {keycq}, [] { EXPECT_EQ(g.guicq, 1.0f); }},  // any character after the key
      {"*CQ 5 kbit\n", {keycq}, [] { EXPECT_EQ(g.guicq, 5.0f); }},
      {"*CQ five\n", {}, [] {}, " error processing ini file:: *CQ"},
      {"*CQ_MAXBITRATE 4.25\n", {keycqmaxbitrate}, [] { EXPECT_EQ(g.guicqmbr, 4.25f); }},
      {"*CQ_MAXBITRATE -2\n", {keycqmaxbitrate}, [] { EXPECT_EQ(g.guicqmbr, 1.0f); }},
      {"*CQ_PFACTOR 1.5\n", {keycqpfactor}, [] { EXPECT_EQ(g.guipfactor, 1.5f); }},
      {"*CQ_BFACTOR 1.22\n", {keycqbfactor}, [] { EXPECT_EQ(g.guibfactor, 1.22f); }},
      {"*CQ_BFACTOR\n", {}, [] {}, " error processing ini file:: *CQ_BFACTOR"},
      {"*BITRATE 6000\n", {keybitrate}, [] { EXPECT_EQ(g.avgkbits, 6000); }},
      {"*BITRATE5000\n", {keybitrate}, [] { EXPECT_EQ(g.avgkbits, 50); }},  // "000" from column 10
      {"*BITRATE 9500\n", {keybitrate}, [] { EXPECT_EQ(g.avgkbits, 8000); }},
      {"*BITRATE 5000.5\n", {}, [] {}, " error processing ini file:: *BITRATE"},
      {"*BITRATE\n", {}, [] {}, " error processing ini file:: *BITRATE"},
      {"*MAXBITRATE 20\n", {keymaxbitrate}, [] { EXPECT_EQ(g.maxkbits, 50); }},
      {"*MAXBITRATE 9800,\n", {keymaxbitrate}, [] { EXPECT_EQ(g.maxkbits, 9800); }},
      {"*MAXBITRATE 99999999999\n", {}, [] {}, " error processing ini file:: *MAXBITRATE"},
      {"*PROFILE fast\n", {keyprofile}, [] { EXPECT_EQ(g.guiprofile, 1); }},
      {"*PROFILE     GOOD\n", {keyprofile}, [] { EXPECT_EQ(g.guiprofile, 2); }},
      {"*PROFILE best\n", {keyprofile}, [] { EXPECT_EQ(g.guiprofile, 4); }},
      {"*PROFILE turbo\n", {}, [] {}},
      {"*ASPECT 2:21\n", {keyaspect}, [] { EXPECT_EQ(g.guiaspect, 4); }},
      {"*ASPECT 2.21:1\n", {keyaspect}, [] { EXPECT_EQ(g.guiaspect, 4); }},
      {"*ASPECT 4:3\n", {keyaspect}, [] { EXPECT_EQ(g.guiaspect, 2); }},
      {"*ASPECT 16:10\n", {}, [] {}},
      {"*CPU ssse3\n", {keycpu}, [] { EXPECT_EQ(g.guicpu, 4); }},
      {"*CPU SSE4\n", {keycpu}, [] { EXPECT_EQ(g.guicpu, 0); }},  // the processor's own level
      {"*CPU mmx\n", {keycpu}, [] { EXPECT_EQ(g.guicpu, 1); }},
      {"*CPU 486\n", {}, [] {}},
      {"*GOP 12 1\n", {keygop}, [] { EXPECT_EQ(g.guigoplength, 12); EXPECT_EQ(g.guibframes, 1); }},
      {"*GOP 40 3\n", {keygop}, [] { EXPECT_EQ(g.guigoplength, 36); EXPECT_EQ(g.guibframes, 2); }},
      {"*GOP 0 -1\n", {keygop}, [] { EXPECT_EQ(g.guigoplength, 1); EXPECT_EQ(g.guibframes, 0); }},
      {"*GOP 12\n", {}, [] {}, " error processing ini file:: *GOP"},
      {"*DC_PREC 10\n", {keydcprec}, [] { EXPECT_EQ(g.guidcprec, 10); }},
      {"*DC_PREC 12\n", {keydcprec}, [] { EXPECT_EQ(g.guidcprec, 11); }},
      {"*DC_PREC 7\n", {keydcprec}, [] { EXPECT_EQ(g.guidcprec, 8); }},
      {"*DC_PREC nine\n", {}, [] {}, " error processing ini file:: *DC_PREC"},
      {"*SCANMETHOD zigzag\n", {keyscanmethod}, [] { EXPECT_EQ(g.guiscan, 0); }},
      {"*SCANMETHOD alternate\n", {keyscanmethod}, [] { EXPECT_EQ(g.guiscan, 1); }},
      {"*SCANMETHOD spiral\n", {}, [] {}},
      {"*TIMECODE 25, 70, -3, 10\n", {keytimecode},
       [] { EXPECT_EQ(std::vector<int>(g.guitimecode, g.guitimecode + 4), (std::vector<int>{23, 59, 0, 10})); }},
      {"*TIMECODE 1 2 3\n", {}, [] {}, " error processing ini file:: *TIMECODE"},
      {"*MATRIX kjlow\n", {keymatrix}, [] { EXPECT_EQ(g.matrixindex, 12); }},
      {"*MATRIX           KJ\n", {keymatrix}, [] { EXPECT_EQ(g.matrixindex, 4); }},
      {"*MATRIX tgn\n", {keymatrix}, [] { EXPECT_EQ(g.matrixindex, 2); }},
      {"*MATRIX tolv1\n", {keymatrix}, [] { EXPECT_EQ(g.matrixindex, 5); }},
      {"*MATRIX mirdo1cd\n", {keymatrix}, [] { EXPECT_EQ(g.matrixindex, 6); }},
      {"*MATRIX mpegstd\n", {keymatrix}, [] { EXPECT_EQ(g.matrixindex, 16); }},
      {"*MATRIX MPEG STANDARD\n", {keymatrix}, [] { EXPECT_EQ(g.matrixindex, 1); }},
      {"*MATRIX hvsbest\n", {keymatrix}, [] { EXPECT_EQ(g.matrixindex, 9); }},
      {"*MATRIX nice\n", {}, [] { EXPECT_EQ(g.matrixindex, 1); }},
      {"*BIAS 150\n", {keybias}, [] { EXPECT_EQ(g.guibias, 100); }},
      {"*BIAS 30\n", {keybias}, [] { EXPECT_EQ(g.guibias, 30); }},
      {"*BIAS\n", {}, [] {}, " error processing ini file:: *BIAS"},
      {"*WAIT 150\n", {keywait}, [] { EXPECT_EQ(g.guiwait, 99); }},
      {"*WAIT -1\n", {keywait}, [] { EXPECT_EQ(g.guiwait, 0); }},
      {"*WAIT x\n", {}, [] {}, " error processing ini file:: *WAIT"},
      {"*AUTOGOP 30\n", {keyautogop}, [] { EXPECT_EQ(g.guiautogop, 18); }},
      {"*AUTOGOP 13\n", {keyautogop}, [] { EXPECT_EQ(g.guiautogop, 13); }},
      {"*AUTOGOP\n", {}, [] {}},  // as the encoder: a line without a number is skipped
      {"*LUMGAIN -1\n", {keylumgain}, [] { EXPECT_EQ(g.guilumgain, 0); }},
      {"*LUMGAIN 9\n", {keylumgain}, [] { EXPECT_EQ(g.guilumgain, 4); }},
      {"*LUMGAIN x\n", {}, [] {}, " error processing ini file:: *LUMGAIN"},
      {"*MASK_SHIFT 8 8 -2000\n", {keymaskshift},
       [] { EXPECT_EQ(std::vector<int>(g.guimask, g.guimask + 3), (std::vector<int>{8, 8, -1152})); }},
      {"*MASK_SHIFT -4 2000 6\n", {keymaskshift},
       [] { EXPECT_EQ(std::vector<int>(g.guimask, g.guimask + 3), (std::vector<int>{0, 1152, 6})); }},
      {"*MASK_SHIFT 8 8\n", {}, [] {}, " error processing ini file:: *MASK_SHIFT"},
      {"*PREVIEW\n", {keypreview}, [] { EXPECT_TRUE(g.guipreview); }},
      {"*SILENT\n", {keysilent}, [] { EXPECT_TRUE(g.guisilent); }},
      {"*LASTIFRAME\n", {keylastiframe}, [] {}},
      {"*ADAPTIVEMATRIX\n", {keyadaptivematrix}, [] {}},
      {"*PULLDOWN\n", {keypulldown}, [] {}},
      {"*CLOSEDGOPS\n", {keyclosedgops}, [] {}},
      {"*NOVBV\n", {keynovbv}, [] {}},
      {"*NOSCD\n", {keynoscd}, [] {}},
      {"*INTERLACED\n", {keyinterlaced}, [] {}},
      {"*TFF\n", {keytff}, [] {}},
      {"*BFF\n", {keybff}, [] {}},
      {"*NOSEQ_ENDCODE\n", {keynoseqendcode}, [] {}},
      {"*SHUTDOWN\n", {keyshutdown}, [] {}},
      {"*SCDFILE\n", {keyscdfile}, [] {}},
      {"*CHAPTER 3\n100 200\n300\n400\n", {keychapter}, [] { EXPECT_EQ(chapters(), (std::vector<int>{100, 300, 400})); }},
      {"*CHAPTER 0\n*WAIT 7\n", {keychapter, keywait}, [] { EXPECT_EQ(chapters(), std::vector<int>{}); EXPECT_EQ(g.guiwait, 7); }},
      {"*CHAPTER 2\n5\n", {}, [] {}, " error processing ini file:: *CHAPTER"},
      {"*CHAPTER 2\n5\nfive\n", {}, [] {}, " error processing ini file:: *CHAPTER"},
      {"*ZONE 2\n100 1.5\n50 0.8\n", {keyzone},
       [] { EXPECT_EQ(zonetable.count, 1); EXPECT_EQ(zonetable.frames[1], 50); EXPECT_EQ(zonetable.factors[1], 0.8f); }},
      {"*ZONE 1\n10\n", {}, [] {}, " error processing ini file:: *ZONE"},
      {"*ZONE x\n", {}, [] {}, " error processing ini file:: *ZONE"},
      {"; a comment\n*UNKNOWN 5\n   *BITRATE 6000\n", {}, [] {}},
      {"*OUTFILE /tmp/My Film/Out.M2V\n", {keyoutfile}, [] { EXPECT_EQ(outputpath, "/tmp/My Film/Out.M2V"); }},
      {"*LOGFILE        run.Log   \n", {keylogfile}, [] { EXPECT_EQ(logpath, "run.Log"); }},
      {"*OUTFILE        \n", {}, [] { EXPECT_EQ(outputpath, ""); }},
      {"*INFILE missing.avs\n", {}, [] { EXPECT_EQ(inputpath, "missing.avs"); EXPECT_FALSE(inputexists); }},
  };
  start("");
  for (const row& r : rows) {
    writefile(dir + "user.ini", r.file);
    userinipath = dir + "user.ini";
    loadini(2);
    SCOPED_TRACE(r.file);
    EXPECT_EQ(statustext, r.status);
    EXPECT_EQ(seencount(), (int)r.seen.size());
    for (int k : r.seen) EXPECT_TRUE(iniseen[k]) << k;
    r.check();
  }
}

// A file from another system: CRLF line ends, tabs, a byte-order mark, keys in any case;
// paths keep their case and inner blanks.
TEST_F(reader, crlffilesandpathsofanycase) {
  std::string clip = script("My Clip.AVS", smallclip);
  start("\xEF\xBB\xBF*infile  " + clip + "\r\n*Bitrate\t6000\r\n*maxbitrate 7000\r\n*gop\t12,1\r\n" +
        "*LogFile    Run Log.TXT\r\n*chapter 2\r\n30\r\n10\r\n");
  EXPECT_EQ(statustext,
            " KJ.ini successfully processed, Avisynth.dll loaded, Avisynth successfully initialized, WARNING, "
            "resolution/frame\nrate mismatch");
  EXPECT_EQ(inputpath, clip);
  EXPECT_TRUE(iniseen[keyinfile]);
  EXPECT_EQ(g.avgkbits, 6000);
  EXPECT_EQ(g.maxkbits, 7000);
  EXPECT_EQ(g.guigoplength, 12);
  EXPECT_EQ(g.guibframes, 1);
  EXPECT_EQ(logpath, "Run Log.TXT");
  EXPECT_EQ(chapters(), (std::vector<int>{10, 30}));
}

// The end of a read in the status line: a missing KJ.ini, a file that cannot be opened, a
// missing input, and the two D2V outcomes of the input check.
TEST_F(reader, endmessages) {
  start("");
  EXPECT_EQ(statustext, " KJ.ini not found, using default GUI settings");
  userinipath = dir + "absent.ini";
  loadini(2);
  EXPECT_EQ(statustext, " error openening ini file");
  EXPECT_EQ(seencount(), 0);
  ASSERT_EQ(mkfifo((dir + "fifo.ini").c_str(), 0600), 0);
  userinipath = dir + "fifo.ini";
  loadini(2);  // never waits for a writer
  EXPECT_EQ(statustext, " error openening ini file");
  writefile(dir + "KJ.ini", "*INFILE " + dir + "gone.avs\n*OUTFILE out.m2v\n");
  loadini(1);
  EXPECT_EQ(statustext, " KJ.ini successfully processed, WARNING, input file not found");
  EXPECT_FALSE(iniseen[keyinfile]);
  EXPECT_TRUE(iniseen[keyoutfile]);
  EXPECT_EQ(inputpath, dir + "gone.avs");

  const struct {
    int mode, d2vstatus;
    bool input;
    const char* status;
  } rows[] = {
      {1, 0, true, " KJ.ini successfully processed"},
      {2, 0, true, " USER ini file successfully processed"},
      {1, 2, false,
       " KJ.ini successfully processed, ERROR, invalid D2V project, can't find the VOB/MPEG files, WARNING, input\n"
       "file not found"},
      {2, 1, true,
       " USER ini file successfully processed, ERROR, invalid D2V project, DGIndex/DGDecode mismatch, D2V project\n"
       "must be file format version 6, 10, 11, 12, 13, 15 or 16"},
  };
  for (const auto& r : rows) {
    inputexists = r.input;
    inireport(r.mode, r.d2vstatus);
    EXPECT_EQ(statustext, r.status);
  }
}

// An unreadable value ends the read: every mark is cleared, the values read before it stay,
// the lines after it are not read, and no end message is shown.
TEST_F(reader, anunreadablevalueendstheread) {
  start("");
  writefile(dir + "user.ini", "*BITRATE 6000\n*NOVBV\n*LUMGAIN x\n*WAIT 9\n");
  userinipath = dir + "user.ini";
  loadini(2);
  EXPECT_EQ(statustext, " error processing ini file:: *LUMGAIN");
  EXPECT_EQ(seencount(), 0);
  EXPECT_EQ(g.avgkbits, 6000);
  EXPECT_NE(g.guiwait, 9);
  // A path that goes on past its 500 characters is refused, never cut; one of 500 is taken.
  writefile(dir + "user.ini", "*OUTFILE " + std::string(500, 'o') + "x\n");
  loadini(2);
  EXPECT_EQ(statustext, " error processing ini file:: *OUTFILE");
  writefile(dir + "user.ini", "*OUTFILE " + std::string(500, 'o') + "\n");
  loadini(2);
  EXPECT_EQ(outputpath, std::string(500, 'o'));
  // A list line longer than the encoder takes.
  writefile(dir + "user.ini", "*CHAPTER 1\n" + std::string(1 << 20, '1') + "2\n");
  loadini(2);
  EXPECT_EQ(statustext, " error processing ini file:: *CHAPTER");
}

// The matrix named last in the file is the one used, as the encoder takes it; the custom pair
// comes into 1..255 with an intra DC of 8; "*INTRAMATRIX" and "*INTERMATRIX" give its halves.
TEST_F(reader, matricesasthencodertakesthem) {
  std::string lines;
  for (int r = 0; r < 8; r++) lines += r == 0 ? "0 300 3 4 5 6 7 8\n" : "20 20 20 20 20 20 20 20\n";
  std::string pair = "*CUSTOMMATRIX\n" + lines + "\n" + lines;
  start("");
  userinipath = dir + "user.ini";
  writefile(userinipath, pair + "*MATRIX kj\n");
  loadini(2);
  EXPECT_FALSE(iniseen[keycustommatrix]);
  EXPECT_TRUE(iniseen[keymatrix]);
  EXPECT_EQ(g.matrixindex, 4);
  writefile(userinipath, pair + "*MATRIX unknown\n");
  loadini(2);
  EXPECT_FALSE(iniseen[keycustommatrix]);
  EXPECT_EQ(g.matrixindex, 1);
  writefile(userinipath, "*MATRIX kj\n" + pair);
  loadini(2);
  EXPECT_TRUE(iniseen[keycustommatrix]);
  EXPECT_EQ(custommatrix.intra[0], 8);
  EXPECT_EQ(custommatrix.intra[1], 255);
  EXPECT_EQ(custommatrix.intra[2], 3);
  EXPECT_EQ(custommatrix.nonintra[0], 1);
  EXPECT_EQ(custommatrix.nonintra[1], 255);
  EXPECT_EQ(custommatrix.nonintra[63], 20);
  writefile(userinipath, pair + "*INTERMATRIX\n" + std::string(192, ' ') + "\n");
  loadini(2);
  EXPECT_EQ(statustext, " error processing ini file:: *INTERMATRIX");
  std::string nines;
  for (int i = 0; i < 64; i++) nines += "9,";
  writefile(userinipath, pair + "*INTERMATRIX\n" + nines + "\n");
  loadini(2);
  EXPECT_TRUE(iniseen[keycustommatrix]);
  EXPECT_EQ(custommatrix.intra[1], 255);
  EXPECT_EQ(custommatrix.nonintra[0], 9);
  EXPECT_EQ(inicarried, (std::vector<std::string>{"*INTERMATRIX", nines}));
}

// A read empties both tables first; every "*CHAPTER" list counts, sorted, without repeats or
// negative frames; zones as the encoder applies them.
TEST_F(reader, chaptersandzonesofafile) {
  start("");
  chaptertable.count = 1, chaptertable.frames[1] = 5;
  zonetable.count = 1, zonetable.frames[1] = 5, zonetable.factors[1] = 1.5f;
  userinipath = dir + "user.ini";
  writefile(userinipath, "*WAIT 3\n");
  loadini(2);
  EXPECT_EQ(chaptertable.count, 0);
  EXPECT_EQ(zonetable.count, 0);
  writefile(userinipath, "*CHAPTER 3\n300\n-1\n100\n*CHAPTER 2\n100\n700000\n*ZONE 3\n0 1.0\n500 2.5\n200 0.3\n");
  loadini(2);
  EXPECT_EQ(chapters(), (std::vector<int>{100, 300, lastencoderframe}));
  ASSERT_EQ(zonetable.count, 2);
  EXPECT_EQ(zonetable.frames[2], 200);
  EXPECT_EQ(zonetable.factors[2], 0.5f);
}
