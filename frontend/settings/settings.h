// The front end's settings model and the routines that move it between KJ.ini, the page
// controls and files (subsystem 6).
//
// The pages are the live copy of most settings: the KJ.ini writer reads the controls. The model
// keeps what other routines compute with, the file names and the marks of the keys the last
// settings file named. Texts are kept without trailing blanks; paths keep their case.
#pragma once

#include <string>
#include <vector>

struct builtinpair;
struct dialogrecord;

struct guisettingsrec {
  int startframe = -1, endframe = -1;  // "*FRAMES": first and last frame to encode
  int framespan = 0;                   // frames to encode: endframe - startframe + 1
  int sourceframes = 0;                // frames of the open source
  int avgkbits = 0, maxkbits = 0;      // "*BITRATE", "*MAXBITRATE", kbit/s
  int filekbytes = 0;                  // estimated stream length, kbytes of 1,024 bytes
  int guiprofile = 0;                  // "*PROFILE": 1 fast, 2 normal, 4 best
  int guiaspect = 0;                   // "*ASPECT": 1 = 1:1, 2 = 4:3, 3 = 16:9, 4 = 2.21:1
  int cpulevel = 0;                    // detected: 0 none, 1 MMX, 2 SSE2, 3 SSE3, 4 SSSE3
  int guigoplength = 0, guibframes = 0;  // "*GOP"
  int matrixindex = 1;                 // "*MATRIX": built-in pair 1..16 (the Matrix page's numbering), 99 custom
  int guibias = 0;                     // "*BIAS", 0..100
  int guicpu = 0;                      // "*CPU": 0 auto, 1 MMX, 2 SSE2, 3 SSE3, 4 SSSE3
  int guidcprec = 0;                   // "*DC_PREC", bits
  int guiscan = 0;                     // "*SCANMETHOD": 0 zigzag, 1 alternate
  int guitimecode[4] = {};             // "*TIMECODE": hours, minutes, seconds, frames
  int guiwait = 0;                     // "*WAIT", seconds 0..99
  int guiautogop = 0;                  // "*AUTOGOP", longest automatic GOP 12..18
  int guimask[3] = {};                 // "*MASK_SHIFT": top lines, bottom lines, shift lines
  int guilumgain = 0;                  // "*LUMGAIN", 0..4
  float guicq = 0, guicqmbr = 0;       // "*CQ", "*CQ_MAXBITRATE"
  float guipfactor = 0, guibfactor = 0;  // "*CQ_PFACTOR", "*CQ_BFACTOR"
  bool guipreview = false, guisilent = false;  // "*PREVIEW", "*SILENT"
  float sourcefps = 0;                 // frames per second of the open source
  float sourceseconds = 0;             // its length in seconds
};
extern guisettingsrec guisettings;

// The keys the last settings file named, by key code (1 "*INFILE" ... 44 "*SCDFILE"; 4, 13,
// 19 and 20 name no key). A switch key's word is its value. Words 1, 2 and 12 also mark that an
// input, output or log file is set (the file buttons set them).
constexpr int inikeycount = 128;
extern bool iniseen[inikeycount];
enum inikeys : int {
  keyinfile = 1, keyoutfile = 2, keyframes = 3, keycq = 5, keybitrate = 6, keymaxbitrate = 7,
  keypreview = 8, keyprofile = 9, keyaspect = 10, keycqmaxbitrate = 11, keylogfile = 12,
  keylastiframe = 14, keycqpfactor = 15, keycqbfactor = 16, keyadaptivematrix = 17,
  keypulldown = 18, keycpu = 21, keygop = 22, keydcprec = 23, keyscanmethod = 24,
  keytimecode = 25, keymatrix = 26, keycustommatrix = 27, keybias = 28, keyclosedgops = 29,
  keynovbv = 30, keynoscd = 31, keychapter = 32, keyinterlaced = 33, keymaskshift = 34,
  keytff = 35, keybff = 36, keywait = 37, keynoseqendcode = 38, keyshutdown = 39,
  keyautogop = 40, keyzone = 41, keylumgain = 42, keysilent = 43, keyscdfile = 44,
};

