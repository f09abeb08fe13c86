// The SSE3 paths: the SSE2 arithmetic step for step, the reference rows loaded with LDDQU.
#include <pmmintrin.h>

#include <cstddef>

#include "encoder/motion/kernels.h"

namespace {
struct loadlddqu {
  static __m128i ld(const uint8_t* p) {
    return _mm_lddqu_si128(reinterpret_cast<const __m128i*>(p));
  }
};
#include "encoder/motion/ssebody.inc"
}  // namespace

#define OSTREL_SFX sse3
#define OSTREL_GSFX 3
#define OSTREL_LOAD loadlddqu
#include "encoder/motion/exports.inc"
#include "encoder/motion/grids.inc"

const gridkernel hpelsadtable_sse3[16] = {
    gridmember<loadlddqu, 0>,  gridmember<loadlddqu, 1>,  gridmember<loadlddqu, 2>,
    gridmember<loadlddqu, 3>,  gridmember<loadlddqu, 4>,  gridmember<loadlddqu, 5>,
    gridmember<loadlddqu, 6>,  gridmember<loadlddqu, 7>,  gridmember<loadlddqu, 8>,
    gridmember<loadlddqu, 9>,  gridmember<loadlddqu, 10>, gridmember<loadlddqu, 11>,
    gridmember<loadlddqu, 12>, gridmember<loadlddqu, 13>, gridmember<loadlddqu, 14>,
    gridmember<loadlddqu, 15>};
