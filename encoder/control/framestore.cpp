#include "encoder/control/framestore.h"

#include "encoder/coding/headers.h"
#include "platform/pool.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <limits>

uint8_t* framebase = nullptr;
int16_t* wordbase = nullptr;
bool framesallocated = false;
planeoffsets reconplanes[maxslotcount + 1];
ringentry framering[maxringsize + 1];
int aheadcount = 0;
planeoffsets aheadplanes[maxaheadcount + 1];
planeoffsets predplanes;
planeoffsets residplanes[2];
std::size_t scratchoffsets[scratchblockcount];
std::size_t wordscratchoffsets[scratchblockcount];
std::size_t assemblyoffset = 0;
std::size_t framestorelimit = std::numeric_limits<std::size_t>::max();

namespace {

void* bytearray = nullptr;  // the allocations as the system gave them
void* wordarray = nullptr;

// Zeroed memory of n bytes, or null (also above framestorelimit).
void* allocate(std::size_t n) {
  if (n > framestorelimit) return nullptr;
  return std::calloc(n, 1);
}

// The first address at or after p that is a multiple of 16.
template <class T>
T* aligned16(void* p) {
  auto a = reinterpret_cast<std::uintptr_t>(p);
  return reinterpret_cast<T*>((a + 15) & ~std::uintptr_t(15));
}

planeoffsets picture(std::size_t at) {
  planeoffsets p;
  p.y = at;
  p.u = at + std::size_t(settings.lumasize);
  p.v = p.u + std::size_t(settings.chromasize);
  return p;
}

}  // namespace

int allocframes() {
  freeframes();
  const settingsrec& st = settings;
  if (st.slotcount < 1 || st.slotcount > maxslotcount || st.ringsize < 1 ||
      st.ringsize > maxringsize || st.lumasize <= 0 || st.chromasize <= 0 ||
      st.lumasize % 64 != 0 || st.chromasize % 64 != 0)
    return 269;
  const std::size_t f = std::size_t(st.lumasize) + 2 * std::size_t(st.chromasize);
  const std::size_t pictures = std::size_t(st.slotcount + st.ringsize + 1);
  // Two GOPs' worth and one (as far as maxaheadcount goes): the reader then keeps a GOP ahead
  // even while the fill takes the next one, and a reader that lost its processor for a while
  // catches up before the fill waits.
  const int ahead =
      poolthreads() > 1
          ? std::min(2 * std::clamp((st.ringsize - 3) / 2, 1, maxgoplength) + 1, maxaheadcount)
          : 0;
  bytearray = allocate((pictures + std::size_t(ahead)) * f + storeextrabytes);
  if (!bytearray) return 269;
  wordarray = allocate((2 * f + storeextrawords) * sizeof(int16_t));
  if (!wordarray) return 269;
  framesallocated = true;
  framebase = aligned16<uint8_t>(bytearray);
  wordbase = aligned16<int16_t>(wordarray);

  std::size_t at = 0;
  for (int s = 0; s <= maxslotcount; ++s) reconplanes[s] = {};
  for (int s = 1; s <= st.slotcount; ++s, at += f) reconplanes[s] = picture(at);
  for (int e = 0; e <= maxringsize; ++e) framering[e] = ringentry{};
  for (int e = 1; e <= st.ringsize; ++e, at += f) framering[e].planes = picture(at);
  predplanes = picture(at);
  at += f;
  for (int i = 0; i < scratchblockcount; ++i, at += scratchblockbytes) scratchoffsets[i] = at;
  assemblyoffset = at;
  at += assemblybytes;
  aheadcount = ahead;
  for (int k = 0; k <= maxaheadcount; ++k) aheadplanes[k] = {};
  for (int k = 1; k <= ahead; ++k, at += f) aheadplanes[k] = picture(at);

  residplanes[0] = picture(0);
  residplanes[1] = picture(f);
  for (int i = 0; i < scratchblockcount; ++i) wordscratchoffsets[i] = 2 * f + 256 * std::size_t(i);

  // Lines below the source picture that the fetch never writes.
  if (st.displayheight < st.height) {
    auto fill = [&](const planeoffsets& p) {
      std::memset(framebase + p.y, st.fillbytes[0], std::size_t(st.lumasize));
      std::memset(framebase + p.u, st.fillbytes[1], std::size_t(st.chromasize));
      std::memset(framebase + p.v, st.fillbytes[2], std::size_t(st.chromasize));
    };
    for (int e = 1; e <= st.ringsize; ++e) fill(framering[e].planes);
    for (int k = 1; k <= ahead; ++k) fill(aheadplanes[k]);
  }
  return 0;
}

void freeframes() {
  std::free(bytearray);
  std::free(wordarray);
  bytearray = wordarray = nullptr;
  framebase = nullptr;
  wordbase = nullptr;
  framesallocated = false;
  aheadcount = 0;
}

bool padcodedheight() {
  settingsrec& st = settings;
  if (!(st.interlaced || st.pulldown) || st.height <= 0 || st.height % 32 == 0) return false;
  st.height = (st.height + 31) / 32 * 32;
  st.chromaheight = st.height / 2;
  st.mbrows = st.height / 16;
  st.lumasize = st.width * st.height;
  st.chromasize = st.lumasize / 4;
  st.mbcount = st.lumasize / 256;
  st.searchymax = st.height - 16;
  st.level = levelfor(st.width, st.height, st.pulldown ? 30000.0 / 1001.0 : st.framerate);
  return true;
}
