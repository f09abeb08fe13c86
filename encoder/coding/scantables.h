// The scan orders of ISO/IEC 13818-2 (7.3, figure 7-2 zig-zag and figure 7-3 alternate) and its
// non-linear quantiser_scale table (7.4.2.2, table 7-6).
//
// Both scans give, for scan positions 1..64 (index 0..63 here), the 1-based raster position
// (8 x row + column + 1) of the coefficient sent at that position. They are constant and ready
// at load time; nothing has to fill them.
#pragma once

#include <cstdint>

extern const uint8_t zigzagscan[64];
extern const uint8_t altscantab[64];

// quantiser_scale by quantiser_scale_code 1..31 with q_scale_type 1 (entry 0 unused, 0).
extern const uint8_t nonlinearqscale[32];
