// The front end's settings model and the routines that move it between KJ.ini, the page
// controls and files (subsystem 6).
//
// The pages are the live copy of most settings: the KJ.ini writer reads the controls. The model
// keeps what other routines compute with, the file names and the marks of the keys the last
// settings file named. Texts are kept without trailing blanks; paths keep their case.
#pragma once

#include <string>

struct dialogrecord;

struct guisettingsrec {
  int startframe = -1, endframe = -1;  // "*FRAMES": first and last frame to encode
  int framespan = 0;                   // endframe - startframe
  int sourceframes = 0;                // frames of the open source
  int avgkbits = 0, maxkbits = 0;      // "*BITRATE", "*MAXBITRATE", kbit/s
  int filekbytes = 0;                  // estimated stream length, kbytes of 1,024 bytes
  int guiprofile = 0;                  // "*PROFILE": 1 fast, 2 normal, 4 best
  int guiaspect = 0;                   // "*ASPECT": 1 = 1:1, 2 = 4:3, 3 = 16:9, 4 = 2.21:1
  int cpulevel = 0;                    // detected: 0 none, 1 MMX, 2 SSE2, 3 SSE3, 4 SSSE3
  int guigoplength = 0, guibframes = 0;  // "*GOP"
  int matrixindex = 1;                 // "*MATRIX": built-in pair 1..16 (the front end's numbering), 99 custom
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

// The keys the last settings file named, by key code (1 "*INFILE" ... 44 "*SCDFILE"). Words
// 1, 2 and 12 also mark that an input, output or log file is set (the file buttons set them).
constexpr int inikeycount = 128;
extern bool iniseen[inikeycount];
enum inikeys : int { keyinfile = 1, keyoutfile = 2, keyframes = 3, keylogfile = 12 };

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
// The keys seen go into the page controls; then the file labels, the encode button, the lists
// and the movie information follow the model.
void setcontrols();
void setfilelabels();
// The movie information group and the estimated file length of the Main page.
void movieinfo();
void filelength();
// Writes KJ.ini from the page controls: mode 1 KJ.ini of the program folder, mode 2 the file
// the user chose; sets settingsvalid.
void saveini(int mode);
// The KJ.ini preview lists of the two settings pages.
void showini();
// The Matrix page: the chosen pair into the grids, the grids' enabled state, the callbacks.
void showmatrix();
void enablegrid(bool enabled);
void matrixclick(dialogrecord& dlg, int id, int event);
void gridedit(dialogrecord& dlg, int id, int event);
void gridfocus(dialogrecord& dlg, int id, int event);
// Every button that chooses, loads or saves a file.
void filebutton(dialogrecord& dlg, int id, int event);
