// The front end's plane kernels: the whole-plane sum of absolute differences and the plane
// copies of the scene-change scan and the preview. Each kernel has a plain C++ reference
// (_c) and an 8-byte MMX path and a 16-byte SSE2 path that give exactly the reference's
// result; the entry without a suffix runs the path that the mode word picks.
#pragma once

#include <cstdint>

// The sum of |a[i] - b[i]| over the size bytes of two planes (every byte, including those
// after the last whole block). size 0 .. 8,421,504 (so the sum fits in 31 bits; a preview
// plane holds at most 2,211,840 bytes); any alignment; reads exactly size bytes of each plane.
int32_t planesad(const uint8_t* a, const uint8_t* b, int size);
// Copies size bytes (every one) from source to destination, 256-byte blocks first; the two
// must not overlap; any alignment; writes exactly size bytes.
void copyblocks256(const uint8_t* source, uint8_t* destination, int size);
// The same copy in single 16-byte (or 8-byte) moves, for the smaller chroma planes.
void copyblocks16(const uint8_t* source, uint8_t* destination, int size);

// The mode word: 0 until the processor check sets it (setcpumode), then the level found
// (1 MMX, 2 SSE2, 3 SSE3; the check leaves it 0 for SSSE3). Only level 1 selects the 8-byte
// paths; every other value the 16-byte ones (x86-64 always has SSE2). Set before a scan starts.
void setcpumode(int level);
int cpumode();

enum planepath : int { planec = 0, planemmx = 1, planesse2 = 2 };
// The path the kernels take at a level.
planepath planepathfor(int level);

// The paths, each callable on its own (tests, benchmarks).
int32_t planesad_c(const uint8_t* a, const uint8_t* b, int size);
int32_t planesad_mmx(const uint8_t* a, const uint8_t* b, int size);
int32_t planesad_sse2(const uint8_t* a, const uint8_t* b, int size);
void copyblocks_c(const uint8_t* source, uint8_t* destination, int size);  // both copies
void copyblocks256_mmx(const uint8_t* source, uint8_t* destination, int size);
void copyblocks256_sse2(const uint8_t* source, uint8_t* destination, int size);
void copyblocks16_mmx(const uint8_t* source, uint8_t* destination, int size);
void copyblocks16_sse2(const uint8_t* source, uint8_t* destination, int size);
