// The kernels' entry points: each reads kernellevel and runs the path that cpu.h's rules pick.
#include <cstddef>

#include "encoder/motion/kernels.h"

namespace {
inline const uint8_t* pixel(const uint8_t* plane, int x, int y, int stride) {
  return plane + (static_cast<ptrdiff_t>(y) * stride + x);
}
}  // namespace


uint32_t sadframes(const uint8_t* a, const uint8_t* b, int count) {
  switch (pathtwo(kernellevel)) {
    case pathmmx: return sadframes_mmx(a, b, count);
    case pathc: return sadframes_c(a, b, count);
    default: return sadframes_sse2(a, b, count);
  }
}

void sad16(const uint8_t* plane, int x, int y, int stride, const uint8_t* block,
           uint32_t* result) {
  switch (pathsad(kernellevel)) {
    case pathmmx: sad16_mmx(plane, x, y, stride, block, result); break;
    case pathsse3: sad16_sse3(plane, x, y, stride, block, result); break;
    case pathc: sad16_c(plane, x, y, stride, block, result); break;
    default: sad16_sse2(plane, x, y, stride, block, result); break;
  }
}

void sad8(const uint8_t* plane, int x, int y, int stride, const uint8_t* block,
          uint32_t* result) {
  if (pathmmxonly(kernellevel) == pathmmx)
    sad8_mmx(plane, x, y, stride, block, result);
  else
    sad8_c(plane, x, y, stride, block, result);
}

void put8(uint8_t* plane, int x, int y, int stride, const uint8_t* block) {
  if (pathmmxonly(kernellevel) == pathmmx)
    put8_mmx(plane, x, y, stride, block);
  else
    put8_c(plane, x, y, stride, block);
}

uint32_t sadavg16(const uint8_t* p, const uint8_t* q, const uint8_t* s) {
  switch (pathtwo(kernellevel)) {
    case pathmmx: return sadavg16_mmx(p, q, s);
    case pathc: return sadavg16_c(p, q, s);
    default: return sadavg16_sse2(p, q, s);
  }
}

#define OSTREL_DISPATCH16(name)                                                              \
  void name(const uint8_t* ref, int x, int y, int stride, uint8_t* dst, int dx, int dy) {    \
    switch (pathaligned(kernellevel, pixel(ref, x, y, stride))) {                            \
      case pathmmx: name##_mmx(ref, x, y, stride, dst, dx, dy); break;                       \
      case pathsse2a: name##_sse2a(ref, x, y, stride, dst, dx, dy); break;                   \
      case pathsse3: name##_sse3(ref, x, y, stride, dst, dx, dy); break;                     \
      case pathsse2: name##_sse2(ref, x, y, stride, dst, dx, dy); break;                     \
      default: name##_c(ref, x, y, stride, dst, dx, dy); break;                              \
    }                                                                                        \
  }                                                                                          \
  void name##blk(const uint8_t* ref, int x, int y, int stride, uint8_t* block) {             \
    switch (pathaligned(kernellevel, pixel(ref, x, y, stride))) {                            \
      case pathmmx: name##blk_mmx(ref, x, y, stride, block); break;                          \
      case pathsse2a: name##blk_sse2a(ref, x, y, stride, block); break;                      \
      case pathsse3: name##blk_sse3(ref, x, y, stride, block); break;                        \
      case pathsse2: name##blk_sse2(ref, x, y, stride, block); break;                        \
      default: name##blk_c(ref, x, y, stride, block); break;                                 \
    }                                                                                        \
  }
OSTREL_DISPATCH16(predxy16)
OSTREL_DISPATCH16(predx16)
OSTREL_DISPATCH16(predy16)
OSTREL_DISPATCH16(copy16)

#define OSTREL_DISPATCH8(name)                                                             \
  void name(const uint8_t* ref, int x, int y, int stride, uint8_t* dst, int dx, int dy) {  \
    if (pathmmxonly(kernellevel) == pathmmx)                                               \
      name##_mmx(ref, x, y, stride, dst, dx, dy);                                          \
    else                                                                                   \
      name##_c(ref, x, y, stride, dst, dx, dy);                                            \
  }                                                                                        \
  void name##blk(const uint8_t* ref, int x, int y, int stride, uint8_t* block) {           \
    if (pathmmxonly(kernellevel) == pathmmx)                                               \
      name##blk_mmx(ref, x, y, stride, block);                                             \
    else                                                                                   \
      name##blk_c(ref, x, y, stride, block);                                               \
  }
OSTREL_DISPATCH8(predxy8)
OSTREL_DISPATCH8(predx8)
OSTREL_DISPATCH8(predy8)
OSTREL_DISPATCH8(copy8)

void avg16(const uint8_t* p, const uint8_t* q, int stride, uint8_t* dst, int dx, int dy) {
  switch (pathtwo(kernellevel)) {
    case pathmmx: avg16_mmx(p, q, stride, dst, dx, dy); break;
    case pathc: avg16_c(p, q, stride, dst, dx, dy); break;
    default: avg16_sse2(p, q, stride, dst, dx, dy); break;
  }
}

void avg8(const uint8_t* p, const uint8_t* q, int stride, uint8_t* dst, int dx, int dy) {
  if (pathmmxonly(kernellevel) == pathmmx)
    avg8_mmx(p, q, stride, dst, dx, dy);
  else
    avg8_c(p, q, stride, dst, dx, dy);
}

void diffblock(const uint8_t* source, const uint8_t* prediction, int16_t* err, int count) {
  switch (pathtwo(kernellevel)) {
    case pathmmx: diffblock_mmx(source, prediction, err, count); break;
    case pathc: diffblock_c(source, prediction, err, count); break;
    default: diffblock_sse2(source, prediction, err, count); break;
  }
}

namespace {
// The reference as a grid member, one per set of sides.
template <unsigned sides>
void gridref(const uint8_t* plane, int xm1, int ym1, int stride, const uint8_t* source,
             int32_t* gridsad) {
  hpelsad_c(sides, plane, xm1, ym1, stride, source, gridsad);
}
constexpr gridkernel hpelsadtable_c[16] = {
    gridref<0>,  gridref<1>,  gridref<2>,  gridref<3>,  gridref<4>,  gridref<5>,
    gridref<6>,  gridref<7>,  gridref<8>,  gridref<9>,  gridref<10>, gridref<11>,
    gridref<12>, gridref<13>, gridref<14>, gridref<15>};
}  // namespace

gridkernel gridmember(int level, unsigned sides) {
  sides &= 15u;
  switch (pathgrid(level)) {
    case pathmmx: return hpelsadtable_mmx[sides];
    case pathsse2: return hpelsadtable_sse2[sides];
    case pathsse3: return hpelsadtable_sse3[sides];
    default: return hpelsadtable_c[sides];
  }
}

gridpredkernel gridpredfor(int level) {
  switch (pathgrid(level)) {
    case pathmmx: return hpelsadpredmmx;
    case pathsse2: return hpelsadpred;
    case pathsse3: return hpelsadpred3;
    default: return hpelsadpred_c;
  }
}
