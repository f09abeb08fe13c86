#include "encoder/coding/streamwriter.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

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

constexpr uint8_t sequenceendcode[4] = {0x00, 0x00, 0x01, 0xB7};

// The first failed write ends the run; the writer stays failed.
void writefailed() {
  failed = true;
  if (settings.logfileon) logline(" *** ERROR, can't write to output file, aborting...");
  errorout("ERROR, can't write to output file, aborting...");
  errorline(" can't write to output file, aborting...");
  abortrun();
}

// The full buffer as the next record. Flushed at once, so a full disk shows here and not
// only when the file is closed.
bool writerecord() {
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
}

bool streamfailed() { return failed; }

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
    return;
  }

  // The tail: the bytes still in the buffer right after the last full record, then the end
  // code, each byte checked, then a flush so nothing is left unwritten at the close.
  std::FILE* f = unitfile(unitstream);
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
}
