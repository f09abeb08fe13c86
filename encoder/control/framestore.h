// The frame store: the encoder's one large allocation, made once at start-up from the picture
// size and the depths of the slots and the frame ring, freed after the message loop ended.
//
// Two arrays. The byte array holds, from its first 16-byte boundary on and in this order:
//   the reconstructed pictures of picture slots 1..slotcount (Y, U, V each, slot after slot),
//   the source planes of frame-ring entries 1..ringsize (Y, U, V each, entry after entry),
//   one more picture, the prediction planes (predplanes: Y, U, V),
//   32 scratch blocks of 256 bytes,
//   the 33,554,432-byte assembly area of the stream writer,
//   with more than one coding thread, the read-ahead pictures 1..aheadcount of the frame reader
//   (two GOPs' worth and one, at most 37), which trade places with ring entries as frames
//   arrive: a ring entry's planes lie wherever its current picture lies (framering.h).
// The word array (signed 16-bit) holds two Y, U, V residual plane triples and 32 scratch blocks
// of 256 elements. One picture is F = lumasize + 2 x chromasize bytes; both sizes are multiples
// of 64, so every plane starts on a 16-byte boundary. Luma planes have pitch width, chroma
// planes chromawidth, and height (coded) lines.
//
// The pass worker thread (and its coding threads and frame reader) touch the planes while a pass
// runs.
#pragma once

#include <cstddef>
#include <cstdint>

#include "encoder/control/settings.h"

constexpr int maxslotcount = maxgoplength + 1;        // 37: slots 1..37
constexpr int maxringsize = 2 * maxgoplength + 3;     // 75: ring entries 1..75
constexpr int maxaheadcount = maxgoplength + 1;       // 37: read-ahead pictures 1..37
constexpr int maxrowactivity = 80;                    // row figures per ring entry (72 used)
constexpr int scratchblockcount = 32;
constexpr std::size_t assemblybytes = 33554432;       // 32 MB
constexpr std::size_t scratchblockbytes = 256;
// Beyond the pictures the byte array holds the scratch blocks, the assembly area and 16 bytes
// to find the aligned origin: 33,554,432 + 8,192 + 16.
constexpr std::size_t storeextrabytes = assemblybytes + scratchblockcount * scratchblockbytes + 16;
// The word array: 32 blocks of 256 elements and 16 elements for the origin.
constexpr std::size_t storeextrawords = scratchblockcount * 256 + 16;

// Where the three planes of one picture start: byte offsets from framebase (word offsets from
// wordbase for the residual planes).
struct planeoffsets {
  std::size_t y = 0, u = 0, v = 0;
};

// One entry of the frame ring: where its source planes lie, and the figures of the fetch.
struct ringentry {
  planeoffsets planes;
  int32_t framenumber = 0;                  // source frame held (first or only pass)
  uint32_t lumasum = 0;                     // sum of the frame's luma samples
  uint32_t lumasad = 0;                     // luma SAD to the frame of the slot before
  uint32_t usad = 0, vsad = 0;              // whole-plane chroma SADs to that frame
  uint32_t rowactivity[maxrowactivity] = {};  // per macroblock row, 0 for a flat row
};

extern uint8_t* framebase;  // aligned origin of the byte array (null until allocframes)
extern int16_t* wordbase;   // aligned origin of the word array
extern bool framesallocated;  // allocframes succeeded and freeframes has not run since

extern planeoffsets reconplanes[maxslotcount + 1];  // by slot number 1..slotcount
extern ringentry framering[maxringsize + 1];         // entries 1..ringsize
extern int aheadcount;                               // read-ahead pictures (0: none)
extern planeoffsets aheadplanes[maxaheadcount + 1];  // by number 1..aheadcount
extern planeoffsets predplanes;
extern planeoffsets residplanes[2];                  // word offsets
extern std::size_t scratchoffsets[scratchblockcount];      // byte offsets, 256 bytes each
extern std::size_t wordscratchoffsets[scratchblockcount];  // word offsets, 256 words each
extern std::size_t assemblyoffset;                   // byte offset of the assembly area

// Allocations larger than this many bytes are refused as if memory ran out (tests lower it to
// reach the failure; the preset takes everything the system gives).
extern std::size_t framestorelimit;

// The frame store for the sizes in settings (width, height, displayheight, lumasize,
// chromasize, slotcount 1..37, ringsize 1..75, fillbytes), with 2 x ((ringsize - 3) / 2) + 1
// read-ahead pictures (at most maxaheadcount) when more than one coding thread codes
// (platform/pool.h). A store from an earlier call is freed first. Lays out every offset above
// and, when the coded picture has more lines than the source delivers (displayheight below
// height, as 1080 coded as 1088), fills every ring entry's Y plane (and every read-ahead
// picture's) with fillbytes[0] and its U and V planes with fillbytes[1] and [2] (black by
// default), so the lines the source never writes are black; the rest of the store is zero.
// 0 on success; 269 when an allocation fails or the sizes are outside the tables (an array
// that was allocated stays until freeframes).
int allocframes();
// Frees both arrays (nothing when none is allocated); called once at program end.
void freeframes();

// Interlaced and pulldown streams (progressive_sequence 0) count their macroblock rows in
// pairs, so a decoder takes the coded height as a multiple of 32. When settings.interlaced or
// settings.pulldown is set and settings.height is not a multiple of 32, height is padded up to
// the next one (720 is coded as 736; at most 1152); displayheight, the height the source
// delivers and vertical_size_value carries, is kept. The sizes derived from height
// (chromaheight, mbrows, lumasize, chromasize, mbcount, searchymax) and the level follow.
// The start-up calls it once pulldown is final (after the frame-rate check that may clear it)
// and before the bits-per-pixel class, the frame store and the header records. Returns true
// when it padded.
bool padcodedheight();

// Plane pointers.
inline uint8_t* ringplane(int entry, int comp) {
  const planeoffsets& p = framering[entry].planes;
  return framebase + (comp == 0 ? p.y : comp == 1 ? p.u : p.v);
}
inline uint8_t* reconplane(int slot, int comp) {
  const planeoffsets& p = reconplanes[slot];
  return framebase + (comp == 0 ? p.y : comp == 1 ? p.u : p.v);
}
inline uint8_t* predplane(int comp) {
  return framebase + (comp == 0 ? predplanes.y : comp == 1 ? predplanes.u : predplanes.v);
}
inline int16_t* residplane(int triple, int comp) {
  const planeoffsets& p = residplanes[triple];
  return wordbase + (comp == 0 ? p.y : comp == 1 ? p.u : p.v);
}
inline uint8_t* scratchblock(int i) { return framebase + scratchoffsets[i]; }
inline int16_t* wordscratchblock(int i) { return wordbase + wordscratchoffsets[i]; }
inline uint8_t* assemblyarea() { return framebase + assemblyoffset; }
