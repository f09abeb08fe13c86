// Reading the log of a run back: its lines, a block of them, the figure after a label.
#pragma once

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

inline std::vector<std::string> linesof(const std::string& text) {
  std::vector<std::string> v;
  std::istringstream in(text);
  for (std::string l; std::getline(in, l);) v.push_back(l);
  return v;
}

// The lines from the one that equals `first` on, `count` of them (fewer at the end).
inline std::vector<std::string> blockat(const std::vector<std::string>& log, const std::string& first,
                                        size_t count) {
  auto it = std::find(log.begin(), log.end(), first);
  if (it == log.end()) return {};
  auto end = log.end() - it > long(count) ? it + long(count) : log.end();
  return std::vector<std::string>(it, end);
}

// The number after the label of the line that starts with it; -1 when there is none.
inline long long figure(const std::vector<std::string>& log, const std::string& label) {
  for (const std::string& l : log)
    if (l.rfind(label, 0) == 0) return std::stoll(l.substr(label.size()));
  return -1;
}
