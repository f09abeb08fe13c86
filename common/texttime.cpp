#include "common/texttime.h"

#include <cstring>

#include "platform/clock.h"

double cpustart = 0.0;
float clockstart = 0.0f;

void lowercase(char* text, int length) {
  for (int i = 0; i < length; i++)
    if (text[i] >= 'A' && text[i] <= 'Z') text[i] = (char)(text[i] + 32);
}

void lowercase(std::string& text) { lowercase(text.data(), (int)text.size()); }

std::string scdfilename(const std::string& output) {
  const size_t slash = output.find_last_of('/');
  const size_t namestart = slash == std::string::npos ? 0 : slash + 1;
  const size_t dot = output.find_last_of('.');
  const bool extension = dot != std::string::npos && dot > namestart;
  return (extension ? output.substr(0, dot) : output) + "_scd.txt";
}

void uppercase(char* text, int length) {
  for (int i = 0; i < length; i++)
    if (text[i] >= 'a' && text[i] <= 'z') text[i] = (char)(text[i] - 32);
}

void uppercase(std::string& text) { uppercase(text.data(), (int)text.size()); }

void padcopy(const char* source, int sourcelength, char* dest, int destlength) {
  if (destlength <= 0) return;
  int n = sourcelength;
  while (n > 0 && source[n - 1] == ' ') n--;
  std::memset(dest, ' ', (size_t)destlength);
  int copied = n < destlength ? n : destlength;
  std::memcpy(dest, source, (size_t)copied);
  dest[n < destlength ? n : destlength - 1] = 0;
}

void fmttime(char* dest, int seconds) {
  if (seconds < 0) seconds = 0;
  int h = seconds / 3600;
  int m = seconds / 60 - 60 * h;
  int s = seconds % 60;
  char buf[16];
  if (h > 99 || h < 0) std::memcpy(buf, "**", 2);
  else {
    buf[0] = h >= 10 ? (char)('0' + h / 10) : ' ';
    buf[1] = (char)('0' + h % 10);
  }
  buf[2] = ':';
  buf[3] = (char)('0' + (m / 10) % 10);
  buf[4] = (char)('0' + m % 10);
  buf[5] = ':';
  buf[6] = (char)('0' + s / 10);
  buf[7] = (char)('0' + s % 10);
  std::memcpy(dest, buf, 8);
}

std::string fmttime(int seconds) {
  char b[8];
  fmttime(b, seconds);
  return std::string(b, 8);
}

float elapsedfrom(double now, float reference) {
  float t = (float)now - reference;
  if (t < 0) t += 86400.0f;
  return t;
}

float elapsed(float reference) { return elapsedfrom(timeofday(), reference); }

double cputime() { return processcpu(); }
