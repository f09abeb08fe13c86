#include "tests/vbv/streamcheck.h"

#include <algorithm>
#include <cctype>

#include "tests/icoder/fixture.h"
#include "tests/support/blackbox.h"

namespace {

// Bits most significant first from a byte offset of the stream.
class bitsat {
 public:
  bitsat(const std::vector<uint8_t>& s, size_t offset) : s_(s), pos_(8 * offset) {}
  uint32_t get(int n) {
    uint32_t v = 0;
    for (int k = 0; k < n; ++k, ++pos_) {
      const size_t byte = pos_ / 8;
      const uint32_t bit = byte < s_.size() ? (s_[byte] >> (7 - pos_ % 8)) & 1 : 0;
      v = (v << 1) | bit;
    }
    return v;
  }

 private:
  const std::vector<uint8_t>& s_;
  size_t pos_;
};

struct picture {
  size_t start = 0;  // of its data: the headers in front of it, or its own start code
  int type = 0;
  bool rff = false, tff = false;
};

}  // namespace

buffercheck buffermodel(const std::vector<uint8_t>& s) {
  buffercheck r;
  std::vector<picture> pics;
  int frcode = 0;
  int64_t brvalue = -1, vbvvalue = -1;
  bool progressive = false;
  int seqextensions = 0;  // the first sequence header and extension give the figures
  bool headers = false;  // a sequence or GOP header since the last picture
  size_t headerstart = 0;
  for (const streamitem& it : startcodes(s)) {
    const size_t body = it.offset + 4;
    if (it.code == 0xB3 || it.code == 0xB8) {
      if (!headers) headerstart = it.offset;
      headers = true;
      if (it.code == 0xB3 && brvalue < 0) {
        bitsat b(s, body);
        b.get(24);  // horizontal and vertical size
        b.get(4);   // aspect ratio
        frcode = int(b.get(4));
        const int64_t br = b.get(18);
        b.get(1);
        const int64_t vbv = b.get(10);
        brvalue = br;
        vbvvalue = vbv;
      }
    } else if (it.code == 0x00) {
      picture p;
      p.start = headers ? headerstart : it.offset;
      headers = false;
      bitsat b(s, body);
      b.get(10);
      p.type = int(b.get(3));
      r.notffff += b.get(16) != 0xFFFF;
      pics.push_back(p);
    } else if (it.code == 0xB5) {
      bitsat b(s, body);
      const uint32_t id = b.get(4);
      if (id == 1 && brvalue >= 0 && seqextensions++ == 0) {  // sequence extension
        b.get(8);
        progressive = b.get(1) != 0;
        b.get(2 + 2 + 2);
        brvalue += int64_t(b.get(12)) << 18;
        b.get(1);
        vbvvalue += int64_t(b.get(8)) << 10;
      } else if (id == 8 && !pics.empty()) {  // picture coding extension
        b.get(16 + 2 + 2);  // f_codes, intra_dc_precision, picture_structure
        pics.back().tff = b.get(1) != 0;
        b.get(6);  // frame_pred_frame_dct ... alternate_scan
        pics.back().rff = b.get(1) != 0;
      }
    }
  }
  static const int64_t nums[9] = {0, 24000, 24, 25, 30000, 30, 50, 60000, 60};
  static const int64_t dens[9] = {1, 1001, 1, 1, 1001, 1, 1, 1001, 1};
  if (pics.empty() || frcode < 1 || frcode > 8 || brvalue <= 0 || vbvvalue <= 0) {
    r.fault = "no pictures, no sequence header or a frame rate, bit rate or buffer of 0";
    return r;
  }
  if (pics.front().start != 0) {
    r.fault = "data in front of the first picture's headers";
    return r;
  }
  r.pictures = int(pics.size());
  r.buffer = vbvvalue * 16384;
  r.rate = brvalue * 400;
  // Displayed fields of a picture: a repeated first field adds one, or in a progressive
  // sequence two or four more fields (the frame shown twice or three times).
  auto fields = [progressive](const picture& p) {
    if (!p.rff) return int64_t(2);
    return progressive ? (p.tff ? int64_t(6) : int64_t(4)) : int64_t(3);
  };
  double level = double(r.buffer);
  r.lowest = level;
  const picture* anchor = nullptr;  // the newest I or P picture decoded
  for (size_t n = 0; n < pics.size(); ++n) {
    const size_t end = n + 1 < pics.size() ? pics[n + 1].start : s.size();
    const double bits = 8.0 * double(end - pics[n].start);
    const double after = level - bits;
    r.lowest = std::min(r.lowest, after);
    if (after < 0.0) {
      if (r.underflows++ == 0) r.firstunderflow = int(n);
    }
    const picture* shown = &pics[n];
    if (pics[n].type != 3) {
      if (anchor) shown = anchor;
      anchor = &pics[n];
    }
    const double in = double(r.rate * fields(*shown) * dens[frcode]) / double(2 * nums[frcode]);
    level = std::min(std::max(after, 0.0) + in, double(r.buffer));
  }
  return r;
}

std::vector<gopsize> gopsizes(const std::vector<uint8_t>& s) {
  std::vector<gopsize> gops;
  size_t picstart = 0;
  bool inpicture = false;
  for (const streamitem& it : startcodes(s)) {
    const bool ends = it.code == 0x00 || it.code == 0xB3 || it.code == 0xB8 || it.code == 0xB7;
    if (inpicture && ends) {
      gops.back().picturebytes += int64_t(it.offset - picstart);
      inpicture = false;
    }
    if (it.code == 0xB8) gops.push_back({});
    if (it.code == 0x00 && !gops.empty()) {
      gops.back().pictures += 1;
      picstart = it.offset;
      inpicture = true;
    }
  }
  if (inpicture) gops.back().picturebytes += int64_t(s.size() - picstart);
  return gops;
}

int64_t goprate(const gopsize& g, double framerate) {
  if (g.pictures <= 0) return 0;
  return int64_t(double(8 * g.picturebytes) * framerate / g.pictures);
}

bool makeaudio(const std::string& path, double seconds) {
  runresult r = runcommand({"ffmpeg", "-nostdin", "-v", "error", "-y", "-f", "lavfi", "-i",
                            "sine=frequency=440:sample_rate=48000:duration=" +
                                std::to_string(seconds),
                            "-c:a", "mp2", "-b:a", "192k", "-f", "mp2", path});
  return r.status == 0;
}

bool dvdmux(const std::string& dir, const std::string& video, const std::string& audio,
            std::string* log) {
  runresult r = runcommand(
      {"mplex", "-f", "8", "-o", dir + "/dvd.mpg", video, audio}, dir);
  const std::string all = r.out + r.err;
  if (log) *log = all;
  std::string lower = all;
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](unsigned char c) { return char(std::tolower(c)); });
  for (const char* bad : {"under-runs detected!", "underflow", "too late", "frame drop"})
    if (lower.find(bad) != std::string::npos) return false;
  return r.status == 0 && lower.find("mux status: no under-runs detected.") != std::string::npos;
}
