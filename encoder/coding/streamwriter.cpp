#include "encoder/coding/streamwriter.h"

#include <stdio_ext.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "common/fmtfield.h"
#include "encoder/coding/headers.h"
#include "encoder/coding/picslot.h"
#include "encoder/control/control.h"
#include "encoder/control/report.h"
#include "encoder/control/settings.h"
#include "encoder/control/units.h"

streamrecordrec streamrecord;
int64_t streambitcount = 0;

namespace {

bool failed = false;
bool ended = false;  // the stream holds whole GOPs and is ended as a whole stream

constexpr uint8_t sequenceendcode[4] = {0x00, 0x00, 0x01, 0xB7};

// Where each whole GOP ends in the stream (bytes from its start) and the frames up to there;
// a failed write cuts the stream back to one of them.
struct gopend {
  int64_t bytes;
  int frames;
};
std::vector<gopend> gopends;
int64_t appended = 0;  // bytes handed to the record buffer since startstream

// Writes the bytes at offset of the file descriptor, all of them; false on an error.
bool putbytes(int fd, int64_t offset, const uint8_t* p, int64_t n) {
  while (n > 0) {
    const ssize_t w = ::pwrite(fd, p, size_t(n), off_t(offset));
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) return false;
    p += w;
    n -= w;
    offset += w;
  }
  return true;
}

// After a failed write (a full disk): the stream is cut back to the end of its last whole GOP
// that still fits and given its end code, as a stopped run's stream. The file's own buffer is
// dropped first, so that nothing of the failed record reaches the file at the close. Records
// before the failed one are in the file; bytes of the whole GOPs past them are still in the
// record buffer. False when no whole GOP could be kept.
bool cuttowholegops(std::FILE* f) {
  if (!f) return false;
  __fpurge(f);
  const int fd = fileno(f);
  struct stat st;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return false;
  const int64_t inrecords = int64_t(streamrecord.recno - 1) * streamrecordbytes;
  while (!gopends.empty()) {
    const gopend e = gopends.back();
    gopends.pop_back();
    const int64_t keep = std::min(e.bytes, inrecords);
    if (::ftruncate(fd, off_t(keep)) != 0) continue;
    bool ok = e.bytes <= inrecords || putbytes(fd, keep, streamrecord.buffer, e.bytes - keep);
    if (ok && settings.seqendcode) ok = putbytes(fd, e.bytes, sequenceendcode, 4);
    if (ok && ::fdatasync(fd) != 0 && errno != EINVAL) ok = false;
    if (!ok) continue;
    if (settings.logfileon)
      logline(" *** the stream ends after its last whole GOP: " + std::to_string(e.frames) + " of " +
              std::to_string(settings.framecount) + " frames");
    return true;
  }
  return false;
}

// The first failed write ends the run; the writer stays failed. The stream keeps its whole
// GOPs (see cuttowholegops).
void writefailed() {
  const int why = errno;
  failed = true;
  if (settings.logfileon) logline(" *** ERROR, can't write to output file, aborting...");
  const std::string out = trimright(settings.outpath);
  const std::string reason = why != 0 ? std::strerror(why) : "the file was closed";
  errorout("ERROR, can't write to output file, aborting... (" + (out.empty() ? "" : "\"" + out + "\": ") +
           reason + ")");
  errorline(" can't write to output file, aborting...");
  ended = cuttowholegops(unitfile(unitstream));
  abortrun();
}

// The full buffer as the next record. Flushed at once, so a full disk shows here and not
// only when the file is closed.
bool writerecord() {
  errno = 0;
  if (!unitwriterecord(unitstream, streamrecord.recno, streamrecord.buffer, streamrecordbytes))
    return false;
  std::FILE* f = unitfile(unitstream);
  return f && std::fflush(f) == 0;
}

// Appends n bytes through the record buffer; false after a failed write (the rest of the
// bytes are dropped).
bool append(const uint8_t* p, int64_t n) {
  streamrecordrec& r = streamrecord;
  while (n > 0) {
    int32_t c = int32_t(std::min<int64_t>(streamrecordbytes - r.fill, n));
    std::memcpy(r.buffer + r.fill, p, size_t(c));
    r.fill += c;
    p += c;
    n -= c;
    appended += c;
    if (r.fill == streamrecordbytes) {
      if (!writerecord()) {
        writefailed();
        return false;
      }
      r.fill = 0;
      r.recno += 1;
    }
  }
  return true;
}

}  // namespace

void startstream() {
  streamrecord.fill = 0;
  streamrecord.recno = 1;
  failed = false;
  ended = false;
  gopends.clear();
  appended = 0;
}

bool streamfailed() { return failed; }

bool streamended() { return ended; }

void writestream(int n, const goparray& order, const goparray& trefs, bool final) {
  if (failed) return;
  if (!final) {
    if (!append(headerbuf, headercursor.bytepos)) return;
    n = std::clamp(n, 0, maxgoplength);
    for (int k = 1; k <= n; ++k) {
      int s = trefs[order[k]] + 1;
      if (s < 1 || s > maxslots) continue;
      const picslot& sl = picslots[s];
      if (!append(sl.streambits.data(), sl.streamcursor.bytepos)) return;
    }
    gopends.push_back({appended, (gopends.empty() ? 0 : gopends.back().frames) + n});
    return;
  }

  // The tail: the bytes still in the buffer right after the last full record, then the end
  // code, each byte checked, then a flush so nothing is left unwritten at the close.
  std::FILE* f = unitfile(unitstream);
  errno = 0;
  bool ok = f && std::fseek(f, long(streamrecord.recno - 1) * streamrecordbytes, SEEK_SET) == 0;
  for (int32_t i = 0; ok && i < streamrecord.fill; ++i)
    ok = std::fwrite(streamrecord.buffer + i, 1, 1, f) == 1;
  if (ok && settings.seqendcode) {
    for (int i = 0; ok && i < 4; ++i) ok = std::fwrite(sequenceendcode + i, 1, 1, f) == 1;
  }
  ok = ok && std::fflush(f) == 0;
  if (!ok) {
    writefailed();
    return;
  }
  if (settings.seqendcode) streambitcount += 32;
  ended = true;
}
