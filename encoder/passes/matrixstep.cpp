#include "encoder/passes/matrixstep.h"

#include <algorithm>
#include <cmath>
#include <type_traits>

#include "encoder/passes/framering.h"
#include "plugin/extmatrix.h"

// The plug-in's declaration that users build against is the call the encoder makes.
static_assert(std::is_same_v<decltype(&EXTMATRIX), decltype(settingsrec::extmatrixentry)>);

int32_t gopmeanluma = 0;

// Rows by luminance gain 1..4, ten factors to a line from mean luma 0.
const float lumgaintables[4][65] = {
    {
        0.85f, 0.85f, 0.85f, 0.85f, 0.85f, 0.85f, 0.85f, 0.85f, 0.85f, 0.85f,
        0.85f, 0.85f, 0.85f, 0.85f, 0.85f, 0.85f, 0.85f, 0.85f, 0.85f, 0.85f,
        0.85f, 0.85f, 0.85f, 0.85f, 0.86f, 0.86f, 0.86f, 0.87f, 0.87f, 0.88f,
        0.88f, 0.89f, 0.89f, 0.90f, 0.90f, 0.91f, 0.91f, 0.92f, 0.92f, 0.93f,
        0.93f, 0.94f, 0.94f, 0.95f, 0.96f, 0.97f, 0.98f, 0.98f, 0.99f, 0.99f,
        0.99f, 0.99f, 1.00f, 1.00f, 1.00f, 1.00f, 1.00f, 1.00f, 1.00f, 1.00f,
        1.00f, 1.00f, 1.00f, 1.00f, 1.00f,
    },
    {
        0.75f, 0.75f, 0.75f, 0.75f, 0.75f, 0.75f, 0.75f, 0.75f, 0.75f, 0.75f,
        0.75f, 0.75f, 0.75f, 0.75f, 0.75f, 0.75f, 0.75f, 0.75f, 0.75f, 0.75f,
        0.75f, 0.75f, 0.75f, 0.75f, 0.75f, 0.75f, 0.75f, 0.76f, 0.77f, 0.78f,
        0.78f, 0.79f, 0.79f, 0.80f, 0.81f, 0.82f, 0.83f, 0.84f, 0.85f, 0.86f,
        0.87f, 0.88f, 0.89f, 0.90f, 0.91f, 0.92f, 0.93f, 0.93f, 0.94f, 0.94f,
        0.95f, 0.95f, 0.96f, 0.96f, 0.97f, 0.97f, 0.98f, 0.98f, 0.98f, 0.99f,
        0.99f, 0.99f, 1.00f, 1.00f, 1.00f,
    },
    {
        0.65f, 0.65f, 0.65f, 0.65f, 0.65f, 0.65f, 0.65f, 0.65f, 0.65f, 0.65f,
        0.65f, 0.65f, 0.65f, 0.65f, 0.65f, 0.65f, 0.65f, 0.65f, 0.65f, 0.65f,
        0.65f, 0.65f, 0.65f, 0.65f, 0.65f, 0.66f, 0.67f, 0.68f, 0.69f, 0.70f,
        0.71f, 0.72f, 0.73f, 0.74f, 0.75f, 0.76f, 0.77f, 0.78f, 0.79f, 0.80f,
        0.81f, 0.82f, 0.83f, 0.84f, 0.85f, 0.86f, 0.87f, 0.88f, 0.89f, 0.90f,
        0.91f, 0.92f, 0.93f, 0.94f, 0.95f, 0.96f, 0.96f, 0.97f, 0.97f, 0.98f,
        0.98f, 0.99f, 0.99f, 1.00f, 1.00f,
    },
    {
        0.50f, 0.50f, 0.50f, 0.50f, 0.50f, 0.50f, 0.50f, 0.50f, 0.50f, 0.50f,
        0.50f, 0.50f, 0.50f, 0.50f, 0.50f, 0.50f, 0.50f, 0.50f, 0.50f, 0.50f,
        0.50f, 0.50f, 0.50f, 0.50f, 0.50f, 0.51f, 0.52f, 0.53f, 0.54f, 0.55f,
        0.56f, 0.57f, 0.58f, 0.59f, 0.60f, 0.62f, 0.64f, 0.66f, 0.68f, 0.70f,
        0.72f, 0.74f, 0.76f, 0.78f, 0.80f, 0.81f, 0.82f, 0.83f, 0.84f, 0.85f,
        0.86f, 0.87f, 0.88f, 0.89f, 0.90f, 0.91f, 0.92f, 0.93f, 0.94f, 0.95f,
        0.96f, 0.97f, 0.98f, 0.99f, 1.00f,
    },
};

bool matricesadapt() { return settings.adaptivematrix || settings.lumgain > 0; }

int32_t meanluma(int first, int n) {
  const int64_t samples = int64_t(n) * settings.mbcount * 256;
  if (n <= 0 || samples <= 0) return 0;
  int64_t sum = 0;
  for (int f = first; f < first + n; ++f)
    if (f >= 0 && f < maxframes) sum += framelumasum[f];
  return int32_t(sum / samples);
}

void boundmatrices(matrixpair& m) {
  for (int i = 0; i < 64; ++i) {
    m.intra[i] = int16_t(std::clamp<int>(m.intra[i], 8, 255));
    m.nonintra[i] = int16_t(std::clamp<int>(m.nonintra[i], 8, 255));
  }
  m.intra[0] = 8;
}

void scalematrix(int32_t& meanluma) {
  if (settings.lumgain < 1 || settings.lumgain > 4) return;
  const float f = lumgaintables[settings.lumgain - 1][std::clamp(meanluma, 0, 64)];
  // The product in single precision (an int16 weight is exact in a float), then the nearest
  // integer with halves away from zero: 17 x 0.50 gives 9.
  for (int16_t& m : quantmatrices.intra) m = int16_t(std::lround(float(m) * f));
  for (int16_t& m : quantmatrices.nonintra) m = int16_t(std::lround(float(m) * f));
  boundmatrices(quantmatrices);
}

void matrixstep(int first, int n, int32_t gopclass) {
  const settingsrec& st = settings;
  if (st.adaptivematrix) {
    quantmatrices = basematrices;
    gopmeanluma = meanluma(first, n);
    // The plug-in gets copies: whatever it writes there cannot change the class that the
    // GOP record carries to the second pass, nor the mean luma.
    int32_t cls = gopclass, luma = gopmeanluma;
    if (st.extmatrixentry) st.extmatrixentry(&cls, &luma, quantmatrices.intra, quantmatrices.nonintra);
    boundmatrices(quantmatrices);
  }
  if (st.lumgain > 0) {
    quantmatrices = basematrices;
    gopmeanluma = meanluma(first, n);
    scalematrix(gopmeanluma);
  }
}
