// Runs bridge operations from the command line and prints one line per operation, so tests can
// run the bridge from a program folder of their own:
//   avsload | avsclose | d2vfree                    -> "<name> <code>"
//   avsopen SCRIPT                                  -> "avsopen <code> w h frames num den"
//   avsgetframe N                                   -> "avsgetframe <code> <hash Y> <hash U> <hash V>"
//   d2vload LIB                                     -> "d2vload <code>"
//   d2vopen PROJECT                                 -> "d2vopen <code> w h frames num den sixth"
//   d2vgetframe N                                   -> "d2vgetframe <hash Y> <hash U> <hash V>"
// Planes are sized by the last successful open (64x64 before any), filled with 0x55 first.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "videosource/bridge.h"

namespace {
uint32_t hash(const std::vector<uint8_t>& p) {
  uint32_t h = 2166136261u;
  for (uint8_t b : p) h = (h ^ b) * 16777619u;
  return h;
}
}  // namespace

int main(int argc, char** argv) {
  int w = 64, h = 64;
  for (int i = 1; i < argc; i++) {
    std::string op = argv[i];
    std::string arg = i + 1 < argc ? argv[i + 1] : "";
    if (op == "avsload") {
      std::printf("avsload %d\n", avsload());
    } else if (op == "avsclose") {
      std::printf("avsclose %d\n", avsclose());
    } else if (op == "d2vfree") {
      std::printf("d2vfree %d\n", d2vfree());
    } else if (op == "avsopen" || op == "d2vopen") {
      i++;
      int ow = -1, oh = -1, of = -1, on = -1, od = -1, os = -1;
      int r;
      if (op == "avsopen") {
        char msg[200];
        r = avsopen(arg.c_str(), ow, oh, of, on, od, msg, (int)sizeof msg);
        std::printf("avsopen %d %d %d %d %d %d\n", r, ow, oh, of, on, od);
      } else {
        r = d2vopen(arg.c_str(), ow, oh, of, on, od, &os);
        std::printf("d2vopen %d %d %d %d %d %d %d\n", r, ow, oh, of, on, od, os);
      }
      if (r == 0) {
        w = ow;
        h = oh;
      }
    } else if (op == "avsgetframe" || op == "d2vgetframe") {
      i++;
      int n = std::atoi(arg.c_str());
      std::vector<uint8_t> y((size_t)w * h, 0x55), u((size_t)w * h / 4, 0x55), v((size_t)w * h / 4, 0x55);
      if (op == "avsgetframe") {
        int r = avsgetframe(n, w, w / 2, y.data(), u.data(), v.data());
        std::printf("avsgetframe %d %08x %08x %08x\n", r, hash(y), hash(u), hash(v));
      } else {
        d2vgetframe(n, y.data(), u.data(), v.data());
        std::printf("d2vgetframe %08x %08x %08x\n", hash(y), hash(u), hash(v));
      }
    } else if (op == "d2vload") {
      i++;
      std::printf("d2vload %d\n", d2vload(arg.c_str()));
    } else {
      std::fprintf(stderr, "unknown operation %s\n", op.c_str());
      return 2;
    }
  }
  return 0;
}
