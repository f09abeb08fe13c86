#include "common/inifile.h"

#include <cstring>

const char* const inifilekeys[inifilekeycount] = {
    "*INFILE",       "*OUTFILE",       "*FRAMES",      "*BITRATE",     "*MAXBITRATE",
    "*PREVIEW",      "*PROFILE",       "*ASPECT",      "*CQ_MAXBITRATE", "*CQ_PFACTOR",
    "*CQ_BFACTOR",   "*CQ",            "*LOGFILE",     "*LASTIFRAME",  "*ADAPTIVEMATRIX",
    "*PULLDOWN",     "*MASK_SHIFT",    "*MASK_VALUE",  "*CPU",         "*GOP",
    "*DC_PREC",      "*SCANMETHOD",    "*TIMECODE",    "*MATRIX",      "*CUSTOMMATRIX",
    "*BIAS",         "*CLOSEDGOPS",    "*NOVBV",       "*NOSCD",       "*CHAPTER",
    "*INTERLACED",   "*AUTOGOP",       "*TFF",         "*BFF",         "*WAIT",
    "*NOSEQ_ENDCODE", "*SHUTDOWN",     "*ZONE",        "*LUMGAIN",     "*VBVSIZE",
    "*INTRAMATRIX",  "*INTERMATRIX",   "*SCDFILE"};

namespace {
constexpr iniword profilewords[] = {{"FAST", 1}, {"NORM", 2}, {"GOOD", 2}, {"BEST", 4}};
constexpr iniword aspectwords[] = {{"1:1", 1},    {"3:4", 2},    {"4:3", 2},
                                   {"9:16", 3},   {"16:9", 3},   {"1:2.21", 4},
                                   {"2.21:1", 4}, {"2:21", 4}};
constexpr iniword cpuwords[] = {{"AUTO", 0}, {"MMX", 1},   {"SSE2", 2},
                                {"SSE3", 3}, {"SSSE3", 4}, {"SSE4", 5}};
constexpr iniword scanwords[] = {{"ZIGZAG", 1}, {"ALT", 2}};
constexpr iniword matrixwords[] = {
    {"MPEGSTD", 16}, {"MPEG", 1},     {"KJLOW", 12},    {"KJ", 2},       {"NOTCH", 3},
    {"TGN", 4},      {"MIRDO1CD", 5}, {"TOLV1", 6},     {"HVSGOOD", 7},  {"HVSBETTER", 8},
    {"HVSBEST", 9},  {"ZELMAT6", 10}, {"ZELMAT7", 11},  {"KIV1", 13},    {"KIV2", 14},
    {"KIV3", 15}};
template <size_t n>
constexpr inikeyword keyword(int column, int limit, const iniword (&words)[n]) {
  return {column, limit, words, (int)n};
}
}  // namespace

const inikeyword iniprofile = keyword(10, 66, profilewords);
const inikeyword iniaspect = keyword(9, 71, aspectwords);
const inikeyword inicpu = keyword(5, 71, cpuwords);
const inikeyword iniscan = keyword(12, 64, scanwords);
const inikeyword inimatrix = keyword(8, 65, matrixwords);

int inifilekey(const std::string& upper) {
  for (int k = 0; k < inifilekeycount; ++k)
    if (upper.compare(0, std::strlen(inifilekeys[k]), inifilekeys[k]) == 0) return k;
  return -1;
}

int inivaluecolumn(const char* key) {
  if (std::strcmp(key, "*CHAPTER") == 0) return 9;
  return (int)std::strlen(key) + 2;
}

std::string inicolumns(const std::string& line, int from, int to) {
  std::string t;
  for (int c = from; c <= to; ++c) {
    size_t i = static_cast<size_t>(c - 1);
    t.push_back(i < line.size() ? line[i] : ' ');
  }
  return t;
}

bool inipath(const std::string& raw, size_t keylength, std::string& path) {
  if (raw.find_first_not_of(' ', keylength + 501) != std::string::npos) return false;
  std::string v = inicolumns(raw, (int)keylength + 2, (int)keylength + 501);
  size_t a = v.find_first_not_of(' ');
  path = a == std::string::npos ? std::string() : v.substr(a, v.find_last_not_of(' ') - a + 1);
  return true;
}

int iniwordvalue(const std::string& upper, const inikeyword& k) {
  std::string text = inicolumns(upper, k.column, inikeywordlastcol);
  for (int p = 0; p < k.limit && p < static_cast<int>(text.size()); ++p) {
    for (int w = 0; w < k.count; ++w) {
      size_t n = std::strlen(k.words[w].text);
      if (p + n <= text.size() && text.compare((size_t)p, n, k.words[w].text) == 0) return k.words[w].value;
    }
  }
  return -1;
}
