// A user's matrix library for the tests, built as matrix.dll with the export EXTMATRIX, and
// once without it.
#include <cstdint>

#ifndef NO_EXTMATRIX
extern "C" __attribute__((visibility("default"))) void EXTMATRIX(int32_t* gopclass, int32_t* meanluma,
                                                                 int16_t* intra, int16_t* nonintra) {}
#else
extern "C" __attribute__((visibility("default"))) void OTHERMATRIX(int32_t*, int32_t*, int16_t*, int16_t*) {}
#endif
