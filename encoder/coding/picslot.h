// One picture being coded: its macroblock decisions, its output-stream and statistics bits with
// their cursors, and its picture-level coding state. Slots are numbered from 1 (the picture's
// display position in its GOP plus 1). The pass worker thread owns them; while it codes a picture,
// the coding threads (platform/pool.h) fill the macroblock records of the picture's rows, each
// thread its own rows, and write the rows' bits into lanes of their own (slicerows.h).
#pragma once

#include <cstdint>
#include <memory>

#include "encoder/coding/bitio.h"
#include "encoder/control/settings.h"

constexpr int maxslots = maxgoplength + 1;  // 37: a GOP of 36 pictures plus one reference
constexpr int32_t streambitsbytes = 2097152;   // starting capacity of a slot's stream bits
constexpr int32_t statbitsbytes = 131072;      // starting capacity of its statistics bits
// The most bytes one macroblock can add, with the slice header before it: six blocks of escapes
// only (6 x (20 + 63 x 24 + 4) = 9,216 bits intra, 6 x (64 x 24 + 2) = 9,228 non-intra) plus
// the slice and macroblock header fields (under 200 bits), rounded up.
constexpr int32_t mbstreamworst = 1280;
constexpr int32_t mbstatworst = 32;  // statistics bits of one macroblock: flags, type, 4 vectors
// How far the buffers may grow. A picture never needs more than 8,640 worst macroblocks
// (about 11 MB); tests lower these to reach the out-of-room path.
extern int32_t streambitslimit;  // 16 MB
extern int32_t statbitslimit;    // 1 MB

// One macroblock's decisions. Vectors are forward x, forward y, backward x, backward y.
struct mbrecord {
  uint8_t mbtype = 0;       // macroblock_type flags: 1 intra, 2 pattern, 4 backward, 8 forward
  int8_t blockclass = 0;    // 0 not coded yet, 1 intra, 2 coded blocks, 3 no coded blocks
  uint8_t cbp = 0;          // coded_block_pattern, bit 5 = top-left luma .. bit 0 = Cr
  int16_t fullmv[4] = {};   // full-pel vectors, pixels (x -252..252, y -62..62)
  int16_t halfmv[4] = {};   // half-pel vectors of the output stream, half pixels
  int16_t statmv[4] = {};   // half-pel vectors of the statistics stream
  int8_t intraflag = 0;     // coded intra (-1) or not (0)
  int8_t mbdirflags[3] = {};  // forward, backward, interpolated (interpolated sets all three)
  int8_t skipflag = 0;      // skipped (-1)
};

// A growable byte buffer for bits: capacity usable bytes plus the writer's spare bytes.
struct bitbuffer {
  std::unique_ptr<uint8_t[]> storage;
  int32_t capacity = 0;  // usable bytes
  uint8_t* data() { return storage.get(); }
  const uint8_t* data() const { return storage.get(); }
};

// Where slices are written, and the state that runs along them: the output-stream and
// statistics bits with their cursors, and the predictors that every slice start resets. A
// picture slot is the lane of a picture that one thread codes; when several threads code one
// picture, each macroblock row goes into a lane of its own (slicerows.h) and the lanes are
// joined into the slot in row order. Each lane starts a cache line of its own: the lanes of
// neighbouring rows are written at once by different threads.
struct alignas(64) bitlane {
  bitbuffer streambits;          // picture header, extension, slices
  bitbuffer statbits;            // the picture record of the statistics stream
  bitcursor streamcursor;
  bitcursor statcursor;
  int32_t pmv[4] = {};           // vector predictors of the output stream, half pixels
  int32_t statpmv[4] = {};       // the same for the statistics stream
  int32_t dcpred[3] = {};        // DC predictors Y, Cb, Cr, relative to mid-grey
  // A row lane keeps its first coding error here (the join raises it on the pass thread, in row
  // order); a slot raises its errors at once.
  bool deferserrors = false;
  const char* error = nullptr;
  // A row lane's largest room asked for (laneroom), from its start: stream bytes (cursor + 1 +
  // the worst macroblock) and the statistics bit position. The join asks the slot for the same
  // room at the row's place, so a picture too large for the limits fails as the slot would.
  int64_t roomstream = 0;
  int64_t roomstatbits = 0;
};

struct picslot : bitlane {
  mbrecord mbs[maxmbcount + 1];  // macroblocks 1..mbcount in raster order (entry 0 unused)
  int32_t picbits = 0;           // bits of the coded picture
  int32_t picbytes = 0;          // bytes of the coded picture
  int32_t picstructure = 3;      // picture_structure, 3 frame picture
  int32_t motiontype = 2;        // frame_motion_type, 2 frame-based
  int32_t pictype = 0;           // picture_coding_type 1 I, 2 P, 3 B
  int32_t intravlc = 0;          // intra_vlc_format (0: table B.14 for intra blocks)
  int32_t fcodes[8] = {15, 15, 15, 15, 15, 15, 15, 15};  // halfmv f_codes, then statmv's
  int32_t mecostflag = 0;        // every macroblock coded intra (0 or -1)
};

// Slots 1..maxslots (entry 0 unused). Their bit buffers are allocated on the first picture.
extern picslot picslots[maxslots + 1];

// Starts a picture in slot s: allocates the bit buffers at their starting capacity on first
// use, sets both cursors to byte 0 and clears the first bytes (so a reused slot carries nothing
// over). Returns false after a coding error (no memory); the buffers are then still safe to
// write the first macroblock's worth of bits into.
bool startslotpicture(int s);
// The same for any lane, allocating its buffers at streambytes and statbytes on first use; the
// lane's kept error is forgotten.
bool startlane(bitlane& ln, int32_t streambytes, int32_t statbytes);

// Room for the next macroblock: call before each macroblock (putmbainc also does). When less
// than a worst-case macroblock is left in either buffer, the buffer doubles (up to the limits
// above, which no picture can reach). If it cannot grow, the run's coding error is raised and
// the picture's bits are thrown away (both cursors return to byte 0), so later writes stay
// inside the buffers while the pass winds down. Never keep a data() pointer across this call.
bool slotroom(int s);
// The same for any lane.
bool laneroom(bitlane& ln);
// Room for streambytes and statbytes more bytes after the lane's cursors, growing as above;
// false after the same coding error.
bool laneextra(bitlane& ln, int64_t streambytes, int64_t statbytes);
// The same for buffers of streamneed and statneed usable bytes in all.
bool lanegrow(bitlane& ln, int64_t streamneed, int64_t statneed);

// Raises a coding error of the lane: at once for a slot, kept for the join for a row lane.
void laneerror(bitlane& ln, const char* text);

// Slices per slice start: the slot's three DC predictors and, for P and B pictures, the eight
// vector predictors go back to 0.
void slotslicestart(int s);
// The same for a lane of a picture of type pictype.
void laneslicestart(bitlane& ln, int pictype);
