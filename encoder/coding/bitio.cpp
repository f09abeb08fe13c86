#include "encoder/coding/bitio.h"

const uint32_t bitmasks[33] = {
    0x00000000, 0x00000001, 0x00000003, 0x00000007, 0x0000000F, 0x0000001F, 0x0000003F,
    0x0000007F, 0x000000FF, 0x000001FF, 0x000003FF, 0x000007FF, 0x00000FFF, 0x00001FFF,
    0x00003FFF, 0x00007FFF, 0x0000FFFF, 0x0001FFFF, 0x0003FFFF, 0x0007FFFF, 0x000FFFFF,
    0x001FFFFF, 0x003FFFFF, 0x007FFFFF, 0x00FFFFFF, 0x01FFFFFF, 0x03FFFFFF, 0x07FFFFFF,
    0x0FFFFFFF, 0x1FFFFFFF, 0x3FFFFFFF, 0x7FFFFFFF, 0xFFFFFFFF};

void putbitslong(uint32_t value, int n, uint8_t* buffer, bitcursor& cur) {
  putwindow(value >> 16, n - 16, buffer, cur);  // the top n - 16 bits: at most 23 with the used ones
  putwindow(value & 0xFFFF, 16, buffer, cur);   // the low 16 bits: at most 23 again
}

uint32_t showbits(int n, const uint8_t* buffer, int32_t usedbits, int32_t bytepos) {
  // Gather the (up to 5) bytes that hold bits usedbits .. usedbits + n - 1 of bytepos on.
  int bytes = (usedbits + n + 7) >> 3;
  uint64_t w = 0;
  for (int i = 0; i < bytes; ++i) w = (w << 8) | buffer[bytepos + i];
  int tail = bytes * 8 - usedbits - n;  // bits after the field in the last byte
  return uint32_t((w >> tail) & bitmasks[n]);
}

uint32_t getbits(int n, const uint8_t* buffer, bitcursor& cur) {
  uint32_t v = showbits(n, buffer, cur.usedbits, cur.bytepos);
  skipbits(n, cur);
  return v;
}

void skipbits(int n, bitcursor& cur) {
  int a = n + cur.usedbits;
  cur.bytepos += a >> 3;
  cur.usedbits = a & 7;
}

void alignbits(uint8_t* buffer, bitcursor& cur) {
  if (cur.usedbits == 0) return;
  // Clear the rest of the current byte and the three after it, as a window write would.
  uint8_t* p = buffer + cur.bytepos;
  p[0] &= uint8_t(0xFF00u >> cur.usedbits);
  p[1] = p[2] = p[3] = 0;
  cur.usedbits = 0;
  cur.bytepos += 1;
}

void copybits(const uint8_t* src, int64_t nbits, uint8_t* buffer, bitcursor& cur) {
  bitcursor from;
  for (; nbits >= 32; nbits -= 32) putbits(getbits(32, src, from), 32, buffer, cur);
  if (nbits > 0) putbits(getbits(int(nbits), src, from), int(nbits), buffer, cur);
}
