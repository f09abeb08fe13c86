// DGDecode.dll, our D2V decoder library: the pieces behind its three exports.
//
// A D2V project names one or more MPEG-1/2 video files (program streams or elementary
// streams) that play as one video. The library reads the project, scans the video bytes of
// the files once to index every picture, and decodes frame n through libavcodec: it seeks to
// the nearest usable I picture before n and decodes forward, keeping the decoder running so
// that frames asked in order cost one picture each.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

// ---- the project file (project.cpp) ----

struct d2vproject {
  int version = 0;                 // the two digits that end the first line
  std::vector<std::string> files;  // the video files, in play order, as resolved on disk
  std::string picturesize;         // the value of Picture_Size, "" when absent
  std::string framerate;           // the value of Frame_Rate, "" when absent
};

// Reads a project. false (with the reason in why) when the file cannot be read, the first
// two lines are not a version and a file count, or a listed file does not exist.
bool readproject(const std::string& path, d2vproject& proj, std::string& why);

// Frame_Rate as indexing tools write it: "25000 (25/1)", "29970 (30000/1001)", or only the
// rate in thousandths of a frame per second ("29970"; 23976, 29970 and 59940 mean the
// 1000/1001 rates). false when the value gives no positive rate.
bool parseframerate(const std::string& text, int& num, int& den);

// Picture_Size "720x576"; false when it is not two positive numbers.
bool parsepicturesize(const std::string& text, int& width, int& height);

// ---- the video bytes of the files, one continuous elementary stream (stream.cpp) ----

// Where a byte of the elementary stream lies: in file `file`, reached by seeking to
// `seekpos` (a byte offset in an elementary-stream file, or the offset of the PES packet in a
// program stream) and skipping `skip` bytes of what is read from there.
struct eslocation {
  int file = 0;
  int64_t seekpos = 0;
  int32_t skip = 0;
};

struct esinput;  // an open file (opaque)

struct esreader {
  std::vector<std::string> files;
  std::vector<bool> program;    // per file: read through the demuxer (false: raw bytes)
  int current = -1;             // open file, -1 none
  esinput* in = nullptr;
  std::vector<uint8_t> chunk;   // the bytes read last
  int64_t chunkpos = 0;         // seekpos of chunk[0]
  size_t chunkused = 0;         // bytes of chunk already taken
  bool rawchunks = true;        // seekpos advances by bytes within a chunk (raw files)
};

// Prepares a reader over the files; false (with why) when a file is neither a program stream
// nor an elementary stream with MPEG video.
bool esopen(esreader& r, const std::vector<std::string>& files, std::string& why);
void esclose(esreader& r);
// Positions the reader at loc; false when that place cannot be reached.
bool esseek(esreader& r, const eslocation& loc);
// The location of the next byte that esread would give.
eslocation eshere(const esreader& r);
// Makes the current chunk hold unread bytes, crossing into the next file at the end of one;
// false at the end of the last file. The bytes are chunk[chunkused...].
bool esfill(esreader& r);
// Reads up to n bytes, crossing into the next file at the end of one; returns the count
// (less than n only at the end of the last file or on a read failure).
size_t esread(esreader& r, uint8_t* dst, size_t n);

// ---- the picture index (index.cpp) ----

// One decodable unit: the headers in front of a picture (sequence, GOP) and the coded frame
// (both fields of a field-coded frame); the decoder gets one unit per packet.
struct picunit {
  eslocation loc;          // first byte of the unit
  int64_t length = 0;      // bytes
  int8_t type = 0;         // picture_coding_type: 1 I, 2 P, 3 B (4 D counts as I)
  bool closedgop = false;  // closed_gop of the GOP header in force
  bool ownseq = false;     // the unit begins with its own sequence header
  int32_t seqid = -1;      // the sequence header in force (index into seqheaders)
  int32_t display = -1;    // frame number, -1 when the decoder never shows the unit
};

struct picindex {
  std::vector<picunit> units;                 // decode order
  std::vector<int32_t> frames;                // frame number -> unit
  std::vector<int32_t> lastintra;             // unit -> the last usable I unit at or before it
  std::vector<std::vector<uint8_t>> seqheaders;  // sequence header with its extensions
  int width = 0, height = 0;                  // from the first sequence header
  int ratenum = 0, rateden = 0;               // its frame rate, 0 when the code is unknown
  int chroma = 1;                             // chroma_format: 1 4:2:0, 2 4:2:2, 3 4:4:4
};

// Scans every byte of the reader's files. false (with why) when no picture can be decoded or
// the files disagree in picture size.
bool buildindex(esreader& r, picindex& idx, std::string& why);

// The unit to start decoding at so that frame n comes out right: an I picture with a
// sequence header in force, one GOP earlier when n is shown before that I picture.
int seekunit(const picindex& idx, int n);

// ---- messages ----
void dglog(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
