// A run set up by hand for the coder and writer tests: the settings a start-up would derive,
// the header records, the frame store and unit 21, without the start-up sequence. Frames come
// from a synthetic source; streams are read back with ffmpeg and a small start-code parser.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

struct runsetup {
  int width = 720, height = 576;  // source size (height: lines the source delivers)
  int frames = 1;
  int goplength = 1;
  int dcprec = 1;
  float cq = 4.0f;
  int frameratecode = 3;  // 25 frames/s
  bool interlaced = false, pulldown = false, closedgops = false, seqendcode = true;
  bool noscd = true;      // GOP shapes from the GOP length and chapters only (no scene cuts)
  int simdlevel = 0;      // 0: the host's level
  bool logfile = false;
};

// A picture generator: frame number and the Y, U, V planes (pitches width and width / 2,
// displayheight lines).
using picturefn = std::function<void(int frame, uint8_t* y, uint8_t* u, uint8_t* v)>;

picturefn flatpicture(uint8_t yv, uint8_t uv, uint8_t vv);
// A smooth gradient with texture and a little noise that moves with the frame number.
picturefn naturalpicture();
// Every sample drawn at random (seeded by seed + the frame number), again for every frame: no
// prediction helps.
picturefn noisepicture(uint32_t seed = 9001);

// Frames of the passes from pic (the frame ring's source; null: the video source bridge again).
void usesource(const picturefn& pic);

// The host's processor level (2..4 on x86-64).
int hostlevel();

class coderun : public ::testing::Test {
 protected:
  std::string dir;
  std::string m2v;
  void SetUp() override;
  void TearDown() override;
  // Fills the settings, header records and reciprocals, allocates the frame store and opens
  // unit 21 on `stream` (m2v when empty). Fails the test on an allocation or open failure.
  void prepare(const runsetup& r, const std::string& stream = "");
  // After prepare: a two-pass run at kbitrate under kmaxbitrate (kbit/s) with bframes B
  // pictures, zones at 1.0, the statistics into KJ01.dbs of the folder (unit 23). Its path.
  std::string preparestats(int bframes, int kbitrate, int kmaxbitrate);
  // Runs the one constant-quantiser pass over the clip with frames from pic.
  void encode(const picturefn& pic);
  // prepare + encode + close unit 21.
  void encodeclip(const runsetup& r, const picturefn& pic);
};

std::vector<uint8_t> readbytes(const std::string& path);
// ffmpeg's decoding as yuv420p frames (display size), or empty on failure.
std::vector<uint8_t> decodeyuv(const std::string& m2v, std::string* why = nullptr);

// The start codes of a stream with what follows them.
struct streamitem {
  uint8_t code;     // the byte after 00 00 01
  size_t offset;    // of the 00 00 01
};
std::vector<streamitem> startcodes(const std::vector<uint8_t>& s);
// Slice quantiser_scale_codes of picture p (0-based in stream order), by slice row 1..n.
std::vector<int> slicequants(const std::vector<uint8_t>& s, int p);
// Per picture in stream order: temporal_reference and picture_coding_type.
std::vector<std::pair<int, int>> pictureheaders(const std::vector<uint8_t>& s);
// Per GOP header: closed_gop flag.
std::vector<int> gopclosedflags(const std::vector<uint8_t>& s);
