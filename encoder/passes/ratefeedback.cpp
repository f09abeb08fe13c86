#include "encoder/passes/ratefeedback.h"

#include <algorithm>

#include "encoder/passes/intermpass.h"

float adjustrate() { return gopqbase[std::clamp(gopcount, 1, maxgopcount)]; }

void typeqratios(float& qi, float& qp, float& qb, float q) {
  qi = qp = qb = std::min(std::max(q, 1.0f), 31.0f);
}
