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

// The no-memory coding error: raised, and the lane's bits thrown away.
void lanenomemory(bitlane& ln) {
  laneerror(ln, " *** ERROR, not enough memory for the bits of a picture, aborting...");
  ln.streamcursor = {};
  ln.statcursor = {};
}

}  // namespace

bool startlane(bitlane& ln, int32_t streambytes, int32_t statbytes) {
  ln.streamcursor = {};
  ln.statcursor = {};
  ln.error = nullptr;
  ln.roomstream = ln.roomstatbits = 0;
  bool ok = growbuffer(ln.streambits, streambytes, 0, streambitslimit) &&
            growbuffer(ln.statbits, statbytes, 0, statbitslimit);
  if (!ok) {
    lanenomemory(ln);
    return false;
  }
  // The writer keeps everything past the cursor zero; a reused lane starts clean at byte 0.
  std::memset(ln.streambits.data(), 0, bitspare + 1);
  std::memset(ln.statbits.data(), 0, bitspare + 1);
  return true;
}

bool startslotpicture(int s) { return startlane(picslots[s], streambitsbytes, statbitsbytes); }

bool laneroom(bitlane& ln) {
  ln.roomstream = std::max(ln.roomstream, int64_t(ln.streamcursor.bytepos) + 1 + mbstreamworst);
  ln.roomstatbits = std::max(ln.roomstatbits, bitposition(ln.statcursor));
  return laneextra(ln, mbstreamworst, mbstatworst);
}

bool laneextra(bitlane& ln, int64_t streambytes, int64_t statbytes) {
  return lanegrow(ln, int64_t(ln.streamcursor.bytepos) + 1 + streambytes,
                  int64_t(ln.statcursor.bytepos) + 1 + statbytes);
}

bool lanegrow(bitlane& ln, int64_t needstream, int64_t needstat) {
  if (ln.streambits.capacity >= needstream && ln.statbits.capacity >= needstat) return true;
  bool ok = growbuffer(ln.streambits, needstream, ln.streamcursor.bytepos + 1, streambitslimit) &&
            growbuffer(ln.statbits, needstat, ln.statcursor.bytepos + 1, statbitslimit);
  if (!ok) {
    lanenomemory(ln);
    return false;
  }
  return true;
}

bool slotroom(int s) { return laneroom(picslots[s]); }

void laneerror(bitlane& ln, const char* text) {
  if (!ln.deferserrors) codingerror(text);
  else if (!ln.error) ln.error = text;
}

void laneslicestart(bitlane& ln, int pictype) {
  std::fill(std::begin(ln.dcpred), std::end(ln.dcpred), 0);
  if (pictype == 2 || pictype == 3) {
    std::fill(std::begin(ln.pmv), std::end(ln.pmv), 0);
    std::fill(std::begin(ln.statpmv), std::end(ln.statpmv), 0);
  }
}

void slotslicestart(int s) { laneslicestart(picslots[s], picslots[s].pictype); }
