// The video bytes of the project's files as one continuous elementary stream.
//
// An elementary-stream file is read as it is. A program stream (or any other container
// libavformat knows) is demuxed without a parser, so that every packet is exactly the payload
// of one PES packet and its position is that packet's start code: a seek to that position and
// a skip of n payload bytes reaches any byte again, the same way every time.
#include "dgdecode.h"

#include <cstdarg>
#include <cstring>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

struct esinput {
  FILE* raw = nullptr;                 // an elementary-stream file
  AVFormatContext* fmt = nullptr;      // a container
  AVPacket* pkt = nullptr;
  int videoid = -1;                    // stream id (PES id) of the video, -1 until found
};

void dglog(const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  std::fputs("DGDecode.dll: ", stderr);
  std::vfprintf(stderr, fmt, ap);
  std::fputc('\n', stderr);
  va_end(ap);
}

namespace {

constexpr size_t rawchunksize = 65536;

void closeinput(esinput* in) {
  if (!in) return;
  if (in->raw) std::fclose(in->raw);
  if (in->pkt) av_packet_free(&in->pkt);
  if (in->fmt) avformat_close_input(&in->fmt);
  delete in;
}

esinput* openinput(const std::string& path, bool program, std::string& why) {
  esinput* in = new esinput;
  if (!program) {
    in->raw = std::fopen(path.c_str(), "rb");
    if (!in->raw) {
      why = "can't open " + path;
      closeinput(in);
      return nullptr;
    }
    return in;
  }
  in->fmt = avformat_alloc_context();
  in->pkt = av_packet_alloc();
  if (!in->fmt || !in->pkt) {
    why = "out of memory";
    closeinput(in);
    return nullptr;
  }
  // No parser (packets stay PES payloads with their own positions), no timestamp guessing.
  in->fmt->flags |= AVFMT_FLAG_NOPARSE | AVFMT_FLAG_NOFILLIN;
  int err = avformat_open_input(&in->fmt, path.c_str(), nullptr, nullptr);
  if (err < 0) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(err, text, sizeof text);
    why = "can't open " + path + ": " + text;
    in->fmt = nullptr;  // freed by avformat_open_input on failure
    closeinput(in);
    return nullptr;
  }
  return in;
}

bool isvideo(const AVStream* st) {
  return st->codecpar->codec_type == AVMEDIA_TYPE_VIDEO &&
         (st->codecpar->codec_id == AV_CODEC_ID_MPEG2VIDEO ||
          st->codecpar->codec_id == AV_CODEC_ID_MPEG1VIDEO);
}

// The next payload of the file's video stream; false at its end.
bool nextpacket(esinput* in, std::vector<uint8_t>& data, int64_t& pos) {
  if (in->raw) {
    pos = std::ftell(in->raw);
    data.resize(rawchunksize);
    size_t got = std::fread(data.data(), 1, rawchunksize, in->raw);
    data.resize(got);
    return got > 0;
  }
  for (;;) {
    av_packet_unref(in->pkt);
    if (av_read_frame(in->fmt, in->pkt) < 0) return false;
    AVStream* st = in->fmt->streams[in->pkt->stream_index];
    if (in->videoid < 0 && isvideo(st)) in->videoid = st->id;
    if (st->id != in->videoid || !isvideo(st)) {
      st->discard = AVDISCARD_ALL;  // audio, subtitles, navigation: never needed
      continue;
    }
    if (in->pkt->size <= 0) continue;
    pos = in->pkt->pos;
    data.assign(in->pkt->data, in->pkt->data + in->pkt->size);
    return true;
  }
}

// What a file holds: an elementary stream's first start code is one of the video layer's
// (a sequence header after zero stuffing, or a GOP or picture of a cut stream); a program
// stream begins with a pack header, a transport stream with no start code at all.
bool iselementary(const std::string& path) {
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return false;
  uint8_t b[4096];
  size_t n = std::fread(b, 1, sizeof b, f);
  std::fclose(f);
  for (size_t i = 0; i + 3 < n; i++) {
    if (b[i] != 0 || b[i + 1] != 0 || b[i + 2] != 1) continue;
    uint8_t code = b[i + 3];
    return code == 0xB3 || code == 0xB8 || code == 0x00 || code == 0xB5 || code == 0xB2;
  }
  return false;
}

