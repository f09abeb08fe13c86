// The library's exports: openMPEG2Source, getFrame, closeVideo.
//
// One video is open at a time. Its frames are numbered as they are shown: the coded frames
// in display order, or, where soft pulldown is applied, pairs of fields. getFrame(n) hands
// back the library's own frame block (valid until the next getFrame, openMPEG2Source or
// closeVideo): width x height luma bytes, then (width/2) x (height/2) Cb bytes, then as many
// Cr bytes, rows tightly packed. Frame numbers below 0 give frame 0, numbers past the end the
// last frame. A frame that cannot be decoded is reported on stderr and getFrame gives null
// for it (the caller keeps what it had: the bridge reports the frame as not delivered); null
// also when no video is open. sourceFile(i) names the video files of the open project.
#include "dgdecode.h"

#include <algorithm>
#include <cstring>
#include <mutex>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/log.h>
}

#define DGEXPORT extern "C" __attribute__((visibility("default")))

namespace {

// Largest unit handed to the decoder, bytes: far above any coded MPEG-2 frame (a 4:2:2
// 1920x1088 intra frame at the highest quality stays below 8 MB).
constexpr int64_t maxunitbytes = 32 << 20;

// The video record: width, height, frame-rate numerator, denominator, frame count, unused.
int32_t videorecord[6];

struct decoderstate {
  bool open = false;
  esreader reader;
  picindex idx;
  AVCodecContext* dec = nullptr;
  AVPacket* pkt = nullptr;
  AVFrame* frame = nullptr;
  int runstart = -1;  // unit the current decoding run began at, -1 none
  int nextunit = 0;   // next unit to hand to the decoder
  int64_t lastout = -1;  // frame number of the decoder's latest output in this run
  bool drained = false;  // the decoder was told the stream ended
  std::vector<uint8_t> block;  // the frame block getFrame returns
  int blockframe = -1;         // frame number the block holds, -1 none or a stand-in
  int shown = 0;               // frames the video shows
  // The last two coded frames decoded (4:2:0 blocks); a shown frame of a pulldown video
  // weaves the fields of two neighbours.
  std::vector<uint8_t> slot[2];
  int slotframe[2] = {-1, -1};
};

decoderstate dg;
std::mutex dglock;

void freedecoder() {
  if (dg.frame) av_frame_free(&dg.frame);
  if (dg.pkt) av_packet_free(&dg.pkt);
  if (dg.dec) avcodec_free_context(&dg.dec);
}

void closeall() {
  freedecoder();
  esclose(dg.reader);
  dg = decoderstate{};
}

bool opendecoder() {
  const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_MPEG2VIDEO);
  if (!codec) {
    dglog("libavcodec has no MPEG-2 video decoder");
    return false;
  }
  dg.dec = avcodec_alloc_context3(codec);
  dg.pkt = av_packet_alloc();
  dg.frame = av_frame_alloc();
  if (!dg.dec || !dg.pkt || !dg.frame) return false;
  // Slice threads only: every picture still comes out of the call that decodes it.
  dg.dec->thread_type = FF_THREAD_SLICE;
  dg.dec->thread_count = 0;
  if (avcodec_open2(dg.dec, codec, nullptr) < 0) {
    dglog("can't open the MPEG-2 video decoder");
    return false;
  }
  return true;
}

