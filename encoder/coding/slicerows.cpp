#include "encoder/coding/slicerows.h"

#include <algorithm>
#include <chrono>
#include <cstring>

#include "encoder/coding/bitio.h"
#include "encoder/coding/quantmap.h"
#include "encoder/control/settings.h"
#include "platform/pool.h"

namespace {

// One lane per macroblock row (entry row - 1), kept for the run so their buffers are
// allocated once.
struct rowlanes {
  bitlane lane[maxquantrows];
  int64_t took[4][maxquantrows] = {};  // by picture type: how long each row took last (clock ticks)
  rowlanes() {
    for (bitlane& l : lane) l.deferserrors = true;
  }
};
rowlanes lanes;

// Row lane ln after everything the slot holds: the stream bytes after the slot's last whole
// byte (the slice header aligns there first), the statistics bits right after the slot's.
void joinrow(picslot& sl, bitlane& ln) {
  if (ln.error) laneerror(sl, ln.error);
  alignbits(sl.streambits.data(), sl.streamcursor);
  // The room the row's macroblocks would have asked of the slot, coded into it: the most the
  // lane asked for, at the row's place. It holds the row's bits.
  const int64_t needstream = sl.streamcursor.bytepos + ln.roomstream;
  const int64_t needstat = (bitposition(sl.statcursor) + ln.roomstatbits) / 8 + 1 + mbstatworst;
  if (!lanegrow(sl, needstream, needstat)) return;  // (the bits are thrown away)
  const int32_t bytes = ln.streamcursor.bytepos + (ln.streamcursor.usedbits != 0 ? 1 : 0);
  const int64_t statbits = bitposition(ln.statcursor);
  uint8_t* to = sl.streambits.data() + sl.streamcursor.bytepos;
  std::memcpy(to, ln.streambits.data(), size_t(bytes));
  std::memset(to + bytes, 0, bitspare);  // past the cursor every byte stays zero
  sl.streamcursor.bytepos += ln.streamcursor.bytepos;
  sl.streamcursor.usedbits = ln.streamcursor.usedbits;
  copybits(ln.statbits.data(), statbits, sl.statbits.data(), sl.statcursor);
}

}  // namespace

int64_t coderows(int s, const rowcoder& code) {
  picslot& sl = picslots[s];
  const int rows = settings.mbrows < maxquantrows ? settings.mbrows : maxquantrows;
  int64_t blockbits = 0;
  if (poolthreads() <= 1) {
    for (int row = 1; row <= rows; ++row) blockbits += code(sl, row);
    return blockbits;
  }
  // The rows that took longest in the last picture of this type go first, so the job does not
  // end on a long row begun last (the order of the work changes nothing in the bits).
  const int type = std::clamp(settings.curpictype, 1, 3);
  int order[maxquantrows];
  for (int k = 0; k < rows; ++k) order[k] = k;
  std::stable_sort(order, order + rows,
                   [&](int a, int b) { return lanes.took[type][a] > lanes.took[type][b]; });
  int64_t rowbits[maxquantrows] = {};
  poolrun(rows, [&](int part) {
    const int k = order[part];
    const auto t0 = std::chrono::steady_clock::now();
    bitlane& ln = lanes.lane[k];
    if (startlane(ln, lanestreambytes, lanestatbytes)) rowbits[k] = code(ln, k + 1);
    lanes.took[type][k] = (std::chrono::steady_clock::now() - t0).count();
  });
  for (int k = 0; k < rows; ++k) {
    joinrow(sl, lanes.lane[k]);
    blockbits += rowbits[k];
  }
  return blockbits;
}
