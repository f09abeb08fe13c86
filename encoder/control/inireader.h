// The settings file reader: KJ.ini as the encoder takes it.
//
// One setting a line: a key beginning with '*', its value in fixed columns after it, lists
// on the lines that follow. Keys compare without case; paths keep their case exactly.
// "*ZONE" lists are applied once the file is read, in time proportional to zones and frames.
// A line that matches no key (comments, blank lines, "*SILENT") is skipped. Lines are taken
// as 512-character records: a longer line is cut, a trailing CR dropped, a tab is a blank.
//
// Start-up calls, on the window thread, after getargs and after settings.inifile is set:
//   std::string text;
//   int code = readini(text);       // 0, 265 (text = ": *KEY" or ""), 266
//   if (code == 0) checkini();      // needs showwindow and settings.simdlevel (detected) set
//   then parseargs (switches.h).
#pragma once

#include <cstdint>
#include <string>

#include "common/inifile.h"

// Keys in compare order: the first key whose text starts the line decides ("*CQ" comes after
// the three "*CQ_" keys it would also match).
enum inikey : int {
  keyinfile, keyoutfile, keyframes, keybitrate, keymaxbitrate, keypreview, keyprofile,
  keyaspect, keycqmaxbitrate, keycqpfactor, keycqbfactor, keycq, keylogfile, keylastiframe,
  keyadaptivematrix, keypulldown, keymaskshift, keymaskvalue, keycpu, keygop, keydcprec,
  keyscanmethod, keytimecode, keymatrix, keycustommatrix, keybias, keyclosedgops, keynovbv,
  keynoscd, keychapter, keyinterlaced, keyautogop, keytff, keybff, keywait, keynoseqendcode,
  keyshutdown, keyzone, keylumgain, keyvbvsize, keyintramatrix, keyintermatrix, keyscdfile,
  inikeycount
};

// The key texts, upper case, in compare order: the table both programs read KJ.ini by.
static_assert(inikeycount == inifilekeycount);
inline const char* const (&inikeys)[inikeycount] = inifilekeys;

// The file values, in the file's units (bitrates kbit/s, DC precision in bits).
struct inivaluesrec {
  int firstframe = 0, lastframe = 9999999;
  int bitrate = 5000, maxbitrate = 8000;  // kbit/s
  bool preview = false;
  int profile = 2;                        // 1 fast, 2 normal, 4 best
  int aspect = 3;
  float cq = 5.0f, cqmaxbitrate = 5.0f;
  float cqpfactor = 1.0f, cqbfactor = 1.0f;
  int passmode = 2;
  bool lastiframe = false, adaptivematrix = false, pulldown = false;
  bool maskon = false;
  int maskshift[3] = {0, 0, 0};           // top lines, bottom lines, vertical shift
  int maskvalue[3] = {16, -128, -128};    // Y, U, V; the low byte is the fill value
  int cpu = 0;                            // 0 automatic, 1..4 forced level, 5 SSE4 (automatic)
  int goplength = 15, bframes = 2;
  bool autogop = true;
  int autogopmax = 15;
  int dcprec = 9;                         // bits
  int scanmethod = 0;                     // 0 not given, 1 zigzag, 2 alternate
  int timecode[4] = {0, 0, 0, 0};         // hours, minutes, seconds, frames
  int matrixno = 1;
  int32_t customintra[64], customnonintra[64];  // as read; preset: pair 1
  int bias = 0;
  bool closedgops = false, novbv = false, noscd = false, interlaced = false;
  bool tff = true, bff = false;
  int wait = 5;
  bool seqendcode = true, shutdown = false, scdfile = false;
  int chaptercount = 0, zonecount = 0;
  int lumgain = 0;
  int vbvsize = 0;                        // bits
  bool vbvsizegiven = false;
};

extern inivaluesrec inivalues;
// keygiven[k]: a line with key k was read successfully (*SCANMETHOD: only with a known word,
// *AUTOGOP: only with a readable number).
extern bool keygiven[inikeycount];
// ": " and the key whose value is being read; empty while no value is read.
extern std::string keycontext;
// keylines[k]: the last line read with key k, its blanks run together (for the advisories).
extern std::string keylines[inikeycount];

// Sets every preset (file values, chapterflags, zonefactors, keygiven), then reads
// settings.inifile. Sets settings.iniused when the file exists, and the paths with their given
// flags (inpath, outpath, logpath) and bitrategiven/maxbitrategiven straight in settings.
// Returns 0 (also when the file does not exist), 266 when it exists but cannot be opened,
// 265 on a read error (errtext "") or an unreadable or missing value (errtext = keycontext,
// ": *KEY"). Values read before a failing line stay in inivalues. A path longer than its 500
// characters, or a list line longer than 1 MB, fails with 265 too (never cut); why then says
// so. A UTF-8 byte-order mark at the start of the file is skipped.
int readini(std::string& errtext, std::string* why = nullptr);

// Clamps the file values and copies them into settings. Reads showwindow (the wait time is 0
// for a hidden window) and settings.simdlevel, the detected processor level, which a "*CPU"
// choice can lower but never raise. Cannot fail.
void checkini();
