// DGDecode.dll, our D2V decoder library: what lies behind its three exports.
//
// A D2V project names one or more MPEG-1/2 video files (parts of one program, transport or
// elementary stream) that play as one video. The library reads the project, scans the video
// bytes of the files once to index every picture (no decoding), and decodes frame n through
// libavcodec: it seeks to the nearest usable I picture before n and decodes forward, keeping
// the decoder running so that frames asked in order cost one picture each.
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
  std::string fieldoperation;      // Field_Operation: 0 (or absent) show the fields as the
                                   // stream's repeat flags say, 1 and 2 the coded frames
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
//
// The files of a project are parts of one stream (a DVD title cut into VOB files, at any
// byte): they are joined into one byte stream first, and that is demuxed as a whole. Every
// file must therefore hold the same kind of stream as the first.

// Where a byte of the elementary stream lies: reached by seeking to `seekpos` in the joined
// files (the byte itself in an elementary stream, the start of its PES packet in a program
// or transport stream) and skipping `skip` bytes of what is read from there.
struct eslocation {
  int64_t seekpos = 0;
  int32_t skip = 0;
};

struct esinput;  // the joined files and their demuxer (opaque)

struct esreader {
  std::vector<std::string> files;
  std::vector<int64_t> starts;  // offset of each file in the joined stream, then the total
  bool program = false;         // demuxed (false: the joined bytes are the elementary stream)
  esinput* in = nullptr;
  std::vector<uint8_t> chunk;   // the bytes read last
  int64_t chunkpos = 0;         // seekpos of chunk[0]
  size_t chunkused = 0;         // bytes of chunk already taken
};

// Prepares a reader over the files; false (with why) when they hold no MPEG-1/2 video.
bool esopen(esreader& r, const std::vector<std::string>& files, std::string& why);
void esclose(esreader& r);
// Starts again at the first byte.
bool esrewind(esreader& r);
// Positions the reader at loc; false when that place cannot be reached.
bool esseek(esreader& r, const eslocation& loc);
// Makes the current chunk hold unread bytes, chunk[chunkused...]; false at the end.
bool esfill(esreader& r);
// Reads up to n bytes; fewer only at the end of the stream or on a read failure.
size_t esread(esreader& r, uint8_t* dst, size_t n);
// The file (index into files) a joined-stream offset lies in.
int esfileof(const esreader& r, int64_t pos);

// ---- the picture index (index.cpp) ----

// One decodable unit: the headers in front of a picture (sequence, GOP) and the coded frame
// (both fields of a field-coded frame); the decoder gets one unit per packet.
struct picunit {
  eslocation loc;          // first byte of the unit
  int64_t length = 0;      // bytes
  int8_t type = 0;         // picture_coding_type: 1 I, 2 P, 3 B (4 D counts as I)
  bool closedgop = false;  // closed_gop of the GOP header in force
  bool ownseq = false;     // the unit begins with its own sequence header
  bool tff = true;         // top_field_first (a field pair: its first field is the top one)
  bool rff = false;        // repeat_first_field of a frame picture
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
  bool progressive = false;                   // progressive_sequence
  // With repeat fields applied: shown frame k is the top field of coded frame showtop[k]
  // woven with the bottom field of showbottom[k]; both empty when frames show as coded.
  std::vector<int32_t> showtop, showbottom;
};

// Scans every byte of the reader's files. false (with why) when no picture can be decoded or
// the files disagree in picture size.
bool buildindex(esreader& r, picindex& idx, std::string& why);

// Applies the repeat_first_field flags of an interlaced sequence (soft 3:2 pulldown): the
// shown frames become pairs of fields; nothing changes when no frame repeats a field.
void buildfieldmap(picindex& idx);

// The unit to start decoding at so that frame n comes out right: an I picture with a
// sequence header in force, one GOP earlier when n is shown before that I picture.
int seekunit(const picindex& idx, int n);

// ---- messages ----
void dglog(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
