// The encoder's command-line switches.
//
// getargs keeps each switch's value as raw text (one slot per value); parseargs converts the
// texts into settings after the settings file was applied, so every switch given overrides
// the file. Switch names compare without case; values, paths included, keep their case.
//
// Start-up order (window thread):
//   getargs(argc, argv);                 // early in winmain, before the silent probe
//   ... inipath (uses switchtexts[slotini]), readini, checkini (inireader.h) ...
//   int code = parseargs();              // 0 or 512-517, 521-526
#pragma once

#include <string>
#include <vector>

// Value slots in scan order; the two switches with two values use two slots, and "-scene" /
// "-noscene" and "-interlaced" / "-nointerlaced" share one (the slot holds the switch word).
enum switchslot : int {
  slotinput, slotoutput, slotbitrate, slotmaxbitrate, slotaspect, slotgoplength, slotgopb,
  slotprofile, slotscene, slotinterlaced, slotini, slotlog, slottff, slotbff, slotmatrix,
  slotbias, slotdcprec, slotfirstframe, slotlastframe, slotchapter, slotcq, slotcqmbr,
  slotcqpfactor, slotcqbfactor, slotpulldown, switchslots
};

// Raw value texts; empty (or all blanks) when the switch was not given. A flag switch holds
// its own word, lower-cased.
extern std::string switchtexts[switchslots];

// A slot holds a value (not blank).
bool switchgiven(int slot);
// The slot's text without trailing blanks: the "-ini" path for the settings file choice is
// switchvalue(slotini), used as given (its case is kept).
std::string switchvalue(int slot);

// Clears the start-up flags (inputgiven ... cqmode, cqmbrmode, shutdownflag, avsinput,
// d2vinput) and every slot, sets argcount, scans the words argv[1..argc-1]. A value switch
// takes the next word(s) whatever they are; unknown words are skipped. Sets inifilegiven when
// "-ini" has a value. Cannot fail.
void getargs(int argc, const char* const* argv);

// The words of the last getargs that are no switch and no switch's value (kept as given), in
// order: the start-up warns of each.
extern std::vector<std::string> strangewords;

// What the command line asks for besides an encode: 1 the usage text ("-h", "--help"), 2 the
// release ("--version"), 0 neither. A word taken as a switch's value never counts.
int helpasked(int argc, const char* const* argv);

// Converts the slots in scan order; the first unreadable number ends it with that switch's
// code: 512 -b, 513 -maxbitrate, 514 -bias, 515 -dc_prec, 516/517 -frames first/last,
// 521/522 -gop length/B count, 523 -cq, 524 -cq_maxbitrate, 525 -cq_pfactor, 526
// -cq_bfactor (fields converted before keep their values; marks and matrices are skipped).
// On success it marks the passed switches and shows the settings in force in the window
// (when showwindow), fills quantmatrices and basematrices and sets loadintramatrix and
// loadnonintramatrix. Returns 0 then.
int parseargs();

// Marks the given switches and writes the settings in force into the window's controls;
// does nothing while showwindow is false. Called by parseargs.
void showswitches();

// Fills quantmatrices and basematrices from matrixno (0: the settings file's custom pair,
// entries clamped to 1..255 and the intra matrix's first entry 8; 1..16: the built-in pair)
// and sets the two load flags.
void fillmatrices();
