// The exports of a D2V decoder library (DGDecode.dll), as the bridge calls them. Plain C
// functions, the caller's calling convention.
#pragma once

#include <cstdint>

extern "C" {
// Opens a D2V project; gives the decoder's video record or null when the project cannot be
// read. The record is six int32 words: width, height, frame-rate numerator, frame-rate
// denominator, frame count, and a sixth word the system does not use. It stays valid until the
// next open.
typedef const int32_t* (*d2vopenfn)(const char* project);
// Frame n as one packed block: width x height luma bytes (rows of width bytes), then a quarter
// of that for Cb and for Cr (rows of width / 2 bytes); null when the frame cannot be decoded.
// The block stays valid until the next call.
typedef const uint8_t* (*d2vframefn)(int n);
// Must exist; the bridge never calls it.
typedef void (*d2vclosefn)();
// Optional ("sourceFile"): the i-th video file (0-based) of the open project, as the library
// found it on disk; null past the last one or with no project open.
typedef const char* (*d2vfilefn)(int i);
}