bool openfile(esreader& r, int file) {
  closeinput(r.in);
  r.in = nullptr;
  r.current = -1;
  std::string why;
  r.in = openinput(r.files[file], r.program[file], why);
  if (!r.in) {
    dglog("%s", why.c_str());
    return false;
  }
  r.current = file;
  r.rawchunks = !r.program[file];
  r.chunk.clear();
  r.chunkused = 0;
  r.chunkpos = 0;
  return true;
}

}  // namespace

bool esopen(esreader& r, const std::vector<std::string>& files, std::string& why) {
  esclose(r);
  r.files = files;
  r.program.assign(files.size(), false);
  for (size_t i = 0; i < files.size(); i++) {
    if (iselementary(files[i])) continue;
    r.program[i] = true;
    // A container must show MPEG video within its first packets.
    esinput* in = openinput(files[i], true, why);
    if (!in) return false;
    std::vector<uint8_t> data;
    int64_t pos = 0;
    bool found = false;
    for (int k = 0; k < 4096 && !found; k++) {
      if (!nextpacket(in, data, pos)) break;
      found = true;
    }
    closeinput(in);
    if (!found) {
      why = files[i] + " holds no MPEG-1/2 video";
      return false;
    }
  }
  return true;
}

void esclose(esreader& r) {
  closeinput(r.in);
  r.in = nullptr;
  r.current = -1;
  r.chunk.clear();
  r.chunkused = 0;
}

bool esseek(esreader& r, const eslocation& loc) {
  if (loc.file < 0 || loc.file >= static_cast<int>(r.files.size())) return false;
  if (r.current != loc.file && !openfile(r, loc.file)) return false;
  r.chunk.clear();
  r.chunkused = 0;
  if (r.in->raw) {
    if (std::fseek(r.in->raw, static_cast<long>(loc.seekpos), SEEK_SET) != 0) return false;
  } else {
    if (av_seek_frame(r.in->fmt, -1, loc.seekpos, AVSEEK_FLAG_BYTE) < 0) return false;
  }
  int64_t pos = 0;
  for (;;) {
    if (!nextpacket(r.in, r.chunk, pos)) return false;
    if (pos == loc.seekpos) break;
    if (pos > loc.seekpos) {
      dglog("lost the packet at byte %lld of %s", static_cast<long long>(loc.seekpos),
            r.files[loc.file].c_str());
      return false;
    }
  }
  r.chunkpos = pos;
  if (static_cast<size_t>(loc.skip) > r.chunk.size()) return false;
  r.chunkused = static_cast<size_t>(loc.skip);
  return true;
}

eslocation eshere(const esreader& r) {
  eslocation l;
  l.file = r.current;
  if (r.rawchunks) {
    l.seekpos = r.chunkpos + static_cast<int64_t>(r.chunkused);
    l.skip = 0;
  } else {
    l.seekpos = r.chunkpos;
    l.skip = static_cast<int32_t>(r.chunkused);
  }
  return l;
}

bool esfill(esreader& r) {
  if (r.current < 0) {
    if (r.files.empty() || !openfile(r, 0)) return false;
  }
  while (r.chunkused >= r.chunk.size()) {
    int64_t pos = 0;
    if (nextpacket(r.in, r.chunk, pos)) {
      r.chunkpos = pos;
      r.chunkused = 0;
      continue;
    }
    // The end of this file: the stream goes on at the start of the next one.
    if (r.current + 1 >= static_cast<int>(r.files.size())) return false;
    if (!openfile(r, r.current + 1)) return false;
  }
  return true;
}

size_t esread(esreader& r, uint8_t* dst, size_t n) {
  size_t done = 0;
  while (done < n) {
    if (!esfill(r)) return done;
    size_t take = std::min(n - done, r.chunk.size() - r.chunkused);
    std::memcpy(dst + done, r.chunk.data() + r.chunkused, take);
    r.chunkused += take;
    done += take;
  }
  return done;
}
