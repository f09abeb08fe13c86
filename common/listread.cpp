#include "common/listread.h"

#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>

namespace {

bool isseparator(char c) { return c == ' ' || c == '\t' || c == ',' || c == '\r' || c == '\n'; }
bool isdigit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

linesource textsource(const std::string& text) {
  bool given = false;
  return [text, given](std::string& line) mutable {
    if (given) return 0;
    given = true;
    line = text;
    return 1;
  };
}

int readline(std::FILE* f, std::string& line, size_t maxlen, bool* cut) {
  line.clear();
  bool any = false;
  // Characters past maxlen + 1 that are not blanks: pending as one CR may still end the line.
  bool lost = false;
  int pendingcr = 0;
  for (;;) {
    int c = std::fgetc(f);
    if (c == EOF) {
      if (std::ferror(f)) return -1;
      if (!any) return 0;
      break;
    }
    any = true;
    if (c == '\n') break;
    if (line.size() <= maxlen) {
      line.push_back(c == '\t' ? ' ' : static_cast<char>(c));
    } else {
      if (pendingcr) lost = true;
      pendingcr = c == '\r';
      if (c != ' ' && c != '\t' && c != '\r') lost = true;
    }
  }
  // A CR before the line end belongs to the line end; one more character was kept so that a
  // CR right after the cut is still seen as such.
  if (!line.empty() && line.back() == '\r' && line.size() <= maxlen) line.pop_back();
  if (line.size() > maxlen) {
    const char c = line[maxlen];
    if (c != ' ' && !(c == '\r' && !pendingcr)) lost = true;
    line.resize(maxlen);
  }
  if (cut) *cut = lost;
  return 1;
}

linesource filesource(std::FILE* f, size_t maxlen) {
  return [f, maxlen](std::string& line) { return readline(f, line, maxlen); };
}

bool parseint(const std::string& t, int& value) {
  size_t i = 0;
  bool neg = false;
  if (i < t.size() && (t[i] == '+' || t[i] == '-')) neg = t[i++] == '-';
  if (i == t.size()) return false;
  long long v = 0;
  for (; i < t.size(); ++i) {
    if (!isdigit(t[i])) return false;
    v = v * 10 + (t[i] - '0');
    if (v > static_cast<long long>(INT_MAX) + 1) return false;
  }
  if (neg) v = -v;
  if (v > INT_MAX || v < INT_MIN) return false;
  value = static_cast<int>(v);
  return true;
}

bool parsereal(const std::string& t, float& value) {
  // [sign] digits [. [digits]] | [sign] . digits, then [e|E|d|D [sign] digits]
  size_t i = 0;
  std::string norm;
  if (i < t.size() && (t[i] == '+' || t[i] == '-')) norm.push_back(t[i++]);
  int mant = 0;
  while (i < t.size() && isdigit(t[i])) norm.push_back(t[i++]), ++mant;
  if (i < t.size() && t[i] == '.') {
    norm.push_back(t[i++]);
    while (i < t.size() && isdigit(t[i])) norm.push_back(t[i++]), ++mant;
  }
  if (mant == 0) return false;
  if (i < t.size() && (t[i] == 'e' || t[i] == 'E' || t[i] == 'd' || t[i] == 'D')) {
    norm.push_back('e');
    ++i;
    if (i < t.size() && (t[i] == '+' || t[i] == '-')) norm.push_back(t[i++]);
    int exp = 0;
    while (i < t.size() && isdigit(t[i])) norm.push_back(t[i++]), ++exp;
    if (exp == 0) return false;
  }
  if (i != t.size()) return false;
  errno = 0;
  float v = std::strtof(norm.c_str(), nullptr);
  if (!std::isfinite(v)) return false;  // beyond the float range
  value = v;
  return true;
}

void listreader::beginread() { haveline_ = false; }

listresult listreader::nexttoken(std::string& token) {
  for (;;) {
    if (!haveline_) {
      int r = src_(line_);
      if (r < 0) return listfail;
      if (r == 0) return listend;
      haveline_ = true;
      pos_ = 0;
    }
    while (pos_ < line_.size() && isseparator(line_[pos_])) ++pos_;
    if (pos_ < line_.size()) break;
    haveline_ = false;  // the value goes on on the next line
  }
  size_t start = pos_;
  while (pos_ < line_.size() && !isseparator(line_[pos_])) ++pos_;
  token = line_.substr(start, pos_ - start);
  return listok;
}

listresult listreader::getint(int& value) {
  std::string token;
  listresult r = nexttoken(token);
  if (r != listok) return r;
  return parseint(token, value) ? listok : listbad;
}

listresult listreader::getreal(float& value) {
  std::string token;
  listresult r = nexttoken(token);
  if (r != listok) return r;
  return parsereal(token, value) ? listok : listbad;
}

listresult readints(const std::string& text, int* values, int count) {
  listreader rd(textsource(text));
  rd.beginread();
  for (int i = 0; i < count; ++i) {
    int v = 0;
    listresult r = rd.getint(v);
    if (r != listok) return r;
    values[i] = v;
  }
  return listok;
}

listresult readreals(const std::string& text, float* values, int count) {
  listreader rd(textsource(text));
  rd.beginread();
  for (int i = 0; i < count; ++i) {
    float v = 0;
    listresult r = rd.getreal(v);
    if (r != listok) return r;
    values[i] = v;
  }
  return listok;
}

void dropbom(std::string& first) {
  if (first.compare(0, 3, "\xEF\xBB\xBF") == 0) first.erase(0, 3);
}
