// The variable-length code tables of ISO/IEC 13818-2, Annex B, as {code, length} by symbol.
//
// Every table is transcribed once from the standard, in vlctables.cpp, as the bit strings the
// standard prints. A length of 0 marks a symbol without a code. AC codes exclude their sign bit.
#pragma once

#include <cstdint>

struct vlccode {
  uint16_t code;   // the code's bits in the low `length` bits
  uint8_t length;  // 0: no code for this symbol
};

// Table B.1, macroblock_address_increment 1..33 (entry 0 has no code).
extern const vlccode tableb1[34];
extern const vlccode macroblockescape;  // 0000 0001 000, adds 33

// Tables B.2, B.3, B.4, macroblock_type of I, P and B pictures, indexed by the type flags
// (1 intra, 2 pattern, 4 motion backward, 8 motion forward, 16 quant).
enum mbflags : uint8_t {
  mbintra = 1,
  mbpattern = 2,
  mbbackward = 4,
  mbforward = 8,
  mbquant = 16,
};
extern const vlccode (&tableb2)[32];
extern const vlccode (&tableb3)[32];
extern const vlccode (&tableb4)[32];

// Table B.9, coded_block_pattern (4:2:0) by pattern 0..63; pattern 0 has no code in 4:2:0.
extern const vlccode (&tableb9)[64];

// Table B.10, motion_code by its magnitude 0..16 (the sign bit follows for magnitudes above 0).
extern const vlccode tableb10[17];

// Tables B.12 and B.13, dct_dc_size_luminance and dct_dc_size_chrominance, by size 0..11.
extern const vlccode tableb12[12];
extern const vlccode tableb13[12];

// Tables B.14 and B.15, DCT coefficients table zero and one, by run 0..31 and level 1..40
// (run 0: levels 1..40, run 1: 1..18, runs 2..31: at most 1..5; undefined pairs have length 0).
constexpr int maxtablerun = 31;
constexpr int maxtablelevel = 40;
extern const vlccode (&tableb14)[32][41];
extern const vlccode (&tableb15)[32][41];
extern const vlccode b14endofblock;    // 10
extern const vlccode b15endofblock;    // 0110
extern const vlccode b14firstcoef;     // 1, the first coefficient (run 0, level 1) of a non-intra block
extern const vlccode dctescape;        // 0000 01, followed by 6 bits of run and 12 of level