// Lines of the last settings file whose keys the encoder reads but the pages do not show
// ("*VBVSIZE", "*MASK_VALUE", "*INTRAMATRIX", "*INTERMATRIX"), each with the list lines that
// follow it, as read. The writer puts them back first, before every key the pages manage, so a
// user's hand-written settings are never lost and the pages' settings come after them.
extern std::vector<std::string> inicarried;

// The quantiser matrices. The Matrix page numbers the sixteen built-in pairs its own way
// (matrixindex 1 MPEG, 2 TGN, 3 NOTCH, 4 KJ, 5 TOLV1, 6 MIRDO1CD, 7 HVSGOOD, 8 HVSBETTER,
// 9 HVSBEST, 10 ZELMAT6, 11 ZELMAT7, 12 KJLOW, 13 KIV1, 14 KIV2, 15 KIV3, 16 MPEG STANDARD);
// the values are the encoder's pairs of the same names, from the one table of the tree
// (common/matrices.h). Matrices are 64 entries in raster order of the 8x8 block, intra first.
constexpr int custommatrixindex = 99;
struct matrixpairrec {
  int intra[64];
  int nonintra[64];
};
// The custom pair: at start the MPEG-2 default intra matrix and a flat 16 non-intra matrix.
extern matrixpairrec custommatrix;
matrixpairrec initialcustommatrix();
// The encoder's matrix number of a built-in pair (common/matrices.h); 0 outside 1..16.
int encodermatrix(int matrixindex);
// The Matrix page's number of the encoder's pair matrixno; 1 (MPEG) for any other number.
int guimatrixindex(int matrixno);
// The pair of matrixindex 1..16; nullptr for any other number.
const builtinpair* guimatrix(int matrixindex);
// The name the Matrix page's combo box shows for matrixindex 1..16; "" for any other number.
const char* guimatrixname(int matrixindex);
// The custom pair as the front end keeps it: intra DC 8, every other entry in 1..255.
void clampcustommatrix();

// The P and B quantiser factors of the Settings 1 page: spin position n shows entry n - 1.
inline constexpr float factortable[32] = {0.5f, 0.6f, 0.7f, 0.75f, 0.8f, 0.85f, 0.9f, 0.95f, 1.0f, 1.05f, 1.1f,
                                          1.15f, 1.2f, 1.25f, 1.3f, 1.4f, 1.5f, 1.6f, 1.7f, 1.8f, 1.9f, 2.0f,
                                          2.2f, 2.4f, 2.6f, 2.8f, 3.0f, 3.2f, 3.4f, 3.6f, 3.8f, 4.0f};

// File names; paths are cut at 512 characters.
extern std::string inputpath, outputpath, logpath;
extern std::string userinipath;  // the settings file the user chose ("load/save ini file")
extern std::string chapterpath, matrixpath;
constexpr size_t pathlength = 512;

extern bool inputexists;     // the input file exists
extern bool movieinfovalid;  // a source is open and its description is valid
extern bool outputset;       // an output file was named
extern bool d2vloaded;       // the decoder library that fits the project is loaded
extern bool settingsvalid;   // the last KJ.ini write found the settings writable

