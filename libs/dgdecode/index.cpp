// The picture index: one scan over the elementary stream finds every start code, cuts the
// stream into units (headers plus one coded frame) and numbers the frames in the order the
// decoder shows them.
//
// Frame numbering follows the decoder's reordering: a B picture is shown as soon as it is
// decoded, an I or P picture when the next I or P picture arrives (or at the end). B pictures
// of an open GOP that come before the stream's second I or P picture lack their forward
// reference; the decoder drops them, so they get no frame number (a closed GOP keeps them).
#include "dgdecode.h"

#include <cstring>

namespace {

// Start codes (ISO/IEC 13818-2 Table 6-1).
constexpr int picturecode = 0x00;
constexpr int slicemax = 0xAF;
constexpr int sequencecode = 0xB3;
constexpr int extensioncode = 0xB5;
constexpr int groupcode = 0xB8;
constexpr int userdatacode = 0xB2;

// Frame rates by frame_rate_code (Table 6-4); 0 marks a reserved code.
constexpr int ratenums[16] = {0, 24000, 24, 25, 30000, 30, 50, 60000, 60, 0, 0, 0, 0, 0, 0, 0};
constexpr int ratedens[16] = {1, 1001, 1, 1, 1001, 1, 1, 1001, 1, 1, 1, 1, 1, 1, 1, 1};

struct bitpeek {
  const uint8_t* p;
  int len;
  int bit = 0;
  unsigned get(int n) {
    unsigned v = 0;
    for (int i = 0; i < n; i++, bit++) {
      int byte = bit >> 3;
      unsigned b = byte < len ? (p[byte] >> (7 - (bit & 7))) & 1 : 0;
      v = (v << 1) | b;
    }
    return v;
  }
};

// Where a recently read byte lies: the chunks the last few bytes came from.
struct chunkref {
  int64_t pos;
  size_t size;
};

struct scanner {
  picindex& idx;
  const esreader& reader;
  std::string& why;
  bool failed = false;

  // the unit being collected
  bool unitopen = false;
  picunit unit;
  int64_t unitoffset = 0;
  bool sawpicture = false;
  int fieldstate = 0;  // 0 none, 1 first field seen (the second belongs to it), 2 in the second

  // header state in force
  bool closedgop = false;
  int seqid = -1;
  bool seqseen = false;
  int pending = -1;  // I or P unit waiting to be shown
  int anchors = 0;   // I and P pictures decoded so far
  int shown = 0;

  // the header whose bytes are being collected
  int hdrcode = -1;
  uint8_t hdr[8];
  int hdrlen = 0;

  // the sequence header (with extensions) being captured
  bool capturing = false;
  std::vector<uint8_t> capture;
  int seqwidth = 0, seqheight = 0, seqrate = 0;
  int hdrfile = -1;  // file of the header being collected
  int seqfile = -1;  // file of the last sequence header
  bool sizewarned = false;

  scanner(picindex& i, const esreader& r, std::string& w) : idx(i), reader(r), why(w) {}

  void closeunit(int64_t endoffset) {
    if (!unitopen) return;
    unitopen = false;
    if (!sawpicture) return;  // headers without a picture (the stream's tail)
    unit.length = endoffset - unitoffset;
    unit.closedgop = closedgop;
    unit.seqid = seqid;
    unit.display = -1;
    int u = static_cast<int>(idx.units.size());
    if (seqid >= 0) {
      if (unit.type == 3) {
        if (anchors >= 2 || closedgop) unit.display = shown++;
      } else if (unit.type >= 1) {
        if (pending >= 0) idx.units[pending].display = shown++;
        pending = u;
        anchors++;
      }
    }
    idx.units.push_back(unit);
  }

  void openunit(const eslocation& at, int64_t offset) {
    unitopen = true;
    unit = picunit{};
    unit.loc = at;
    unitoffset = offset;
    sawpicture = false;
    fieldstate = 0;
  }

  void endcapture() {
    if (!capturing) return;
    capturing = false;
    if (idx.seqheaders.empty() || idx.seqheaders.back() != capture) idx.seqheaders.push_back(capture);
    seqid = static_cast<int>(idx.seqheaders.size()) - 1;
  }

