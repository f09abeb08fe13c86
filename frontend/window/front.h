// The front end's window, pages and preview (subsystem 7): the dialogs, the status line, the
// start-up paths, the source and the preview state, and the routines of the pages.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

struct dialogrecord;
struct cpuidwords;

// ---- the dialogs: 101 the main dialog, 102..107 its pages ----
enum frontdialogs : int {
  dlgmain = 101,
  pagemain = 102,
  pagesettings1 = 103,
  pagesettings2 = 104,
  pagematrix = 105,
  pagechapters = 106,
  pagezones = 107,
};
constexpr int tabcontrol = 1006;   // the main dialog's tab control
constexpr int statuscontrol = 1076;
// The dialog record of 101..107 (loaded by guimain; null before).
dialogrecord* frontdialog(int id);
// The same as a reference, for routines that run while the window exists.
dialogrecord& dlgof(int id);

// The program: builds the window, runs the start-up chain and the message loop; the result is
// the exit code.
int guimain();
void mainevent(dialogrecord& dlg, int id, int event);
void tabchange(dialogrecord& dlg, int id, int event);

// ---- the status line ----
// The text shown in the status line: at most 200 characters.
constexpr size_t statuslength = 200;
extern std::string statustext;
// Replaces the status line with text (append false) or puts text right behind its last
// non-blank character (append true), cut at 200 characters in all; then breaks the lines: the
// first blank at column 101 or later of a line becomes a line feed.
void showinfo(const std::string& text, bool append);
// Empties the control; statustext keeps its text for a later append.
void clearinfo();

// ---- start-up paths ----
extern std::string progdir;      // the program's folder, with the trailing '/'
extern std::string decoderdir;   // progdir + "DGDecode/": the versioned decoder libraries
extern std::string matrixdir;    // progdir + "matrix/": where the matrix file choosers start
extern std::string inifilepath;  // progdir + "KJ.ini"
extern bool inifileexisted;      // KJ.ini was there at start-up
extern std::string encoderpath;  // progdir + "ostrel"
extern std::string avsdllpath;   // our frame server, progdir + "avisynth.dll"
extern std::string avsdlldate;   // its creation date "dd-mm-yyyy" (blanks for a missing file)
extern bool avsdatematch;        // that date is 28 October 2005
// Builds the paths from the running program's folder (or the folder given, with its '/') and
// removes a decoder library that an earlier encode left staged in the program folder.
void initpaths(const std::string& folder = "");
// The creation date of avsdllpath into avsdlldate and avsdatematch; false, both unchanged, when
// the file is not there.
bool avsdllstamp();
// A path as a button label: itself up to 40 characters, else its first 5, "..." and its last 32.
std::string shortpath(const std::string& path);
// The folder part of a path, up to and including its last '/'; empty without one.
std::string pathdir(const std::string& path);

// ---- the source, the preview and the environment ----
extern bool avsinput, d2vinput;  // the input is a script (".avs") or an accepted D2V project
extern int d2vversion;           // the project's format version, 0 for a script
extern bool d2vversionok, d2vfilesfound;
extern bool avsloaded;           // avisynth.dll was loaded (it stays loaded to the end)
extern bool src23976;            // the source runs at 23.976 frames a second
// The kind of the input by its name's ending in any case (avsinput, d2vinput; the path keeps
// its case) and, for a D2V project, its format version, the decoder library of that version
// (d2vlibpath) and whether the video files it lists exist, found as our decoder library finds
// them: as written, else beside the project, else with backslashes as '/'. A version without a
// library, or a first line that ends in no number, is unsupported (d2vversionok false); an
// unreadable project, an unreadable or zero count, a short list or a listed file that is not
// there is a project whose files are not found (d2vfilesfound and d2vversionok false). Either
// way the input no longer counts as a D2V project.
void pickdecoder();
// The D2V format versions the front end has a decoder library for, and the library's name
// in decoderdir ("DGDecode16.dll"); nullptr for any other version.
const char* d2vlibrary(int version);
// The versions the front end has a library for, as the status line tells a project of another
// version: ", D2V project must be file format version 6, 10, ... or 16".
std::string d2vmismatch();
// A file name as the encoder takes it: the front end starts it in the program folder, so a
// relative name in KJ.ini is a file there, whatever folder the front end runs in.
std::string asencoder(const std::string& path);
// The decoder library a D2V encode needs, staged for the encoder as progdir + "DGDecode.dll".
// A library that was there already (the one built beside the programs) is set aside as
// "DGDecode.dll.kept" and comes back when the staged one is removed; a mark file
// "DGDecode.dll.staged" tells a staged library from one that belongs there, so a library is
// removed only when the front end staged it. False when the copy failed (nothing staged).
bool stagedecoder(const std::string& library);
void removestageddecoder();
// The processor check of the start-up: the level of the processor's feature words into
// guisettings.cpulevel (0 none, 1 MMX, 2 SSE2, 3 SSE3, 4 SSSE3). Without MMX the status line
// says so, and after 5 seconds the program quits. The second form takes the words given
// (made-up processors for tests).
void cpucheck();
void cpucheck(const cpuidwords& words);
// The DVD-compliance warnings for the open source's frame rate and picture size, appended to
// the status line; sets src23976.
void dvdcheck();
// The version numbers a file of ours carries (common/fileversion.h): 0 with numbers filled;
// errno when the file cannot be read, -1 when it carries no version (numbers all 0).
int fileversion(const std::string& path, int numbers[4]);
// Our frame server's installation: found when avisynth.dll is in the program folder (the bridge
// loads it from there first). The status line says where; its date is read again.
void findavisynth(bool& found);
// The status texts of the Main page's "Ostrel info", "Avisynth info" and "DGDecode info" buttons.
void encoderinfo();
void avsinfo();
void decoderinfo();
// The opens of the input (a script, a D2V project through the library d2vlibpath) for the movie
// information and the preview pages: the outcome goes to the status line and the model. A picture
// larger than the preview planes (1920 x 1152) fails the open with its own message.
void openavs(int);
void opend2v(int);
extern std::string d2vlibpath;  // the versioned decoder library pickdecoder chose for the project

