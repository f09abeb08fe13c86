#include "encoder/coding/quantrecip.h"

#include <algorithm>
#include <cstdint>

#include "encoder/control/settings.h"

void rebuildrecip() {
  for (int i = 0; i < 64; ++i) {
    quantrecip.intra[i] = uint16_t(65535 / std::max<int>(quantmatrices.intra[i], 1));
    quantrecip.nonintra[i] = uint16_t(65535 / std::max<int>(quantmatrices.nonintra[i], 1));
  }
}