  // A header's first bytes are in: take what the index needs.
  void parseheader() {
    int code = hdrcode;
    hdrcode = -1;
    bitpeek b{hdr, hdrlen};
    if (code == sequencecode && hdrlen >= 4) {
      seqwidth = static_cast<int>(b.get(12));
      seqheight = static_cast<int>(b.get(12));
      b.get(4);  // aspect_ratio_information
      seqrate = static_cast<int>(b.get(4));
      seqseen = true;
      setsize(seqwidth, seqheight);
      if (idx.ratenum == 0 && ratenums[seqrate]) {
        idx.ratenum = ratenums[seqrate];
        idx.rateden = ratedens[seqrate];
      }
    } else if (code == extensioncode && hdrlen >= 1) {
      int id = static_cast<int>(b.get(4));
      if (id == 1 && hdrlen >= 6 && seqseen) {  // sequence extension
        b.get(8);                             // profile_and_level_indication
        bool progressive = b.get(1) != 0;
        b.get(2);  // chroma_format: the decoder's pixel format tells it
        int hext = static_cast<int>(b.get(2)), vext = static_cast<int>(b.get(2));
        b.get(12 + 1 + 8 + 1);  // bit_rate_extension, marker, vbv_buffer_size_extension, low_delay
        int fn = static_cast<int>(b.get(2)), fd = static_cast<int>(b.get(5));
        if (idx.units.empty() && !sawpicture) {
          idx.progressive = progressive;
          if (ratenums[seqrate]) {
            idx.ratenum = ratenums[seqrate] * (fn + 1);
            idx.rateden = ratedens[seqrate] * (fd + 1);
          }
        }
        setsize(seqwidth | (hext << 12), seqheight | (vext << 12));
      } else if (id == 8 && hdrlen >= 4) {  // picture coding extension
        b.get(16 + 2);                       // f_codes, intra_dc_precision
        int structure = static_cast<int>(b.get(2));
        bool topfirst = b.get(1) != 0;
        b.get(5);  // frame_pred_frame_dct ... alternate_scan
        bool repeat = b.get(1) != 0;
        if (fieldstate == 0) {
          // the frame's first (or only) picture says how it is shown
          unit.tff = structure == 3 ? topfirst : structure == 1;
          unit.rff = structure == 3 && repeat;
        }
        if (structure == 3 || fieldstate == 2)
          fieldstate = 0;
        else
          fieldstate = 1;
      }
    } else if (code == groupcode && hdrlen >= 4) {
      b.get(25);  // time_code
      closedgop = b.get(1) != 0;
    } else if (code == picturecode && hdrlen >= 2) {
      b.get(10);  // temporal_reference
      int type = static_cast<int>(b.get(3));
      if (type == 4) type = 1;  // an MPEG-1 D picture stands alone like an I picture
      if (unit.type == 0) unit.type = static_cast<int8_t>(type);
    }
  }

  // The files play as one video of one size: a file whose first sequence header gives
  // another size cannot join it. Within a file another size is damage (or an insert the
  // video cannot show): its pictures come out as undecodable frames, the index goes on.
  void setsize(int w, int h) {
    if (failed) return;
    bool firstinfile = hdrfile != seqfile;
    seqfile = hdrfile;
    if (idx.width == 0) {
      idx.width = w;
      idx.height = h;
      return;
    }
    bool same = (w == idx.width || w == (idx.width & 0xFFF)) &&
                (h == idx.height || h == (idx.height & 0xFFF));
    if (same) {
      // a sequence extension widens the size the header gave
      idx.width = std::max(idx.width, w);
      idx.height = std::max(idx.height, h);
      return;
    }
    std::string change = std::to_string(idx.width) + "x" + std::to_string(idx.height) + " to " +
                         std::to_string(w) + "x" + std::to_string(h);
    if (firstinfile) {
      why = "picture size changes from " + change + " between files";
      failed = true;
    } else if (!sizewarned) {
      dglog("picture size changes from %s inside a file; those pictures can't be shown",
            change.c_str());
      sizewarned = true;
    }
  }

  // A start code at ES offset `offset` (its first zero byte at `at`).
  void startcode(int code, const eslocation& at, int64_t offset) {
    if (hdrcode >= 0) parseheader();
    if (code == sequencecode || code == groupcode || code == picturecode) {
      endcapture();
      bool secondfield = code == picturecode && sawpicture && fieldstate == 1;
      if (unitopen && sawpicture && !secondfield) closeunit(offset);
      if (!unitopen) openunit(at, offset);
      if (code == sequencecode) {
        if (!sawpicture && unitoffset == offset) unit.ownseq = true;
        capturing = true;
        capture.assign({0, 0, 1, static_cast<uint8_t>(sequencecode)});
      }
      if (code == picturecode) {
        sawpicture = true;
        if (secondfield) fieldstate = 2;
      }
    } else if (code != extensioncode && code != userdatacode) {
      endcapture();
    }
    if (code == sequencecode || code == groupcode || code == picturecode || code == extensioncode) {
      hdrcode = code;
      hdrfile = esfileof(reader, at.seekpos);
      hdrlen = 0;
    }
  }
};

}  // namespace

