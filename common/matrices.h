// The sixteen built-in quantiser matrix pairs of the encoder.
//
// Matrix numbers: 0 is the custom pair of the settings file, 1..16 the built-in pairs below.
// Every matrix is 64 weights in raster order of the 8x8 block (row 0 left to right, then
// row 1 ...), never zigzag; intra first. Every built-in intra matrix starts with 8.
#pragma once

#include <cstdint>

struct builtinpair {
  uint8_t intra[64];
  uint8_t nonintra[64];
};

constexpr int builtinmatrices = 16;

// The pair of matrix number 1..16; nullptr for any other number (0, the custom pair, lives in
// the settings file values, not here).
const builtinpair* builtinmatrix(int matrixno);

// The name shown for a matrix number 0..16 ("CUSTOM", "MPEG" ... "MPEGSTD"); "" outside.
const char* matrixname(int matrixno);

// The sequence-header load flags of a matrix number: matrix 16 carries neither matrix (the
// standard's defaults), matrix 1 only the non-intra one, every other number both; the
// adaptive matrix or a luminance gain above 0 changes the matrices per GOP, so both are loaded.
void matrixloadflags(int matrixno, bool adapted, int& loadintra, int& loadnonintra);