// Copies a decoded picture into dst as 8-bit 4:2:0. Chroma of 4:2:2 pictures is the
// rounded mean of each pair of rows, of 4:4:4 pictures the mean of each 2x2 square.
bool convert(const AVFrame* f, uint8_t* out) {
  int w = dg.idx.width, h = dg.idx.height;
  if (f->width != w || f->height != h) {
    dglog("picture of %dx%d in a video of %dx%d", f->width, f->height, w, h);
    return false;
  }
  if (f->format != AV_PIX_FMT_YUV420P && f->format != AV_PIX_FMT_YUV422P &&
      f->format != AV_PIX_FMT_YUV444P) {
    dglog("pixel format %d is not MPEG-2 4:2:0, 4:2:2 or 4:4:4", f->format);
    return false;
  }
  int cw = w / 2, ch = h / 2;
  size_t lumasize = static_cast<size_t>(w) * h, chromasize = lumasize / 4;
  uint8_t* y = out;
  for (int r = 0; r < h; r++) std::memcpy(y + static_cast<size_t>(r) * w, f->data[0] + static_cast<ptrdiff_t>(r) * f->linesize[0], w);
  for (int plane = 1; plane <= 2; plane++) {
    uint8_t* dst = out + lumasize + (plane - 1) * chromasize;
    const uint8_t* src = f->data[plane];
    ptrdiff_t ls = f->linesize[plane];
    for (int r = 0; r < ch; r++) {
      uint8_t* d = dst + static_cast<size_t>(r) * cw;
      switch (f->format) {
        case AV_PIX_FMT_YUV420P:
          std::memcpy(d, src + r * ls, cw);
          break;
        case AV_PIX_FMT_YUV422P: {
          const uint8_t* a = src + 2 * r * ls;
          const uint8_t* b = a + ls;
          for (int x = 0; x < cw; x++) d[x] = static_cast<uint8_t>((a[x] + b[x] + 1) >> 1);
          break;
        }
        case AV_PIX_FMT_YUV444P: {
          const uint8_t* a = src + 2 * r * ls;
          const uint8_t* b = a + ls;
          for (int x = 0; x < cw; x++)
            d[x] = static_cast<uint8_t>((a[2 * x] + a[2 * x + 1] + b[2 * x] + b[2 * x + 1] + 2) >> 2);
          break;
        }
        default:
          break;
      }
    }
  }
  return true;
}

// Starts a decoding run at unit s.
bool startrun(int s) {
  avcodec_flush_buffers(dg.dec);
  dg.runstart = -1;
  dg.drained = false;
  dg.lastout = -1;
  if (!esseek(dg.reader, dg.idx.units[s].loc)) {
    dglog("can't seek to picture %d", s);
    return false;
  }
  dg.runstart = s;
  dg.nextunit = s;
  return true;
}

// Hands the next unit to the decoder; the first unit of a run without a sequence header of
// its own gets the one in force put in front.
bool feedunit() {
  const picunit& u = dg.idx.units[dg.nextunit];
  if (u.length > maxunitbytes) {
    // No coded frame is this large: damaged data without start codes. Step over it.
    dglog("picture %d: %lld bytes without a start code, skipped", dg.nextunit,
          static_cast<long long>(u.length));
    dg.nextunit++;
    if (dg.nextunit < static_cast<int>(dg.idx.units.size()) &&
        !esseek(dg.reader, dg.idx.units[dg.nextunit].loc)) {
      dg.runstart = -1;
      return false;
    }
    return true;
  }
  size_t extra = 0;
  const std::vector<uint8_t>* seq = nullptr;
  if (dg.nextunit == dg.runstart && !u.ownseq && u.seqid >= 0) {
    seq = &dg.idx.seqheaders[u.seqid];
    extra = seq->size();
  }
  if (av_new_packet(dg.pkt, static_cast<int>(extra + u.length)) < 0) return false;
  if (seq) std::memcpy(dg.pkt->data, seq->data(), extra);
  size_t got = esread(dg.reader, dg.pkt->data + extra, static_cast<size_t>(u.length));
  dg.nextunit++;
  if (got != static_cast<size_t>(u.length)) {
    dglog("picture %d: read %zu of %lld bytes", dg.nextunit - 1, got,
          static_cast<long long>(u.length));
    av_packet_unref(dg.pkt);
    dg.runstart = -1;  // the reader lost its place
    return false;
  }
  dg.pkt->pts = u.display >= 0 ? u.display : AV_NOPTS_VALUE;
  int err = avcodec_send_packet(dg.dec, dg.pkt);
  av_packet_unref(dg.pkt);
  if (err < 0 && err != AVERROR(EAGAIN)) dglog("picture %d does not decode", dg.nextunit - 1);
  return true;
}

