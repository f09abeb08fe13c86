// The IEEE 1180 accuracy measurement of an inverse transform: 10,000 blocks of random
// samples in -L..H (negated for the second sign), a double-precision forward transform rounded
// and clipped to -2048..2047, then the transform under test against the double-precision
// inverse, both clipped to -256..255.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstring>

struct ieeefigures {
  int peak = 0;              // largest |error| of any sample
  double pmse = 0;           // largest mean square error of one sample position
  double omse = 0;           // mean square error over all positions
  double pme = 0;            // largest |mean error| of one sample position
  double ome = 0;            // |mean error| over all positions
  bool zeroin_zeroout = true;
  bool pass() const {
    return peak <= 1 && pmse <= 0.06 && omse <= 0.02 && pme <= 0.015 && ome <= 0.0015 &&
           zeroin_zeroout;
  }
};

// The standard's generator: a 32-bit linear congruential sequence from 1, 30 bits kept,
// scaled to -L..H.
struct ieeerandom {
  uint32_t randx = 1;
  long next(long L, long H) {
    randx = randx * 1103515245u + 12345u;
    long i = long(randx & 0x7ffffffe);
    double x = double(i) / double(0x7fffffff);
    x *= double(L + H + 1);
    long j = long(x);
    return j - L;
  }
};

inline double ieeecos(int a, int b) {  // c(a)/2 * cos((2b+1) a pi / 16)
  static double t[8][8];
  static bool init = false;
  if (!init) {
    for (int u = 0; u < 8; u++)
      for (int n = 0; n < 8; n++)
        t[u][n] = (u == 0 ? std::sqrt(0.125) : 0.5) * std::cos((2 * n + 1) * u * M_PI / 16.0);
    init = true;
  }
  return t[a][b];
}

inline void ieeefdct(const double* in, double* out) {
  double tmp[64];
  for (int v = 0; v < 8; v++)
    for (int x = 0; x < 8; x++) {
      double s = 0;
      for (int y = 0; y < 8; y++) s += ieeecos(v, y) * in[8 * y + x];
      tmp[8 * v + x] = s;
    }
  for (int v = 0; v < 8; v++)
    for (int u = 0; u < 8; u++) {
      double s = 0;
      for (int x = 0; x < 8; x++) s += ieeecos(u, x) * tmp[8 * v + x];
      out[8 * v + u] = s;
    }
}

inline void ieeeidct(const double* in, double* out) {
  double tmp[64];
  for (int y = 0; y < 8; y++)
    for (int u = 0; u < 8; u++) {
      double s = 0;
      for (int v = 0; v < 8; v++) s += ieeecos(v, y) * in[8 * v + u];
      tmp[8 * y + u] = s;
    }
  for (int y = 0; y < 8; y++)
    for (int x = 0; x < 8; x++) {
      double s = 0;
      for (int u = 0; u < 8; u++) s += ieeecos(u, x) * tmp[8 * y + u];
      out[8 * y + x] = s;
    }
}

inline int ieeeclip(double v, int lo, int hi) {
  double r = std::floor(v + 0.5);
  return r < lo ? lo : r > hi ? hi : int(r);
}

// One run: `idct` transforms 64 int16 (16-byte aligned) in place.
template <class F>
ieeefigures ieeerun(F idct, long L, long H, int sign, int blocks = 10000) {
  ieeerandom rng;
  double err[64] = {}, sq[64] = {};
  ieeefigures fig;
  alignas(16) int16_t blk[64];
  for (int b = 0; b < blocks; b++) {
    double s[64], f[64], ref[64];
    for (int i = 0; i < 64; i++) s[i] = double(sign * rng.next(L, H));
    ieeefdct(s, f);
    int16_t coef[64];
    double fc[64];
    for (int i = 0; i < 64; i++) {
      coef[i] = int16_t(ieeeclip(f[i], -2048, 2047));
      fc[i] = coef[i];
    }
    ieeeidct(fc, ref);
    std::memcpy(blk, coef, sizeof blk);
    idct(blk);
    for (int i = 0; i < 64; i++) {
      int t = blk[i] < -256 ? -256 : blk[i] > 255 ? 255 : blk[i];
      int e = t - ieeeclip(ref[i], -256, 255);
      if (std::abs(e) > fig.peak) fig.peak = std::abs(e);
      err[i] += e;
      sq[i] += double(e) * e;
    }
  }
  double te = 0, ts = 0;
  for (int i = 0; i < 64; i++) {
    te += err[i];
    ts += sq[i];
    if (sq[i] / blocks > fig.pmse) fig.pmse = sq[i] / blocks;
    if (std::fabs(err[i] / blocks) > fig.pme) fig.pme = std::fabs(err[i] / blocks);
  }
  fig.omse = ts / (64.0 * blocks);
  fig.ome = std::fabs(te / (64.0 * blocks));
  std::memset(blk, 0, sizeof blk);
  idct(blk);
  for (int i = 0; i < 64; i++) fig.zeroin_zeroout &= blk[i] == 0;
  return fig;
}
