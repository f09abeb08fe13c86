// The custom matrix pair in ".mtx" (text) and ".cqm" (128 bytes) files.
#include <algorithm>
#include <cstdio>

#include "common/fmtfield.h"
#include "common/listread.h"
#include "common/texttime.h"
#include "frontend/settings/settings.h"
#include "frontend/window/front.h"
#include "platform/system.h"

namespace {
constexpr size_t cqmbytes = 128;  // intra entries 0..63, then non-intra entries 0..63
// A line of numbers is read whole up to this length; a longer one is no matrix file.
constexpr size_t mtxlinelength = 1 << 16;

void fail(const char* text) { showinfo(text, false); }

std::string ending(const std::string& path) {
  std::string e = path.size() >= 3 ? path.substr(path.size() - 3) : path;
  lowercase(e);
  return e;
}

bool readcqm(std::FILE* f, matrixpairrec& m) {
  unsigned char b[cqmbytes];
  if (std::fread(b, 1, cqmbytes, f) != cqmbytes) return false;
  for (int i = 0; i < 64; i++) {
    m.intra[i] = b[i];
    m.nonintra[i] = b[64 + i];
  }
  return true;
}

// 64 numbers in free format for each matrix; the non-intra read starts on the line after the
// one that held the 64th intra number.
bool readmtx(std::FILE* f, matrixpairrec& m) {
  listreader numbers([f](std::string& line) {
    bool longer = false;
    int r = readline(f, line, mtxlinelength, &longer);
    return r > 0 && longer ? -1 : r;
  });
  for (int* half : {m.intra, m.nonintra}) {
    numbers.beginread();
    for (int i = 0; i < 64; i++)
      if (numbers.getint(half[i]) != listok) return false;
  }
  return true;
}

bool writepair(const std::string& content) {
  std::string why;
  if (writewhole(trimright(matrixpath), content, why)) return true;
  showinfo("error writing matrix file, " + why, false);
  return false;
}
}  // namespace

void readmatrix(bool& ok) {
  ok = false;
  const std::string path = trimright(matrixpath);
  const std::string kind = ending(path);
  if (kind != "cqm" && kind != "mtx") {
    fail("unknown format matrix file");
    return;
  }
  // Only a regular file: a FIFO or a device would hold the window until it ends.
  std::FILE* f = isregularfile(path) ? std::fopen(path.c_str(), "rb") : nullptr;
  if (!f) {
    fail("error opening matrix file");
    return;
  }
  matrixpairrec m{};
  const bool read = kind == "cqm" ? readcqm(f, m) : readmtx(f, m);
  std::fclose(f);
  if (!read) {
    fail("error reading matrix file");
    return;
  }
  custommatrix = m;
  ok = true;
}

std::vector<std::string> matrixrows(const matrixpairrec& m) {
  std::vector<std::string> rows;
  for (const int* half : {m.intra, m.nonintra}) {
    if (half == m.nonintra) rows.emplace_back();
    for (int r = 0; r < 8; r++) {
      std::string row;
      for (int c = 0; c < 8; c++) row += fmtint(half[8 * r + c], 4);
      rows.push_back(row);
    }
  }
  return rows;
}

bool writemtx() {
  std::string text;
  for (const std::string& row : matrixrows(custommatrix)) text += row + "\n";
  return writepair(text);
}

bool writecqm() {
  std::string bytes(cqmbytes, '\0');
  for (int i = 0; i < 64; i++) {
    bytes[(size_t)i] = (char)(custommatrix.intra[i] & 0xff);
    bytes[(size_t)64 + i] = (char)(custommatrix.nonintra[i] & 0xff);
  }
  return writepair(bytes);
}