// Decodes until coded frame n is in out; false when it does not come out.
bool decodeto(int n, uint8_t* out) {
  int s = seekunit(dg.idx, n);
  int u = dg.idx.frames[n];
  bool carryon = dg.runstart >= 0 && dg.runstart <= s && s <= dg.nextunit && n > dg.lastout &&
                 !dg.drained;
  if (!carryon && !startrun(s)) return false;
  for (;;) {
    for (;;) {
      int err = avcodec_receive_frame(dg.dec, dg.frame);
      if (err == AVERROR(EAGAIN)) break;
      if (err == AVERROR_EOF) return false;
      if (err < 0) {
        dglog("decoder error %d before frame %d", err, n);
        break;
      }
      int64_t pts = dg.frame->pts;
      if (pts == AV_NOPTS_VALUE) {
        av_frame_unref(dg.frame);
        continue;
      }
      dg.lastout = pts;
      if (pts == n) {
        bool ok = convert(dg.frame, out);
        av_frame_unref(dg.frame);
        return ok;
      }
      av_frame_unref(dg.frame);
      if (pts > n) return false;  // it was dropped
    }
    if (dg.nextunit >= static_cast<int>(dg.idx.units.size())) {
      if (dg.drained) return false;
      avcodec_send_packet(dg.dec, nullptr);
      dg.drained = true;
      continue;
    }
    // A frame is out at the latest when the next I or P picture after it is in; far past
    // that it will not come.
    if (dg.nextunit > u + 64) return false;
    if (!feedunit()) return false;
  }
}

void fillblack() {
  size_t lumasize = static_cast<size_t>(dg.idx.width) * dg.idx.height;
  std::fill(dg.block.begin(), dg.block.begin() + lumasize, 16);
  std::fill(dg.block.begin() + lumasize, dg.block.end(), 128);
}

// Coded frame n in a slot, decoding it when neither slot holds it; the slot `keep` is not
// overwritten. The slot's number, or -1 when the frame does not decode.
int codedframe(int n, int keep) {
  for (int i = 0; i < 2; i++)
    if (dg.slotframe[i] == n) return i;
  int i = keep == 0 ? 1 : 0;
  dg.slotframe[i] = -1;
  if (!decodeto(n, dg.slot[i].data())) {
    dg.runstart = -1;  // start afresh next time
    return -1;
  }
  dg.slotframe[i] = n;
  return i;
}

// Shown frame k into the block: one coded frame, or the top field of one woven with the
// bottom field of its neighbour (luma and chroma rows alike: even rows top, odd rows bottom).
bool showframe(int k) {
  int top = k, bottom = k;
  if (!dg.idx.showtop.empty()) {
    top = dg.idx.showtop[k];
    bottom = dg.idx.showbottom[k];
  }
  int first = std::min(top, bottom), second = std::max(top, bottom);
  int a = codedframe(first, -1);
  if (a < 0) return false;
  int b = second == first ? a : codedframe(second, a);
  if (b < 0) return false;
  if (top == bottom) {
    dg.block = dg.slot[a];
    return true;
  }
  const uint8_t* t = dg.slot[top == first ? a : b].data();
  const uint8_t* m = dg.slot[top == first ? b : a].data();
  int w = dg.idx.width, h = dg.idx.height;
  size_t lumasize = static_cast<size_t>(w) * h, chromasize = lumasize / 4;
  auto weave = [](uint8_t* dst, const uint8_t* ts, const uint8_t* bs, int width, int rows) {
    for (int r = 0; r < rows; r++) {
      size_t o = static_cast<size_t>(r) * width;
      std::memcpy(dst + o, (r & 1 ? bs : ts) + o, width);
    }
  };
  weave(dg.block.data(), t, m, w, h);
  weave(dg.block.data() + lumasize, t + lumasize, m + lumasize, w / 2, h / 2);
  weave(dg.block.data() + lumasize + chromasize, t + lumasize + chromasize,
        m + lumasize + chromasize, w / 2, h / 2);
  return true;
}

}  // namespace

