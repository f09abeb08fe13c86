// A test driver of the start-up sequence: copied into a test's program folder, it scans its
// command line as the encoder does, runs the silent probe and the start-up, and prints the
// code and what the start-up derived, one "name=value" a line. Nothing is encoded.
//
// OSTREL_PROBE_REWRITE: after a successful start-up, the script is rewritten with this text
// and opened again as before pass 1 ("reopen=1" when that open is accepted).
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "encoder/control/control.h"
#include "encoder/control/inireader.h"
#include "encoder/control/settings.h"
#include "encoder/control/silent.h"
#include "encoder/control/startup.h"
#include "encoder/control/switches.h"
#include "encoder/control/units.h"
#include "encoder/motion/cpu.h"
#include "encoder/coding/transform.h"

namespace {
void put(const char* name, const std::string& value) { std::printf("%s=%s\n", name, value.c_str()); }
void put(const char* name, long long value) { std::printf("%s=%lld\n", name, value); }
void put(const char* name, int value) { put(name, (long long)value); }
void put(const char* name, unsigned short value) { put(name, (long long)value); }
void put(const char* name, double value) { std::printf("%s=%.6f\n", name, value); }
}  // namespace

int main(int argc, char** argv) {
  getargs(argc, argv);
  showwindow = inisilent();
  initencoder(statusblock);
  const settingsrec& s = settings;
  put("code", statusblock.code);
  put("message", statusblock.message);
  for (const std::string& w : startwarnings) put("warning", w);
  if (statusblock.code == 0) {
    put("width", s.width);
    put("height", s.height);
    put("displayheight", s.displayheight);
    put("mbcols", s.mbcols);
    put("mbrows", s.mbrows);
    put("mbcount", s.mbcount);
    put("lumasize", s.lumasize);
    put("chromasize", s.chromasize);
    put("searchxmax", s.searchxmax);
    put("searchymax", s.searchymax);
    put("level", s.level);
    put("clipframes", s.clipframes);
    put("firstframe", s.firstframe);
    put("lastframe", s.lastframe);
    put("framecount", s.framecount);
    put("passmode", s.passmode);
    put("cqmode", (long long)s.cqmode);
    put("cqmbrmode", (long long)s.cqmbrmode);
    put("cqvalue", (double)s.cqvalue);
    put("cqmbrvalue", (double)s.cqmbrvalue);
    put("framerate", s.framerate);
    put("frameratecode", s.frameratecode);
    put("pulldown", (long long)s.pulldown);
    put("autogopmax", s.autogopmax);
    put("slotcount", s.slotcount);
    put("ringsize", s.ringsize);
    put("duration", s.duration);
    put("bppclass", s.bppclass);
    put("chaptercount", s.chaptercount);
    put("vbvsize", s.vbvsize);
    put("vbv1", vbvtable[1]);
    put("vbv2", vbvtable[2]);
    put("vbv3", vbvtable[3]);
    put("tcstart", s.tcstart);
    put("avsinput", (long long)s.avsinput);
    put("d2vinput", (long long)s.d2vinput);
    put("extmatrix", (long long)(s.extmatrixentry != nullptr));
    put("simdlevel", s.simdlevel);
    put("kernellevel", kernellevel);
    put("dctlevel", dctlevel);
    put("exedir", s.exedir);
    put("inifile", s.inifile);
    put("inpath", s.inpath);
    put("scdname", s.scdname);
    put("dbspath", s.dbspath);
    put("recip0", quantrecip.intra[0]);
    put("recipmin", [] {
      int m = 65535;
      for (int i = 0; i < 64; i++) m = std::min({m, (int)quantrecip.intra[i], (int)quantrecip.nonintra[i]});
      return (long long)m;
    }());
    std::string marks;
    for (int f = 0; f < maxframes; f++)
      if (chapterflags[f]) marks += (marks.empty() ? "" : ",") + std::to_string(f);
    put("chapters", marks);
    if (const char* text = std::getenv("OSTREL_PROBE_REWRITE")) {
      std::FILE* f = std::fopen(s.inpath.c_str(), "w");
      if (f) {
        std::fputs(text, f);
        std::fclose(f);
      }
      std::string why;
      put("reopen", (long long)reopenscript(1, why));
      if (!why.empty()) std::fprintf(stderr, "%s\n", why.c_str());
      put("height", s.height);
    }
  }
  closerununits();
  deletescratch();
  closeencoder();
  return 0;
}
