// The stream's headers from outside: "ostrel -i clip.avs -o out.m2v -cq 4" run headless in a
// program folder of its own, the headers read back from the stream's bytes. The drop-frame time
// codes of pulldown streams, the profile an 11-bit intra DC precision declares, and the first
// entry of a custom intra matrix.
#include <gtest/gtest.h>

#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/blackbox.h"

namespace {

// Reads big-endian bit fields from a start code's payload on.
struct bits {
  const std::string& s;
  size_t pos;  // in bits
  uint32_t get(int n) {
    uint32_t v = 0;
    for (int k = 0; k < n; ++k, ++pos) {
      const size_t byte = pos / 8;
      const int bit = byte < s.size() ? (static_cast<unsigned char>(s[byte]) >> (7 - pos % 8)) & 1 : 0;
      v = v << 1 | uint32_t(bit);
    }
    return v;
  }
};

// What the headers say, in stream order.
struct headersseen {
  std::vector<uint32_t> timecodes;   // each GOP's 25-bit time_code
  std::vector<int> fieldsbefore;     // fields shown before each GOP (pictures of earlier GOPs)
  std::vector<int> profilelevel;     // each sequence extension's profile_and_level_indication
  std::vector<int> dcprecision;      // each picture's intra_dc_precision
  std::vector<std::vector<int>> intramatrices;  // each loaded intra matrix, in zigzag order
};

headersseen readheaders(const std::string& s) {
  headersseen h;
  int fields = 0;
  for (size_t i = 0; i + 12 < s.size(); ++i) {
    if (s[i] != 0 || s[i + 1] != 0 || s[i + 2] != 1) continue;
    const unsigned char code = static_cast<unsigned char>(s[i + 3]);
    bits b{s, 8 * (i + 4)};
    if (code == 0xB3) {
      b.get(12 + 12 + 4 + 4 + 18 + 1 + 10 + 1);  // sizes ... constrained_parameters_flag
      if (b.get(1)) {                              // load_intra_quantiser_matrix
        std::vector<int> m;
        for (int k = 0; k < 64; ++k) m.push_back(int(b.get(8)));
        h.intramatrices.push_back(m);
      }
    } else if (code == 0xB8) {
      h.timecodes.push_back(b.get(25));
      h.fieldsbefore.push_back(fields);
    } else if (code == 0xB5) {
      const uint32_t id = b.get(4);
      if (id == 1) {
        h.profilelevel.push_back(int(b.get(8)));
      } else if (id == 8) {
        b.get(16);                                 // f_codes
        h.dcprecision.push_back(int(b.get(2)));
        b.get(2 + 1 + 1 + 1 + 1 + 1 + 1);          // picture_structure ... alternate_scan
        fields += 2 + int(b.get(1));               // repeat_first_field
      }
    }
  }
  return h;
}

// A time code label: hours, minutes, seconds, pictures.
struct label {
  int h, m, s, f;
  bool operator==(const label&) const = default;
};
std::ostream& operator<<(std::ostream& o, const label& l) {
  return o << l.h << ":" << l.m << ":" << l.s << ";" << l.f;
}

// The drop-frame label n pictures after start, counted one picture at a time: 30 labels a
// second, and at the start of every minute that is not a tenth the labels 0 and 1 do not exist.
label dropframeafter(label l, int n) {
  for (int k = 0; k < n; ++k) {
    if (++l.f < 30) continue;
    l.f = 0;
    if (++l.s < 60) continue;
    l.s = 0;
    if (++l.m == 60) l.m = 0, l.h = (l.h + 1) % 24;
    if (l.m % 10 != 0) l.f = 2;
  }
  return l;
}

label labelof(uint32_t tc) {
  return {int(tc >> 19 & 31), int(tc >> 13 & 63), int(tc >> 6 & 63), int(tc & 63)};
}

}  // namespace