DGEXPORT const int32_t* openMPEG2Source(const char* project) {
  std::lock_guard<std::mutex> hold(dglock);
  closeall();
  if (!project) return nullptr;
  if (av_log_get_level() == AV_LOG_INFO) av_log_set_level(AV_LOG_ERROR);

  d2vproject proj;
  std::string why;
  if (!readproject(project, proj, why)) {
    dglog("%s: %s", project, why.c_str());
    return nullptr;
  }
  if (!esopen(dg.reader, proj.files, why) || !buildindex(dg.reader, dg.idx, why)) {
    dglog("%s: %s", project, why.c_str());
    closeall();
    return nullptr;
  }
  int pw = 0, ph = 0;
  if (!proj.picturesize.empty() && parsepicturesize(proj.picturesize, pw, ph) &&
      (pw != dg.idx.width || ph != dg.idx.height))
    dglog("%s: Picture_Size %dx%d, the video is %dx%d; using the video's", project, pw, ph,
          dg.idx.width, dg.idx.height);
  int num = dg.idx.ratenum, den = dg.idx.rateden;
  if (!proj.framerate.empty() && !parseframerate(proj.framerate, num, den)) {
    dglog("%s: Frame_Rate \"%s\" unreadable; using the video's", project, proj.framerate.c_str());
    num = dg.idx.ratenum;
    den = dg.idx.rateden;
  }
  if (!opendecoder()) {
    closeall();
    return nullptr;
  }
  std::string fieldop = proj.fieldoperation;
  if (fieldop.empty() || fieldop == "0") buildfieldmap(dg.idx);
  dg.shown = dg.idx.showtop.empty() ? static_cast<int>(dg.idx.frames.size())
                                    : static_cast<int>(dg.idx.showtop.size());
  size_t lumasize = static_cast<size_t>(dg.idx.width) * dg.idx.height;
  dg.block.assign(lumasize + 2 * (lumasize / 4), 0);
  fillblack();
  dg.slot[0] = dg.slot[1] = dg.block;
  dg.open = true;
  videorecord[0] = dg.idx.width;
  videorecord[1] = dg.idx.height;
  videorecord[2] = num;
  videorecord[3] = den;
  videorecord[4] = dg.shown;
  videorecord[5] = 0;
  return videorecord;
}

DGEXPORT const uint8_t* getFrame(int n) {
  std::lock_guard<std::mutex> hold(dglock);
  if (!dg.open) return nullptr;
  n = std::clamp(n, 0, dg.shown - 1);
  if (dg.blockframe == n) return dg.block.data();
  if (!showframe(n)) {
    dglog("frame %d can't be decoded", n);
    dg.blockframe = -1;
    dg.runstart = -1;  // start afresh next time
    return nullptr;
  }
  dg.blockframe = n;
  return dg.block.data();
}

DGEXPORT const char* sourceFile(int i) {
  std::lock_guard<std::mutex> hold(dglock);
  if (!dg.open || i < 0 || i >= static_cast<int>(dg.reader.files.size())) return nullptr;
  return dg.reader.files[static_cast<size_t>(i)].c_str();
}

DGEXPORT void closeVideo() {
  std::lock_guard<std::mutex> hold(dglock);
  closeall();
}

// The programs never call closeVideo: they unload the library with its project still open.
// Unloading must not leave the decoder, the demuxer and the frame block behind. Defined after
// the decoder state, so it is destroyed first, while that state still stands.
namespace {
struct unloader {
  ~unloader() { closeall(); }
} unloadvideo;
}  // namespace
