#include "common/fmtfield.h"

#include <algorithm>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace {

std::string padleft(std::string s, int w) {
  if (w > 0 && static_cast<int>(s.size()) < w) s.insert(0, static_cast<size_t>(w) - s.size(), ' ');
  return s;
}

}  // namespace

std::string fmtint(int64_t v, int w) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%" PRId64, v);
  return padleft(buf, w);
}

std::string fmtfixed(double v, int w, int d) {
  if (std::isnan(v)) return padleft("NaN", w);
  if (std::isinf(v)) return padleft(v > 0 ? "Infinity" : "-Infinity", w);
  d = std::clamp(d, 0, 15);
  // printf rounds exact binary ties to even; find them from the exact expansion (40 more
  // digits tell a tie from any double near it for |v| above 1e-9) and step past them away
  // from zero, so halves round away from zero as everywhere else in the system.
  constexpr int extra = 40;
  char buf[400];  // 309 integer digits, sign, point, 55 decimals at most
  std::snprintf(buf, sizeof buf, "%.*f", d + extra, v);
  const char* point = std::strchr(buf, '.');
  if (point) {
    const char* tail = point + 1 + d;
    bool tie = tail[0] == '5';
    for (int i = 1; tie && i < extra; ++i) tie = tail[i] == '0';
    if (tie) v = std::nextafter(v, v > 0 ? HUGE_VAL : -HUGE_VAL);
  }
  std::snprintf(buf, sizeof buf, "%.*f", d, v);
  return padleft(buf, w);
}

std::string fmtlabel(const std::string& text, int w) {
  std::string s = text;
  if (w > 0 && static_cast<int>(s.size()) < w) s.append(static_cast<size_t>(w) - s.size(), ' ');
  return s;
}

std::string adjustleft(const std::string& text) {
  size_t lead = text.find_first_not_of(' ');
  if (lead == std::string::npos || lead == 0) return text;
  return text.substr(lead) + std::string(lead, ' ');
}

std::string trimright(const std::string& text) {
  size_t end = text.find_last_not_of(' ');
  return end == std::string::npos ? std::string() : text.substr(0, end + 1);
}
