// Seeded random settings files and command lines: the readers never crash, return only their
// documented codes, and every value that reaches settings lies in its range. The seed is
// printed; OSTREL_SEED replays one.
#include <gtest/gtest.h>

#include <cstdlib>
#include <random>

#include "encoder/control/control.h"
#include "encoder/control/inireader.h"
#include "encoder/control/switches.h"
#include "tests/settings/settingsfixture.h"

namespace {

unsigned seed() {
  const char* s = std::getenv("OSTREL_SEED");
  unsigned v = s ? static_cast<unsigned>(std::strtoul(s, nullptr, 10)) : std::random_device{}();
  std::printf("seed %u (OSTREL_SEED replays it)\n", v);
  return v;
}

const char* const pieces[] = {"0",   "1",    "-1",  "12",   "5000",      "2147483647",
                              "-2147483648",   "99999999999", "3.5", "1e9", ",",
                              " ",   "\t",   "x",   "MPEG", "2.21:1",    "SSSE3",
                              "\r",  "700000", "-700000", "40", "0.1"};

std::string randomline(std::mt19937& rng) {
  std::string l;
  if (rng() % 4 != 0) l = inikeys[rng() % inikeycount];
  int n = static_cast<int>(rng() % 12);
  for (int i = 0; i < n; ++i) {
    l += rng() % 2 ? " " : "";
    l += pieces[rng() % std::size(pieces)];
  }
  if (rng() % 20 == 0) l += std::string(rng() % 3000, static_cast<char>(32 + rng() % 95));
  if (rng() % 50 == 0) l.push_back('\0');
  return l;
}

void expectranges() {
  EXPECT_GE(settings.bitrate, 50000);
  EXPECT_LE(settings.bitrate, maxkbitrate * 1000);
  EXPECT_GE(settings.maxbitrate, 50000);
  EXPECT_LE(settings.maxbitrate, maxkbitrate * 1000);
  EXPECT_TRUE(settings.goplength >= 1 && settings.goplength <= 36);
  EXPECT_TRUE(settings.bframes >= 0 && settings.bframes <= 2);
  EXPECT_TRUE(settings.dcprec >= 0 && settings.dcprec <= 3);
  EXPECT_TRUE(settings.bias >= 0 && settings.bias <= 100);
  EXPECT_TRUE(settings.aspect >= 1 && settings.aspect <= 4);
  EXPECT_TRUE(settings.profile == 1 || settings.profile == 2 || settings.profile == 4);
  EXPECT_TRUE(settings.matrixno >= 0 && settings.matrixno <= 16);
  EXPECT_TRUE(settings.cqvalue >= 1.0f && settings.cqvalue <= 31.0f);
  EXPECT_TRUE(settings.simdlevel >= 1 && settings.simdlevel <= 3);
  EXPECT_TRUE(settings.autogopmax >= 12 && settings.autogopmax <= 18);
  EXPECT_TRUE(settings.waitsecs >= 0 && settings.waitsecs <= 100);
  EXPECT_TRUE(settings.lumgain >= 0 && settings.lumgain <= 4);
  for (int i = 0; i < 64; ++i) {
    EXPECT_TRUE(quantmatrices.intra[i] >= 1 && quantmatrices.intra[i] <= 255);
    EXPECT_TRUE(quantmatrices.nonintra[i] >= 1 && quantmatrices.nonintra[i] <= 255);
  }
}

TEST(robustness, randomsettingsfiles) {
  std::mt19937 rng(seed());
  int applied = 0;
  for (int run = 0; run < 600; ++run) {
    freshsettings(3);
    std::string file;
    int lines = static_cast<int>(rng() % 12);
    for (int i = 0; i < lines; ++i) file += randomline(rng) + (rng() % 3 ? "\n" : "\r\n");
    iniresult r = runini(file);
    ASSERT_TRUE(r.code == 0 || r.code == 265) << "run " << run;
    if (r.code == 265 && !r.text.empty()) {
      EXPECT_EQ(r.text.substr(0, 3), ": *");
    }
    if (r.code != 0) continue;
    const char* argv[] = {"ostrel"};
    getargs(1, argv);
    ASSERT_EQ(parseargs(), 0);
    expectranges();
    ++applied;
  }
  std::printf("%d of 600 files applied\n", applied);
  EXPECT_GT(applied, 20);  // the range checks did run
}

TEST(robustness, randomcommandlines) {
  const char* const words[] = {"-i", "-o", "-b", "-maxbitrate", "-aspectratio", "-gop",
                               "-profile", "-scene", "-noscene", "-interlaced", "-nointerlaced",
                               "-ini", "-log", "-tff", "-bff", "-matrix", "-bias", "-dc_prec",
                               "-frames", "-chapter", "-cq", "-cq_maxbitrate", "-cq_pfactor",
                               "-cq_bfactor", "-pulldown", "-B", "-GOP"};
  std::mt19937 rng(seed());
  int converted = 0;
  for (int run = 0; run < 500; ++run) {
    freshsettings(3);
    settings.inifile = "/nonexistent-folder/KJ.ini";
    std::string text;
    ASSERT_EQ(readini(text), 0);
    checkini();
    std::vector<std::string> args;
    int n = static_cast<int>(rng() % 14);
    for (int i = 0; i < n; ++i)
      args.push_back(rng() % 2 ? words[rng() % std::size(words)]
                               : pieces[rng() % std::size(pieces)]);
    int code = runargs(args);
    ASSERT_TRUE(code == 0 || (code >= 512 && code <= 517) || (code >= 521 && code <= 526))
        << code;
    if (code == 0) {
      expectranges();
      ++converted;
    }
  }
  std::printf("%d of 500 command lines converted\n", converted);
  EXPECT_GT(converted, 50);
}

}  // namespace
