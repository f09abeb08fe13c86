#include "encoder/control/report.h"

#include <cstdio>

#include "encoder/control/control.h"
#include "platform/clock.h"
#include "platform/queue.h"
#include "platform/statusout.h"
#include "platform/thread.h"

namespace {
struct codetext {
  int code;
  const char* text;
};
const codetext messages[] = {
    {1, "can't find Avisynth.dll"},
    {2, "can't load Avisynth CreateScriptEnvironment"},
    {3, "can't process AVS file, wait for Avisynth error message"},
    {4, "can't load movie"},
    {5, "wrong color space, add ConvertToYV12() to script"},
    {32, "width not a multiple of 16"},
    {33, "height not a multiple of 16"},
    {34, "width > 1920"},
    {35, "height > 1152"},
    {128, "can't find MPEG2 decoder"},
    {129, "can't free DGDecode.dll"},
    {130, "can't import routines from DGDecode.dll"},
    {131, "can't open d2v file"},
    {132, "can't load movie"},
    {133, "can't free Avisynth.dll"},
    {256, "input not complete, required input: input file, output file, maxbitrate"},
    {257, "input not complete, required input: input file, output file"},
    {258, "input not complete, required input: input file, output file, bitrate, maxbitrate"},
    {259, "can't find input file"},
    {260, "no avs or d2v input"},
    {261, "invalid MPEG2 framerate"},
    {262, "can't open m2v file"},
    {263, "can't open log file"},
    {264, "no MMX detected, aborting..."},
    {265, "can't process ini file"},
    {266, "can't open ini file"},
    {267, "no frames to encode"},
    {268, "can't open dbs file"},
    {269, "can't allocate memory"},
    {512, "can't process parameter -b"},
    {513, "can't process parameter -maxbitrate"},
    {514, "can't process parameter -bias"},
    {515, "can't process parameter -dc_prec"},
    {516, "can't process parameter -frames, can't read start frame"},
    {517, "can't process parameter -frames, can't read end frame"},
    {518, "error processing chapter file"},
    {519, "error opening chapter file"},
    {520, "can't find chapter file"},
    {521, "can't process parameter -gop, can't read length"},
    {522, "can't process parameter -gop, can't read # B-frames"},
    {523, "can't process parameter -cq, can't read CQ value"},
    {524, "can't process parameter -cq_maxbitrate, can't read CQ value"},
    {525, "can't process parameter -cq_pfactor, can't read value"},
    {526, "can't process parameter -cq_bfactor, can't read value"},
    {527, "error opening scd file"},
    {600, "adaptive matrix flagged but can't find matrix.dll"},
    {601, "adaptive matrix flagged, matrix.dll found but can't load EXTMATRIX"},
};

std::string cut(const std::string& message, int length) {
  return length >= 0 && (size_t)length < message.size() ? message.substr(0, (size_t)length) : message;
}
}  // namespace

const char* starttext(int code) {
  for (const auto& m : messages)
    if (m.code == code) return m.text;
  return nullptr;
}

std::string oneline(const std::string& text) {
  std::string r;
  for (size_t i = 0; i < text.size(); i++) {
    char c = text[i];
    if (c == '\r' || c == '\n') {
      if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') i++;
      r += ' ';
    } else {
      r += c;
    }
  }
  size_t n = r.find_last_not_of(' ');
  return n == std::string::npos ? std::string() : r.substr(0, n + 1);
}

void errorout(const std::string& text) {
  statusbreak();  // stderr may share the terminal with a progress line
  std::string line = "ostrel: " + oneline(text) + "\n";
  std::fputs(line.c_str(), stderr);
  std::fflush(stderr);
}

void errorstamp(const std::string& message, int length) {
  runstate = 2;
  if (!showwindow) return;
  std::string text = " ( ) ERROR, " + cut(message, length);
  for (int d = 9; d >= 1; d--) {
    text[2] = (char)('0' + d);
    putstatus(text);
    statuspause(1000);
    if (onworker() && workerstopping()) return;  // the window was closed meanwhile
  }
}

void errorline(const std::string& message, int length) {
  runstate = 2;
  if (!showwindow) return;
  putstatus("ERROR, " + cut(message, length));
  statuspause(2000);
}

void reportinit(statusrec* status) {
  int code = status->code;
  if (code == 0) {
    poststep(steppass1);
    return;
  }
  const char* text = starttext(code);
  if (code == 3) {
    std::string server = oneline(status->message);
    errorout(std::string("ERROR, ") + text + ": " + server);
    errorline(text);
    errorstamp(server, 512);
  } else if (text) {
    // 265 carries the settings reader's context text (": *KEY") right after its text.
    std::string full = std::string(text) + (code == 265 ? oneline(status->message) : "");
    std::string detail = oneline(status->detail);
    errorout("ERROR, " + full);
    // The file and the reason behind the fixed text: on stderr after it, and shown for two
    // seconds before the text's countdown.
    if (!detail.empty()) {
      errorout(detail);
      errorline(detail, 512);
    }
    errorstamp(full);
  } else {
    // A code without a text quits without showing anything; scripts still learn of it.
    errorout("ERROR, start-up failed with code " + std::to_string(code));
  }
  nextstep = 0;
  quitrun();
}
