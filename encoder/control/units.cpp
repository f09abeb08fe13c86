#include "encoder/control/units.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <map>
#include <mutex>

#include "encoder/control/settings.h"

namespace {
std::mutex unitlock;
std::map<int, std::FILE*> openunits;

std::FILE* find(int unit) {
  auto it = openunits.find(unit);
  return it == openunits.end() ? nullptr : it->second;
}
}  // namespace

bool unitopen(int unit, const std::string& path, int mode) {
  std::lock_guard<std::mutex> g(unitlock);
  if (std::FILE* f = find(unit)) {
    std::fclose(f);
    openunits.erase(unit);
  }
  const char* how = mode == unitread ? "rb" : mode == unitnew ? "w+b" : mode == unitappend ? "ab" : "r+b";
  std::FILE* f = std::fopen(path.c_str(), how);
  if (!f) return false;
  openunits[unit] = f;
  return true;
}

int unitopenlocked(int unit, const std::string& path, bool append) {
  std::lock_guard<std::mutex> g(unitlock);
  if (std::FILE* f = find(unit)) {
    std::fclose(f);
    openunits.erase(unit);
  }
  int fd = ::open(path.c_str(), (append ? O_WRONLY | O_APPEND : O_RDWR) | O_CREAT | O_CLOEXEC, 0666);
  if (fd < 0) return 1;
  struct stat st;
  if (::fstat(fd, &st) != 0) {
    ::close(fd);
    return 1;
  }
  // Devices such as /dev/null are shared by nature; only a real file is held.
  if (S_ISREG(st.st_mode) && ::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    ::close(fd);
    return 2;
  }
  std::FILE* f = ::fdopen(fd, append ? "ab" : "r+b");
  if (!f) {
    ::close(fd);
    return 1;
  }
  openunits[unit] = f;
  return 0;
}

bool unitempty(int unit) {
  std::FILE* f = unitfile(unit);
  if (!f || std::fflush(f) != 0) return false;
  struct stat st;
  if (::fstat(fileno(f), &st) != 0) return false;
  if (S_ISREG(st.st_mode) && ::ftruncate(fileno(f), 0) != 0) return false;
  std::rewind(f);
  return true;
}

bool unitisopen(int unit) {
  std::lock_guard<std::mutex> g(unitlock);
  return find(unit) != nullptr;
}

std::FILE* unitfile(int unit) {
  std::lock_guard<std::mutex> g(unitlock);
  return find(unit);
}

bool unitwrite(int unit, const void* data, std::size_t size) {
  std::FILE* f = unitfile(unit);
  if (!f) return false;
  return std::fwrite(data, 1, size, f) == size;
}

bool unitwriterecord(int unit, long recno, const void* data, std::size_t recsize) {
  std::FILE* f = unitfile(unit);
  if (!f || recno < 1) return false;
  if (std::fseek(f, (recno - 1) * (long)recsize, SEEK_SET) != 0) return false;
  return std::fwrite(data, 1, recsize, f) == recsize;
}

bool unitreadrecord(int unit, long recno, void* data, std::size_t recsize) {
  std::FILE* f = unitfile(unit);
  if (!f || recno < 1) return false;
  if (std::fseek(f, (recno - 1) * (long)recsize, SEEK_SET) != 0) return false;
  return std::fread(data, 1, recsize, f) == recsize;
}

bool unitclose(int unit) {
  std::lock_guard<std::mutex> g(unitlock);
  std::FILE* f = find(unit);
  if (!f) return true;
  openunits.erase(unit);
  return std::fclose(f) == 0;
}

void closerununits() {
  for (int u : {unitstream, unitstats, unitlog, unitscd}) unitclose(u);
}

bool logline(const std::string& text) {
  std::FILE* f = unitfile(unitlog);
  if (!f) return false;
  size_t n = text.find_last_not_of(' ');
  std::string line = n == std::string::npos ? std::string() : text.substr(0, n + 1);
  line += '\n';
  return std::fwrite(line.data(), 1, line.size(), f) == line.size() && std::fflush(f) == 0;
}

void deletescratch() {
  const std::string& p = settings.dbspath;
  size_t n = p.find_last_not_of(' ');
  if (n == std::string::npos) return;
  std::remove(p.substr(0, n + 1).c_str());
}