// ---- the preview ----
// The planes of one source frame: Y of at most 1920 x 1152 bytes, U and V a quarter of that,
// packed (pitches width and width / 2), 16-byte aligned. The bridge fetches into sourceplanes;
// the preview masks a copy, so sourceplanes always hold the frame as the source gives it.
constexpr int previewmaxwidth = 1920, previewmaxheight = 1152;
constexpr int previewlumabytes = previewmaxwidth * previewmaxheight;
struct planeset {
  alignas(16) uint8_t y[previewlumabytes];
  alignas(16) uint8_t u[previewlumabytes / 4];
  alignas(16) uint8_t v[previewlumabytes / 4];
};
extern planeset sourceplanes;
// The preview's 24-bit image: a 54-byte BMP header, then 3 x width x height bytes of rows.
extern uint8_t previewbitmap[54 + 3 * previewlumabytes];
// Masks and shifts the planes in place as the encoder does (top, bottom lines; shift > 0 moves
// the picture up; chroma by whole rows), then writes their BMP image into bitmap. The second
// plane is Cr (V), the third Cb (U). Pictures of 1 .. 1920 x 1 .. 1152 samples; others leave the
// bitmap as it was.
void previewbmp(uint8_t* y, uint8_t* cr, uint8_t* cb, int width, int height, int top, int bottom, int shift,
                uint8_t* bitmap);
// Where paintpreview puts the picture in a picture box of boxwidth x boxheight pixels: the
// aspect's shape (1 = 1:1, 2 = 4:3, 3 = 16:9, 4 = 2.21:1, drawn 240 x 240, 320 x 240, 426 x 240,
// 434 x 200) as large as it fits, centred; empty for any other aspect.
struct previewrect {
  int x = 0, y = 0, w = 0, h = 0;
};
previewrect previewplace(int aspect, int boxwidth, int boxheight);
// Draws previewbitmap into the page's picture box at the model's aspect, black around it,
// stretched to the nearest sample. Any thread, one at a time: showpicture calls it under the
// preview's lock.
void paintpreview(dialogrecord& page);
// The preview of what sourceplanes hold, drawn on the page: a masked copy, its image, the paint.
void showpicture(dialogrecord& page);
// Fetches previewframe of the open source into sourceplanes (a failed fetch keeps the planes)
// and shows it on the page; nothing without a source.
void showframe(dialogrecord& page);

// ---- defaults ----
void setdefaults();
void makedvd();

// ---- the buttons and callbacks of the pages ----
void mainbutton(dialogrecord& dlg, int id, int event);
void mainclick(dialogrecord& dlg, int id, int event);
void mainedit(dialogrecord& dlg, int id, int event);
void mainfocus(dialogrecord& dlg, int id, int event);
void set1click(dialogrecord& dlg, int id, int event);
void set2click(dialogrecord& dlg, int id, int event);
void set2edit(dialogrecord& dlg, int id, int event);
void set2focus(dialogrecord& dlg, int id, int event);
void chapterpage(dialogrecord& dlg, int id, int event);
void zonepage(dialogrecord& dlg, int id, int event);