// Reads a settings file into the model: mode 1 KJ.ini of the program folder, mode 2 the file
// the user chose. Resets the pages to their defaults first; reports in the status line.
void loadini(int mode);
// The status line at the end of a read that found no error: the success text of the mode, then
// by the D2V outcome of the input (0 fine, 1 no decoder library for the project's version,
// 2 its video files are missing) its error, and the warning when inputexists is false.
void inireport(int mode, int d2vstatus);
// The keys seen go into the page controls; then the file labels, the encode button, the lists
// and the movie information follow the model.
void setcontrols();
void setfilelabels();
// The movie information group and the estimated file length of the Main page.
void movieinfo();
void filelength();
// Writes KJ.ini from the page controls: mode 1 KJ.ini of the program folder, mode 2 the file
// the user chose; sets settingsvalid and reports in the status line. A refused or failed write
// leaves the file as it was.
void saveini(int mode);
// The lines saveini writes for the pages as they stand, in order, page texts read as fields of
// textlength characters (the writer reads 40). Stores what the encoder will read of the
// numbers it writes in guisettings (frames, GOP, bias, mask, time code, wait). False when a
// value would be refused by the encoder or cannot be written: lines holds the lines before it,
// and refusal why, as the status line continues " KJ.ini write aborted, " (for example
// "invalid CQ value, not a number").
bool inilines(std::vector<std::string>& lines, std::string& refusal, int textlength = 40);
// Writes content to target whole or not at all: into a new file beside it, put in its place
// only when complete (a link is followed; the old file's permissions are kept). A target that
// is the input, output or log file, or is no regular file, is refused. False with why.
bool writewhole(const std::string& target, const std::string& content, std::string& why);
// The KJ.ini preview lists of the two settings pages: the lines saveini would write, in its
// order, each cut to 127 characters; the lists scroll across the longest file line.
void showini();
// The time code, wait and bias words from the Settings 2 edits, as the writer reads and clamps
// them; an edit that holds no number leaves its word. The edits fall back to these words when
// a typed text is no number, so every routine that sets those edits calls this.
void pagewords();
// The Matrix page. showmatrix copies the chosen pair (built-in matrixindex 1..16, or the
// custom pair, brought into range first) into viewmatrix and shows it in the 128 grid cells;
// any other matrixindex shows viewmatrix as it was. enablegrid sets the cells' enabled state
// (the intra DC cell always disabled). readgrid reads the cells into the custom pair (a blank
// cell counts as 16, entries into 1..255, intra DC 8); writegrid shows the custom pair in the
// cells, the intra DC cell left alone.
extern matrixpairrec viewmatrix;
void showmatrix();
void enablegrid(bool enabled);
void readgrid();
void writegrid();
void matrixclick(dialogrecord& dlg, int id, int event);
void gridedit(dialogrecord& dlg, int id, int event);
void gridfocus(dialogrecord& dlg, int id, int event);
// Every button that chooses, loads or saves a file.
void filebutton(dialogrecord& dlg, int id, int event);
// A settings file loaded on request (mode 1 KJ.ini of the program folder, 2 userinipath) and
// at start-up: the pages to their defaults, the file read, the pages and file labels from it,
// its input opened.
void loadsettings(int mode);
// The input steps after inputpath was chosen: the kind and decoder of the input, the source
// opened, the chapters and zones cleared; a file that is not there or does not open leaves no
// input. Then the file labels.
void inputchosen();

// The custom matrix pair in files (matrixpath): ".mtx", 17 text lines (the intra matrix as 8
// rows of 8 numbers in 4 columns each, an empty line, the non-intra matrix the same way) and
// ".cqm", 128 bytes (intra then non-intra, one byte an entry); both in raster order. readmatrix
// takes the format from the name's ending in any case and reads the ".mtx" numbers in free
// format (the non-intra ones from the line after the 64th intra value); the pair changes only
// when the whole file was read (ok true), values as read. Each reports in the status line on
// failure; the writers write the whole file or leave the old one.
void readmatrix(bool& ok);
// The 17 lines of a pair as ".mtx" files and the "*CUSTOMMATRIX" block of KJ.ini hold it.
std::vector<std::string> matrixrows(const matrixpairrec& m);
bool writemtx();
bool writecqm();
// The chapter list file (chapterpath): "*CHAPTER", 10 blanks and the count, then one frame a
// line. writechapters writes nothing for an empty table and reports only a failure.
// readchapters takes that form (the count in free format, then as many frames in free
// format) or a plain list (the first number of each line that holds one); the frames go into
// the table sorted, without repeats, negative frames or frames past the open source (and the
// encoder's last frame), and the status line says how many were read and dropped. A file that
// cannot be read leaves the table as it was.
bool writechapters();
void readchapters();