// A 23.976 frame/s clip with "*PULLDOWN" shown at 29.97 with drop-frame time codes, starting
// at times that are no whole ten minutes: every GOP's time code is the drop-frame label of its
// first field (the pictures shown before it counted on from the start), across a minute
// boundary from each start. Before, the start was added after the drop-frame counting, so GOPs
// after the boundary were labelled two pictures early (one 00:01:00;00, a label that does not
// exist).
TEST(codingoutside, dropframetimecodesacrossaminute) {
  const label starts[] = {{0, 0, 59, 16}, {0, 9, 59, 20}, {1, 12, 59, 0}, {0, 3, 59, 27}};
  for (const label& start : starts) {
    std::ostringstream name;
    name << "start " << start;
    SCOPED_TRACE(name.str());
    progfolder pf;
    pf.write("clip.avs",
             "TestPattern(length=30, width=64, height=64, fps=24000, fps_denominator=1001)\n");
    pf.write("KJ.ini", "*PULLDOWN\n*TIMECODE " + std::to_string(start.h) + " " +
                           std::to_string(start.m) + " " + std::to_string(start.s) + " " +
                           std::to_string(start.f) + "\n");
    runresult r = pf.ostrel(
        {"-i", "clip.avs", "-o", "out.m2v", "-cq", "4", "-gop", "6", "2", "-noscene"});
    ASSERT_EQ(r.status, 0) << described(r);
    std::string why;
    ASSERT_TRUE(decodesclean(pf.path("out.m2v"), &why)) << why;
    const headersseen h = readheaders(pf.read("out.m2v"));
    ASSERT_EQ(h.timecodes.size(), 5u);  // GOPs of 6 frames: 0, 7.5, 15, 22.5 and 30 pictures
    bool crossed = false;
    for (size_t g = 0; g < h.timecodes.size(); ++g) {
      const uint32_t tc = h.timecodes[g];
      EXPECT_EQ(tc >> 24 & 1, 1u) << "drop_frame_flag, GOP " << g;
      EXPECT_EQ(tc >> 12 & 1, 1u) << "marker_bit, GOP " << g;
      const label want = dropframeafter(start, h.fieldsbefore[g] / 2);
      EXPECT_EQ(labelof(tc), want) << "GOP " << g << " after " << h.fieldsbefore[g] << " fields";
      crossed = crossed || want.m != start.m;
    }
    EXPECT_TRUE(crossed) << "the clip crosses a minute";
  }
}

// Main Profile allows an intra DC precision of 8 to 10 bits: a stream coded with 11 declares
// High Profile at the same level (0x18 for Main Level), the log's settings echo says "HP@ML",
// and the stream decodes. 10 bits stay Main Profile (0x48).
TEST(codingoutside, dcprecisionelevendeclareshighprofile) {
  struct c {
    int bits, indication;
    const char* echo;
  } cases[] = {{11, 0x18, "MPEG profile@level:   HP@ML"}, {10, 0x48, "MPEG profile@level:   MP@ML"}};
  for (const c& t : cases) {
    SCOPED_TRACE(std::to_string(t.bits) + " bits");
    progfolder pf;
    pf.write("clip.avs", "TestPattern(length=8, width=64, height=64, fps=25)\n");
    runresult r = pf.ostrel({"-i", "clip.avs", "-o", "out.m2v", "-cq", "4", "-dc_prec",
                             std::to_string(t.bits), "-log", "run.log"});
    ASSERT_EQ(r.status, 0) << described(r);
    std::string why;
    ASSERT_TRUE(decodesclean(pf.path("out.m2v"), &why)) << why;
    const headersseen h = readheaders(pf.read("out.m2v"));
    ASSERT_FALSE(h.profilelevel.empty());
    for (int pl : h.profilelevel) EXPECT_EQ(pl, t.indication);
    ASSERT_EQ(h.dcprecision.size(), 8u);
    for (int d : h.dcprecision) EXPECT_EQ(d, t.bits - 8);
    EXPECT_NE(pf.read("run.log").find("\n" + std::string(t.echo) + "\n"), std::string::npos);
  }
}

// A custom intra matrix of the settings file ("*CUSTOMMATRIX", or "*INTRAMATRIX" after it) goes
// into the sequence header with 8 as its first entry, as the standard wants, whatever the file
// gave there (0, 16); an entry of 300 goes in as 255. Before, an entry 0 became 1.
TEST(codingoutside, custommatrixfirstentryiseight) {
  auto row = [](int first, int rest, int last) {
    std::string t = std::to_string(first);
    for (int i = 1; i < 63; ++i) t += " " + std::to_string(rest);
    return t + " " + std::to_string(last) + "\n";
  };
  struct c {
    const char* name;
    std::string ini;
  } cases[] = {
      {"*CUSTOMMATRIX", "*CUSTOMMATRIX\n" + row(0, 20, 300) + row(16, 16, 16)},
      {"*INTRAMATRIX", "*CUSTOMMATRIX\n" + row(8, 16, 16) + row(16, 16, 16) + "*INTRAMATRIX\n" +
                           row(16, 20, 300)},
  };
  for (const c& t : cases) {
    SCOPED_TRACE(t.name);
    progfolder pf;
    pf.write("clip.avs", "TestPattern(length=4, width=64, height=64, fps=25)\n");
    pf.write("KJ.ini", t.ini);
    runresult r = pf.ostrel({"-i", "clip.avs", "-o", "out.m2v", "-cq", "4"});
    ASSERT_EQ(r.status, 0) << described(r);
    std::string why;
    ASSERT_TRUE(decodesclean(pf.path("out.m2v"), &why)) << why;
    const headersseen h = readheaders(pf.read("out.m2v"));
    ASSERT_FALSE(h.intramatrices.empty());
    for (const std::vector<int>& m : h.intramatrices) {
      EXPECT_EQ(m[0], 8);
      EXPECT_EQ(m[1], 20);
      EXPECT_EQ(m[63], 255);  // the last entry in zigzag order is the last in raster order
    }
  }
}
