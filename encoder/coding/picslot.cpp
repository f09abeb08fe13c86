#include "encoder/coding/picslot.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "encoder/coding/codingerror.h"

picslot picslots[maxslots + 1];
int32_t streambitslimit = 16 * 1048576;
int32_t statbitslimit = 1048576;

namespace {

// Makes sure b has at least `need` usable bytes, keeping the first `keep` bytes.
bool growbuffer(bitbuffer& b, int64_t need, int32_t keep, int32_t limit) {
  if (b.capacity >= need) return true;
  if (need > limit) return false;
  int64_t cap = std::max<int64_t>(b.capacity, 1);
  while (cap < need) cap *= 2;
  cap = std::min<int64_t>(cap, limit);
  uint8_t* p = new (std::nothrow) uint8_t[cap + bitspare];
  if (!p) return false;
  if (b.storage) std::memcpy(p, b.data(), size_t(std::min(keep, b.capacity)) + bitspare);
  b.storage.reset(p);
  b.capacity = int32_t(cap);
  return true;
}

void nomemory(picslot& sl) {
  codingerror(" *** ERROR, not enough memory for the bits of a picture, aborting...");
  sl.streamcursor = {};
  sl.statcursor = {};
}

}  // namespace

bool startslotpicture(int s) {
  picslot& sl = picslots[s];
  sl.streamcursor = {};
  sl.statcursor = {};
  bool ok = growbuffer(sl.streambits, streambitsbytes, 0, streambitslimit) &&
            growbuffer(sl.statbits, statbitsbytes, 0, statbitslimit);
  if (!ok) {
    nomemory(sl);
    return false;
  }
  // The writer keeps everything past the cursor zero; a reused slot starts clean at byte 0.
  std::memset(sl.streambits.data(), 0, bitspare + 1);
  std::memset(sl.statbits.data(), 0, bitspare + 1);
  return true;
}

bool slotroom(int s) {
  picslot& sl = picslots[s];
  int64_t needstream = int64_t(sl.streamcursor.bytepos) + 1 + mbstreamworst;
  int64_t needstat = int64_t(sl.statcursor.bytepos) + 1 + mbstatworst;
  if (sl.streambits.capacity >= needstream && sl.statbits.capacity >= needstat) return true;
  bool ok = growbuffer(sl.streambits, needstream, sl.streamcursor.bytepos + 1, streambitslimit) &&
            growbuffer(sl.statbits, needstat, sl.statcursor.bytepos + 1, statbitslimit);
  if (!ok) {
    nomemory(sl);
    return false;
  }
  return true;
}

void slotslicestart(int s) {
  picslot& sl = picslots[s];
  std::fill(std::begin(sl.dcpred), std::end(sl.dcpred), 0);
  if (sl.pictype == 2 || sl.pictype == 3) {
    std::fill(std::begin(sl.pmv), std::end(sl.pmv), 0);
    std::fill(std::begin(sl.statpmv), std::end(sl.statpmv), 0);
  }
}
