// What both programs do to a 4:2:0 picture of packed planes (Y: height rows of width bytes;
// U and V: height / 2 rows of width / 2 bytes): mask and shift it as the encoder codes it, and
// turn it into the 24-bit BMP image of a preview.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr int bmpheadersize = 54;  // 14-byte file header + 40-byte information header

// Shifts the picture vertically by shift lines (positive moves it up, negative down), then
// masks top lines at the top and bottom lines at the bottom; vacated and masked samples take
// fill[0] (Y), fill[1] (U) and fill[2] (V). Every count is clamped to its plane; chroma moves
// and fills whole chroma rows, half the luma count (truncated), so an odd count never splits a
// chroma row. No allocation.
void maskpicture(uint8_t* y, uint8_t* u, uint8_t* v, int width, int height, int top, int bottom,
                 int shift, const uint8_t fill[3]);

// Writes the BMP file image of the picture into dest (54 + 3 x width x height bytes): the
// headers, then the rows bottom-up without padding, each pixel blue, green, red (BT.601 video
// range to full range in 16.16 fixed point, floored, clamped to 0..255). Each chroma sample
// serves a 2 x 2 block of luma samples; with an odd width or height the last luma column or row
// takes the last chroma column or row. width and height at least 1, U and V at least one sample
// each; integer arithmetic only.
void bmpfromyuv(const uint8_t* y, const uint8_t* u, const uint8_t* v, int width, int height,
                uint8_t* dest);
