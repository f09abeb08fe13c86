// The sequence, GOP and picture headers of the output stream (ISO/IEC 13818-2, 6.2.2 - 6.2.3).
//
// The header values live in three records, filled once by initheaders() at start-up and then
// changed by the pass loops and the picture coders; the writers only copy those words into the
// stream in syntax order, each beginning with alignbits so every start code is byte aligned.
// Only the sequence header, sequence extension, user data (first GOP), GOP header, picture
// header and picture coding extension are ever written.
#pragma once

#include "encoder/coding/goppattern.h"  // pulldownflagarray, fieldcount

#include <cstdint>

#include "encoder/coding/bitio.h"
#include "encoder/control/settings.h"

constexpr int userdatabytes = 32;

struct seqfieldsrec {
  // sequence_header()
  int32_t sequence_header_code = 0x000001B3;
  int32_t horizontal_size_value = 0;        // settings.width
  int32_t vertical_size_value = 0;          // settings.displayheight (1080 for 1088 coded lines)
  int32_t aspect_ratio_information = 0;     // 1 1:1, 2 4:3, 3 16:9, 4 2.21:1
  int32_t frame_rate_code = 0;              // 4 for a 23.976 source with pulldown
  int32_t bit_rate_value = 0;               // maximum bitrate in units of 400 bit/s, rounded up
  int32_t vbv_buffer_size_value = 0;        // units of 16,384 bits: 112, 448, 597 by level
  int32_t constrained_parameters_flag = 0;
  int32_t load_intra_quantiser_matrix = 0;
  int32_t load_non_intra_quantiser_matrix = 0;
  // sequence_extension()
  int32_t extension_start_code = 0x000001B5;
  int32_t extension_start_code_identifier = 1;
  int32_t profile_and_level_indication = 0;  // 0x48 MP@ML, 0x46 MP@H-14, 0x44 MP@HL; 0x18,
                                             // 0x16, 0x14 HP@... for 11-bit intra DC
  int32_t progressive_sequence = 0;
  int32_t chroma_format = 1;                 // 4:2:0
  int32_t horizontal_size_extension = 0;
  int32_t vertical_size_extension = 0;
  int32_t bit_rate_extension = 0;
  int32_t vbv_buffer_size_extension = 0;
  int32_t low_delay = 0;
  int32_t frame_rate_extension_n = 0;
  int32_t frame_rate_extension_d = 0;
  // user_data()
  int32_t user_data_start_code = 0x000001B2;
  uint8_t user_data[userdatabytes] = {};
  // group_of_pictures_header()
  int32_t group_start_code = 0x000001B8;
  int32_t time_code = 0;                     // the latest timecode() word
  int32_t closed_gop = 0;                    // set per GOP by the pass loops
  int32_t broken_link = 0;
};

struct pichdrfieldsrec {
  int32_t picture_start_code = 0x00000100;
  int32_t temporal_reference = 0;
  int32_t picture_coding_type = 0;  // 1 I, 2 P, 3 B
  int32_t vbv_delay = 0xFFFF;       // variable bitrate: never changed
  int32_t full_pel_forward_vector = 0;
  int32_t forward_f_code = 7;
  int32_t full_pel_backward_vector = 0;
  int32_t backward_f_code = 7;
};

struct picextfieldsrec {
  int32_t extension_start_code = 0x000001B5;
  int32_t extension_start_code_identifier = 8;
  int32_t f_code[2][2] = {{15, 15}, {15, 15}};  // [forward, backward][horizontal, vertical]
  int32_t intra_dc_precision = 0;               // settings.dcprec, 0..3 (8..11 bits)
  int32_t picture_structure = 3;                // frame picture
  int32_t top_field_first = 0;
  int32_t frame_pred_frame_dct = 1;
  int32_t concealment_motion_vectors = 0;
  int32_t q_scale_type = 1;                     // non-linear quantiser_scale
  int32_t intra_vlc_format = 0;
  int32_t alternate_scan = 0;
  int32_t repeat_first_field = 0;
  int32_t chroma_420_type = 1;                  // equal to progressive_frame
  int32_t progressive_frame = 1;
  int32_t composite_display_flag = 0;
};

constexpr int headerslots = maxgoplength + 1;  // one picture record per slot number 1..37

extern seqfieldsrec seqfields;
extern pichdrfieldsrec pichdrfields[headerslots + 1];  // by slot number (entry 0 unused)
extern picextfieldsrec picextfields[headerslots + 1];

// The GOP headers are assembled here once per GOP (sequence header, extension, user data,
// GOP header: well under 300 bytes).
constexpr int headerbufbytes = 1024;
extern uint8_t headerbuf[headerbufbytes + bitspare];
extern bitcursor headercursor;

// Field flags of the current GOP and its starting field count: filled per GOP by the GOP pattern
// code, read here for the picture coding extension and the drop-frame time code.

// MPEG-2 level for a coded picture size and frame rate: 1 Main Level, 2 High-1440, 3 High.
// The size rule (width above 1440: High; up to 720x576: Main; else High-1440) is raised when
// the luminance sample rate width x height x rate passes the level's bound (10,368,000 Main,
// 47,001,600 High-1440) or the rate passes 30 frames/s at Main Level. Called at start-up for
// settings.level with the rate the stream declares (29.97 with pulldown).
int levelfor(int width, int height, double framerate);

// The largest bitrate a level allows, bit/s: 15, 60 and 80 Mbit/s.
int maxbitrateforlevel(int level);

// Start-up: fills seqfields, all pichdrfields and picextfields and the user-data text from
// settings (width, displayheight, aspect, frameratecode, framerate, pulldown, maxbitrate, level,
// dcprec, altscan, interlaced, tff, loadintramatrix, loadnonintramatrix), sets settings.tcstart
// from the starting time code, and clears the pulldown flags and field count. It also clamps
// settings.maxbitrate (and bitrate with it) to what the level allows, and uses the level's
// maximum when no positive maximum is set, so bit_rate_value is never 0 and fits its 18 bits.
// Call after settings.level, framerate and frameratecode are known.
void initheaders();

// 25-bit time_code for frame number f (gopframe + tcstart); with pulldown the drop-frame label
// of the GOP's first field instead: the starting time code (tcstart, counted in labels of 30 a
// second) moved on by the pictures that fieldcount fields make at 29.97 (f is not used).
int32_t timecode(int32_t f);

// Per GOP, with the cursor at byte 0: sequence header, sequence extension, user data (only when
// settings.gopnumber is 1) and GOP header (time code of settings.gopframe + tcstart), aligned.
void putseqheaders(uint8_t* buffer, bitcursor& cur);
void putseqhdr(uint8_t* buffer, bitcursor& cur);
void putseqext(uint8_t* buffer, bitcursor& cur);
void putuserdata(uint8_t* buffer, bitcursor& cur);
void putgophdr(uint8_t* buffer, bitcursor& cur);

// Per picture, right after the slot's streamcursor is reset: the picture header of the slot's
// record with the given picture_coding_type, then its picture coding extension (with pulldown,
// top_field_first and repeat_first_field come from the pulldown flag of its temporal_reference).
void putpicthdr(int pictype, int s, uint8_t* buffer, bitcursor& cur);
void putpictext(int s, uint8_t* buffer, bitcursor& cur);
