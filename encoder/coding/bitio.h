// The bit writer and reader of every stream the encoder produces or reads back.
//
// Fields go most significant bit first. The writer works through a big-endian 32-bit window at
// the cursor, so it may overwrite (with zeros) up to 3 bytes beyond the last bit it places: a
// buffer that is to hold N bytes needs N + bitspare bytes of storage. Bytes past the last written
// bit are always zero, so a later write never has to clear them.
//
// The operations know nothing of buffer sizes; their callers keep room (see picslot.h).
#pragma once

#include <cstdint>
#include <cstring>

// Position in a bit buffer: usedbits (0..7) bits of the byte at bytepos are already used.
// usedbits 0 and bytepos N means N whole bytes are written.
struct bitcursor {
  int32_t usedbits = 0;
  int32_t bytepos = 0;
};

constexpr int bitspare = 3;  // storage a buffer needs beyond its last byte

// bitmasks[n] = 2^n - 1, n = 0..32.
extern const uint32_t bitmasks[33];

// Bits written (or read) so far.
inline int64_t bitposition(const bitcursor& cur) {
  return int64_t(cur.bytepos) * 8 + cur.usedbits;
}

// One write through the window: requires n + usedbits <= 32.
inline void putwindow(uint32_t value, int n, uint8_t* buffer, bitcursor& cur) {
  int c = cur.usedbits;
  uint8_t* p = buffer + cur.bytepos;
  uint32_t v = uint32_t((uint64_t(value & bitmasks[n]) << (32 - n - c)) & 0xFFFFFFFFu);
  if (c != 0) v |= uint32_t(p[0] & (0xFF00u >> c)) << 24;  // keep the used top bits
  uint32_t be = __builtin_bswap32(v);
  std::memcpy(p, &be, 4);
  cur.bytepos += (n + c) >> 3;
  cur.usedbits = (n + c) & 7;
}

// A field that spans more than the window (n + usedbits above 32, so n >= 26): two writes.
void putbitslong(uint32_t value, int n, uint8_t* buffer, bitcursor& cur);

// Appends the low n bits of value (n = 0..32) at any bit position; nothing is ever dropped.
// n = 0 writes no bit but still zeroes the unused part of the window.
inline void putbits(uint32_t value, int n, uint8_t* buffer, bitcursor& cur) {
  if (n + cur.usedbits > 32) [[unlikely]] {
    putbitslong(value, n, buffer, cur);
    return;
  }
  putwindow(value, n, buffer, cur);
}

// Reads n bits (1..32) at any bit position and advances the cursor. Only the bytes that hold
// the requested bits are read, never the window's spare bytes beyond them.
uint32_t getbits(int n, const uint8_t* buffer, bitcursor& cur);
// The next n bits (1..32) without moving anything.
uint32_t showbits(int n, const uint8_t* buffer, int32_t usedbits, int32_t bytepos);
// Advances the cursor by n bits (n >= 0).
void skipbits(int n, bitcursor& cur);
// Appends the first nbits bits (nbits >= 0) of src, read from its first byte on, at the cursor.
void copybits(const uint8_t* src, int64_t nbits, uint8_t* buffer, bitcursor& cur);
// Closes the current byte with zero bits (nothing when the cursor is on a byte boundary).
void alignbits(uint8_t* buffer, bitcursor& cur);

// 0 for 0, else the number of significant bits of |v| (1 -> 1, 255 -> 8, -3 -> 2).
inline int bitlength(int32_t v) {
  uint32_t a = v < 0 ? 0u - uint32_t(v) : uint32_t(v);
  return a == 0 ? 0 : 32 - __builtin_clz(a);
}
// Logical right shift, n = 0..31.
inline uint32_t shiftr(uint32_t v, int n) { return v >> n; }
// Left shift of a 32-bit word, n = 0..31 (bits leaving the top are lost).
inline int32_t shiftl(int32_t v, int n) { return int32_t(uint32_t(v) << n); }
// 2^n, n = 0..31 (2^31 is the word with only the sign bit set).
inline int32_t pow2(int n) { return int32_t(uint32_t(1) << n); }