bool buildindex(esreader& r, picindex& idx, std::string& why) {
  idx = picindex{};
  scanner sc(idx, r, why);
  chunkref recent[4] = {};
  int nrecent = 0;
  uint32_t window = 0xFFFFFFFF;
  int64_t offset = 0;  // ES bytes before the current chunk
  if (!esrewind(r)) {
    why = "can't read " + r.files[0];
    return false;
  }
  while (!sc.failed && esfill(r)) {
    for (int k = 3; k > 0; k--) recent[k] = recent[k - 1];
    recent[0] = chunkref{r.chunkpos, r.chunk.size()};
    nrecent = std::min(nrecent + 1, 4);
    const uint8_t* p = r.chunk.data();
    size_t n = r.chunk.size();
    for (size_t i = r.chunkused; i < n; i++) {
      uint8_t c = p[i];
      if (sc.capturing && sc.capture.size() < (1u << 20)) sc.capture.push_back(c);
      if (sc.hdrcode >= 0 && sc.hdrlen < 8) {
        sc.hdr[sc.hdrlen++] = c;
        if (sc.hdrlen == 8) sc.parseheader();
      }
      window = (window << 8) | c;
      if ((window & 0xFFFFFF00u) != 0x00000100u) continue;
      // The prefix 00 00 01 began 3 bytes before this one, maybe in an earlier chunk.
      int64_t back = static_cast<int64_t>(i) - 3;
      int ci = 0;
      while (back < 0 && ci + 1 < nrecent) {
        ci++;
        back += static_cast<int64_t>(recent[ci].size);
      }
      if (back < 0) back = 0;  // before the first chunk: cannot happen for a full prefix
      eslocation at;
      if (!r.program) {
        at.seekpos = recent[ci].pos + back;
      } else {
        at.seekpos = recent[ci].pos;
        at.skip = static_cast<int32_t>(back);
      }
      // Extensions and user data belong to the sequence header; any other code ends it.
      if (sc.capturing && c != extensioncode && c != userdatacode && sc.capture.size() >= 4)
        sc.capture.resize(sc.capture.size() - 4);
      sc.startcode(c, at, offset + static_cast<int64_t>(i) - 3);
    }
    offset += static_cast<int64_t>(n - r.chunkused);
    r.chunkused = n;
  }
  if (sc.hdrcode >= 0) sc.parseheader();
  sc.endcapture();
  sc.closeunit(offset);
  if (sc.pending >= 0) idx.units[sc.pending].display = sc.shown++;
  if (sc.failed) return false;

  idx.frames.assign(sc.shown, -1);
  idx.lastintra.assign(idx.units.size(), -1);
  int last = -1;
  for (size_t u = 0; u < idx.units.size(); u++) {
    const picunit& pu = idx.units[u];
    if (pu.type == 1 && pu.seqid >= 0) last = static_cast<int>(u);
    idx.lastintra[u] = last;
    if (pu.display >= 0) idx.frames[pu.display] = static_cast<int32_t>(u);
  }
  if (idx.frames.empty() || idx.width <= 0 || idx.height <= 0) {
    why = "no decodable MPEG-1/2 picture found";
    return false;
  }
  return true;
}

int seekunit(const picindex& idx, int n) {
  int u = idx.frames[n];
  int s = idx.lastintra[u];
  if (s < 0) return 0;  // no I picture before it: only a run from the start can help
  const picunit& target = idx.units[u];
  // Shown before its I picture: it refers to the GOP before.
  if (target.type == 3 && target.display < idx.units[s].display && s > 0 &&
      idx.lastintra[s - 1] >= 0)
    s = idx.lastintra[s - 1];
  return s;
}

void buildfieldmap(picindex& idx) {
  idx.showtop.clear();
  idx.showbottom.clear();
  if (idx.progressive) return;  // there a repeat flag repeats whole frames: not applied
  bool repeats = false;
  for (int32_t u : idx.frames) repeats = repeats || idx.units[u].rff;
  if (!repeats) return;
  // The fields in the order they are shown: each frame gives its first field (top when
  // top_field_first), the other, and the first again when repeat_first_field is set.
  struct field {
    int32_t frame;
    bool top;
  };
  std::vector<field> fields;
  fields.reserve(idx.frames.size() * 5 / 2 + 2);
  for (size_t n = 0; n < idx.frames.size(); n++) {
    const picunit& pu = idx.units[idx.frames[n]];
    int32_t f = static_cast<int32_t>(n);
    fields.push_back({f, pu.tff});
    fields.push_back({f, !pu.tff});
    if (pu.rff) fields.push_back({f, pu.tff});
  }
  // Every two fields make one frame; where the parity breaks (an edit), the first field's
  // frame gives both.
  for (size_t k = 0; k + 1 < fields.size(); k += 2) {
    const field& a = fields[k];
    const field& b = fields[k + 1];
    if (a.top == b.top) {
      idx.showtop.push_back(a.frame);
      idx.showbottom.push_back(a.frame);
    } else {
      idx.showtop.push_back(a.top ? a.frame : b.frame);
      idx.showbottom.push_back(a.top ? b.frame : a.frame);
    }
  }
}
