// KJ.ini as the encoder reads it: its keys, their value columns and keywords, and the path
// rule. The encoder's reader and the front end's reader both take a file by these rules, so
// the front end shows what the encoder will do with the same file.
//
// One setting a line. The line is upper-cased (paths are taken from the line as read, case
// kept) and compared with the keys in the order below: the first key whose text starts the line
// decides ("*CQ" comes after the three "*CQ_" keys it would also match). Its value begins one
// character after the key, whatever that character is, and numbers are read up to column 80.
#pragma once

#include <cstddef>
#include <string>

// The keys in compare order.
constexpr int inifilekeycount = 43;
extern const char* const inifilekeys[inifilekeycount];
// The key of a line (upper-cased), its index in inifilekeys; -1 for none (a comment, a blank
// line, "*SILENT").
int inifilekey(const std::string& upper);

// Columns are 1-based. The first column of a key's value: the key's length + 2; the count of
// "*CHAPTER" starts right after the key, at column 9.
int inivaluecolumn(const char* key);
constexpr int ininumberlastcol = 80;   // a number past column 80 is not seen
constexpr int inikeywordlastcol = 79;
// One settings line as its key and number columns are taken (a longer line is cut there).
constexpr size_t inilinelength = 512;
// Lines are read whole up to this length, so that a path going on past its 500 characters is
// refused and a list line is never cut; a longer list line is an error.
constexpr size_t inilistlinelength = 1 << 20;

// Bitrates are given in kbit/s: the encoder takes an average of at least 50 and at most the
// maximum, and a maximum whose bit/s value fits an int32.
constexpr int minkbitrate = 50;
constexpr int maxkbitrate = 2147483;

// Columns from..to of a line, blank-padded where the line is shorter.
std::string inicolumns(const std::string& line, int from, int to);

// A path value of a key of length keylength, from the line as read: columns keylength + 2
// to keylength + 501 (500 characters), leading and trailing blanks removed (may be empty).
// False when the line goes on with anything but blanks past those 500 characters: such a path
// is refused, never cut.
bool inipath(const std::string& raw, size_t keylength, std::string& path);

// Keywords: searched for in the upper-cased line from column `column` to column 79, at start
// positions 1..limit (1 is `column`); at each position the words are tried in list order and
// the first that matches decides ("MPEGSTD" before "MPEG", "KJLOW" before "KJ", "2.21:1"
// before the "1:1" inside it).
struct iniword {
  const char* text;
  int value;
};
struct inikeyword {
  int column;
  int limit;
  const iniword* words;
  int count;
};
// "*PROFILE": 1 fast, 2 normal ("NORM", "GOOD"), 4 best.
extern const inikeyword iniprofile;
// "*ASPECT": 1 = 1:1, 2 = 4:3, 3 = 16:9, 4 = 2.21:1.
extern const inikeyword iniaspect;
// "*CPU": 0 automatic, 1 MMX, 2 SSE2, 3 SSE3, 4 SSSE3, 5 SSE4 (automatic as well).
extern const inikeyword inicpu;
// "*SCANMETHOD": 1 zigzag, 2 alternate.
extern const inikeyword iniscan;
// "*MATRIX": the encoder's matrix numbers 1..16 (common/matrices.h).
extern const inikeyword inimatrix;
// The value of the first keyword found; -1 when none is.
int iniwordvalue(const std::string& upper, const inikeyword& k);
