// What the tests check in a finished stream from outside: the decoder's buffer model of
// ISO/IEC 13818-2 Annex C over the sizes of its pictures, the bitrate of every GOP, and the
// DVD multiplexer's verdict.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The buffer model of a stream whose pictures all carry vbv_delay 0xFFFF: the buffer of the
// sequence header's size (vbv_buffer_size x 16,384 bits) fills at its bit_rate (x 400 bit/s)
// while it is not full; the first picture is decoded when it is full; each picture leaves
// whole at its decoding time with everything in front of it since the previous picture (the
// sequence and GOP headers; the last picture takes the end code with it). Decoding times lie
// two field periods apart, three when the picture shown in between repeats its first field:
// the B picture itself, or for an I or P picture the I or P picture decoded before it.
struct buffercheck {
  std::string fault;      // why the stream could not be modelled ("" when it could)
  int pictures = 0;
  int64_t buffer = 0;     // bits
  int64_t rate = 0;       // bit/s
  int notffff = 0;        // pictures whose vbv_delay is not 0xFFFF
  int underflows = 0;     // pictures not wholly in the buffer at their decoding time
  int firstunderflow = -1;  // the first of them, 0-based in decoding order
  double lowest = 0.0;    // the least fullness right after a picture left, bits (< 0: underflow)
};
buffercheck buffermodel(const std::vector<uint8_t>& stream);

// One GOP of a stream: its pictures and the bytes of their picture data (from each picture
// start code to the next start code of a picture, a GOP, a sequence or the end).
struct gopsize {
  int pictures = 0;
  int64_t picturebytes = 0;
};
std::vector<gopsize> gopsizes(const std::vector<uint8_t>& stream);
// The GOP's bitrate as the encoder reckons it: 8 x picture bytes x frame rate / pictures,
// truncated, in bit/s.
int64_t goprate(const gopsize& g, double framerate);

// A "-f lavfi -i sine" MPEG-1 layer II track of the given seconds, made with ffmpeg into path.
bool makeaudio(const std::string& path, double seconds);
// Plain mplex -f 8 of the video and audio into dir/dvd.mpg, a DVD program stream with the
// multiplexer's default start-up (no "-R"): true when it exited 0, said "no under-runs
// detected." and reported no under-run, underflow, frame drop or data "too late"; its messages
// into log.
bool dvdmux(const std::string& dir, const std::string& video, const std::string& audio,
            std::string* log = nullptr);