// ---- chapters, zones and the preview frame ----
// The chapter frames (closed GOPs start there) and the zones (the bitrate of the frames from a
// zone's frame on is scaled by its factor) that KJ.ini carries to the encoder. Both tables hold
// 0-based source frame numbers at positions 1..count, ascending, without duplicates; every
// position above count holds 0.
constexpr int maxchapters = 640000;
constexpr int maxzones = 6400;
// The encoder keeps one chapter mark and one zone factor per frame 0..639,999 and takes a
// larger frame number as 639,999; its zone factors lie in 0.5..2.0.
constexpr int lastencoderframe = 639999;
constexpr float minzonefactor = 0.5f, maxzonefactor = 2.0f;
struct chaptertablerec {
  int count = 0;
  int frames[maxchapters + 1] = {};  // positions 1..count, ascending
};
struct zonetablerec {
  int count = 0;
  int frames[maxzones + 2] = {};    // positions 1..count, ascending
  float factors[maxzones + 2] = {};  // position count + 1: the factor of a zone being added
};
extern chaptertablerec chaptertable;
extern zonetablerec zonetable;
struct previewstaterec {
  int previewframe = 0;  // the frame shown, 0-based
  int smallstep = 10, largestep = 100;
  int sliderrange = 1000;
  int width = 0, height = 0;  // the source's picture
  int lumapitch = 0, chromapitch = 0;
  int lumasize = 0, chromasize = 0;  // bytes of a frame's Y plane and of each chroma plane
};
extern previewstaterec previewstate;
// Sorts values[1..count] ascending in place (a heap sort; nothing for count <= 1).
void heapsortint(int count, int* values);
// Adds (frame >= 0) or removes (frame = -p: the chapter at position p) a chapter, or only sorts
// the table (sortonly; frame and removed are not used). An add of a frame that is there already
// changes nothing. After an add or a remove, chapters past the last frame of the open source
// (frame >= guisettings.sourceframes, while a source is open) are dropped from the end of the
// table and counted in removed. False when the add was refused because the table is full, or
// when p names no chapter; the table is unchanged then.
bool chapterset(int frame, int& removed, bool sortonly = false);
// The same for the zones. An add (frame >= 0) takes its factor from the staging slot
// zonetable.factors[count + 1], brought into 0.5..2.0: a frame that has a zone already gets
// the new factor (no trim), a new frame becomes a zone of its own in frame order. A full table
// refuses a new frame (false) but still takes a new factor for an existing zone.
bool zoneset(int frame, int& removed, bool sortonly = false);
// A typed zone value as a factor: to the nearest tenth (halves away from zero), then into
// 0.5..2.0, the range the encoder applies.
float zonefactor(float value);
// Replaces the chapter table by the frames given, as the encoder takes a list of them: a
// frame above 639,999 counts as 639,999; sorted; negative frames and repeats dropped. The
// result is the number of frames dropped.
int setchapters(const std::vector<int>& frames);
// Appends a zone of a list read in file order, as the encoder applies such a list: a zone
// sets the factor from its frame to the end, so it replaces every zone at or after its frame
// (a zone read later wins). The frame is brought into 0..639,999 and the factor into 0.5..2.0.
// False when the table is full (nothing changed).
bool zonefromlist(int frame, float factor);
void clearchapters();
void clearzones();
// A list box rebuilt whole from the frames of a table, each right-aligned in 8 columns.
void fillframelist(dialogrecord& dlg, int id, const int* frames, int count);
// The two pages' lists rebuilt whole from their tables: list 1094 of page 106 a chapter frame a
// line (8 columns, right-aligned), list 1117 of page 107 a zone a line as zoneline gives it.
void showchapterlist();
void showzonelist();
// "    1500 | 0.5": the frame in 8 columns, " | ", the factor with one decimal in 3 columns.
std::string zoneline(int frame, float factor);
// The sliders' rules for the open source (single precision, nearest with halves away from zero):
// a frame's position is range x frame / frames, a position's frame (frames - 1) x position /
// range, at least 0. Both give 0 without a source.
int sliderposition(int frame);
int sliderframe(int position);

// ---- the scene-change scan ----
// The scan runs on a thread of its own and stops cooperatively: it checks scanstopping()
// before every frame and ends; stopscan asks it to and joins it. No thread is ever killed.
extern std::atomic<bool> scanrunning;
void startscan(std::function<void()> body);
bool scanstopping();
// Stops a running scan (" aborting scene change detection scan..." in the status line) and
// waits for its thread; nothing happens without one.
void stopscan();
void scdbutton();
