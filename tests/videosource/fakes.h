// What the test-only decoder library delivers, so tests can check every byte the bridge copies.
#pragma once

#include <cstdint>

// Byte i of frame n in each plane of the fake decoder's packed frame block.
inline uint8_t fakeluma(int n, int i) { return (uint8_t)(n + i); }
inline uint8_t fakecb(int n, int i) { return (uint8_t)(3 * n + i + 100); }
inline uint8_t fakecr(int n, int i) { return (uint8_t)(7 * n + i + 200); }

// The frame number for which the fake decoder gives no frame.
constexpr int fakenoframe = 666;
