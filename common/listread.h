// List-directed number reading, shared by the settings file, the chapter file and the
// switch values.
//
// Values are separated by blanks (a tab counts as a blank), commas or line ends; an integer
// has no decimal point (one makes it unreadable); a real has one or not and may carry an
// exponent (e, E, d or D). One read starts on a fresh line, takes as many values as it needs
// from as many lines as needed, and drops the rest of its last line. Lines come from a line
// source, which also drops a trailing carriage return (files written on other systems).
#pragma once

#include <cstdio>
#include <functional>
#include <string>

// Outcome of one value read.
enum listresult : int {
  listok = 0,
  listbad = 1,  // the value text is no number of the wanted kind (or does not fit)
  listend = 2,  // the lines ran out before the value
  listfail = 3, // the line source reported a read error
};

// Next line of a source into line (without its line end): 1 a line, 0 no more, -1 read error.
using linesource = std::function<int(std::string& line)>;

// The one line of a text, then end: the source of a read from a text ("-b" values, the value
// columns of a settings line).
linesource textsource(const std::string& text);

// Lines of an open file, each cut to maxlen characters (the rest of a longer line is dropped,
// it is never a line of its own); a trailing CR is dropped and tabs become blanks. The file
// stays owned by the caller.
linesource filesource(std::FILE* f, size_t maxlen);

// One line of a file as the settings and chapter readers take it: the line end and a
// trailing CR dropped, tabs as blanks, cut to maxlen. Returns 1, 0 at end of file, -1 on error.
// cut (when given) tells whether characters other than blanks were cut off.
int readline(std::FILE* f, std::string& line, size_t maxlen, bool* cut = nullptr);
// Drops a UTF-8 byte-order mark (written by some editors) from the start of a file's first line.
void dropbom(std::string& first);

// Single-value parsers of one value text (no separators in it).
bool parseint(const std::string& token, int& value);
bool parsereal(const std::string& token, float& value);

// One list-directed read over a line source: call beginread, then getint/getreal per value.
class listreader {
 public:
  explicit listreader(linesource src) : src_(std::move(src)) {}
  // Starts a new read: the rest of the current line is dropped, the next value comes from
  // the next line.
  void beginread();
  listresult getint(int& value);
  listresult getreal(float& value);

 private:
  listresult nexttoken(std::string& token);
  linesource src_;
  std::string line_;
  size_t pos_ = 0;
  bool haveline_ = false;
};

// Reads count integers (or reals) from one text; listok when all were read, the first
// failure otherwise (values read before it are stored).
listresult readints(const std::string& text, int* values, int count);
listresult readreals(const std::string& text, float* values, int count);
