// Small helpers on blank-padded text fields and on times.
#pragma once

#include <string>

// 'A'..'Z' to 'a'..'z' in place (other bytes, digits, '/', '\\' and bytes above 127 unchanged).
void lowercase(char* text, int length);
void lowercase(std::string& text);
// 'a'..'z' to 'A'..'Z' in place.
void uppercase(char* text, int length);
void uppercase(std::string& text);
// A blank-padded field to a NUL-terminated string: dest is filled with blanks, the source's
// characters up to its last non-blank are copied and a NUL follows them (at the last position
// of dest when they do not fit).
void padcopy(const char* source, int sourcelength, char* dest, int destlength);
// The scene-change list the encoder writes for an output path: beside it, the output less the
// extension of its file name (all of it when the name has none; a dot in a folder name or at
// the start of the file name is no extension), then "_scd.txt". "out/film.m2v" gives
// "out/film_scd.txt".
std::string scdfilename(const std::string& output);
// Seconds as "hh:mm:ss" in 8 characters, hours right-aligned in two columns ("**" above 99):
// 3725 gives " 1:02:05". dest gets exactly 8 characters (no NUL).
void fmttime(char* dest, int seconds);
std::string fmttime(int seconds);
// Time of day in seconds minus reference; one passed midnight adds 86,400.
float elapsed(float reference);
// The same for a given time of day now (seconds since midnight).
float elapsedfrom(double now, float reference);
// CPU seconds of the process.
double cputime();

// Taken by winmain at program start; the passes measure their times against them.
extern double cpustart;   // cputime() at start
extern float clockstart;  // elapsed(0) at start
