#include "encoder/coding/headers.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "encoder/coding/scantables.h"

seqfieldsrec seqfields;
pichdrfieldsrec pichdrfields[headerslots + 1];
picextfieldsrec picextfields[headerslots + 1];
uint8_t headerbuf[headerbufbytes + bitspare];
bitcursor headercursor;

namespace {

// Exactly 32 characters naming the encoder and its version.
constexpr char userdatatext[] = "Ostrel MPEG-2 video encoder 0.1 ";
static_assert(sizeof(userdatatext) - 1 == userdatabytes);

// Largest luminance sample rates (samples/s) and frame rate of the levels below High.
constexpr double mainlevelrate = 10368000.0;
constexpr double high1440rate = 47001600.0;

// VBV buffer sizes in units of 16,384 bits, by level.
int vbvvalueforlevel(int level) {
  switch (level) {
    case 1: return 112;
    case 2: return 448;
    default: return 597;
  }
}

// profile_and_level_indication: escape bit 0, the profile (4 Main, 1 High), the level (8 Main,
// 6 High-1440, 4 High). Main Profile allows an intra DC precision of 8 to 10 bits only, so a
// stream coded with 11 declares the High Profile at the same level.
int profileandlevel(int level, int dcprec) {
  const int profile = dcprec >= 3 ? 1 : 4;
  const int levelid = level == 1 ? 8 : level == 2 ? 6 : 4;
  return profile << 4 | levelid;
}

// Nearest integer frame rate, halves away from zero; at least 1.
int roundedrate(double rate) {
  int r = int(rate < 0 ? rate - 0.5 : rate + 0.5);
  return std::max(r, 1);
}

// Drop-frame counting at 30000/1001: the labels count 30 pictures a second, and picture
// numbers 0 and 1 are skipped at the start of every minute except each tenth, so ten minutes
// hold 17,982 pictures (1,798 a minute, 1,800 in each tenth minute).
constexpr int64_t labelsperminute = 1800, framesperminute = 1798, framesper10min = 17982;

// The label (30 a second, counted from 00:00:00;00) of picture n counted from 00:00:00;00.
int64_t droplabel(int64_t n) {
  const int64_t d = n / framesper10min, m = n % framesper10min;
  return n + 18 * d + 2 * ((m - 2) / framesperminute);  // m of 0 or 1 adds nothing
}

// The picture that label (30 a second) names, the inverse of droplabel. A label that
// drop-frame counting skips (;00 or ;01 of a minute that is no tenth) names the next picture,
// whose label is ;02.
int64_t droppicture(int64_t label) {
  const int64_t minutes = label / labelsperminute;
  int64_t within = label % labelsperminute;
  if (minutes % 10 != 0 && within < 2) within = 2;
  return minutes * labelsperminute + within - 2 * (minutes - minutes / 10);
}

}  // namespace

int levelfor(int width, int height, double framerate) {
  int level;
  if (width > 1440) level = 3;
  else if (width <= 720 && height <= 576) level = 1;
  else if (height <= 1152) level = 2;
  else level = 3;
  double samples = double(width) * double(height) * framerate;
  if (level == 1 && (samples > mainlevelrate || framerate > 30.0 + 0.01)) level = 2;
  if (level == 2 && samples > high1440rate) level = 3;
  return level;
}

int maxbitrateforlevel(int level) {
  switch (level) {
    case 1: return 15000000;
    case 2: return 60000000;
    default: return 80000000;
  }
}

void initheaders() {
  settingsrec& st = settings;
  if (st.level < 1 || st.level > 3) {
    double rate = st.pulldown && st.frameratecode == 1 ? 30000.0 / 1001.0 : st.framerate;
    st.level = levelfor(st.width, st.height, rate);
  }
  // The declared level bounds the maximum bitrate; bit_rate_value must be 1..262143. An average
  // above it stays: the two-pass plan reaches what it can under the maximum and says so.
  int levelmax = maxbitrateforlevel(st.level);
  if (st.maxbitrate <= 0 || st.maxbitrate > levelmax) st.maxbitrate = levelmax;

  bool progressive = !st.interlaced && !st.pulldown;
  bool progframe = !st.interlaced || st.pulldown;

  seqfieldsrec& q = seqfields;
  q = seqfieldsrec{};
  q.horizontal_size_value = st.width;
  q.vertical_size_value = st.displayheight;
  q.aspect_ratio_information = st.aspect;
  q.frame_rate_code = st.frameratecode == 1 && st.pulldown ? 4 : st.frameratecode;
  q.bit_rate_value = int32_t((int64_t(st.maxbitrate) + 399) / 400);
  q.vbv_buffer_size_value = vbvvalueforlevel(st.level);
  q.load_intra_quantiser_matrix = loadintramatrix;
  q.load_non_intra_quantiser_matrix = loadnonintramatrix;
  q.profile_and_level_indication = profileandlevel(st.level, st.dcprec);
  q.progressive_sequence = progressive ? 1 : 0;
  std::memcpy(q.user_data, userdatatext, userdatabytes);

  for (int s = 0; s <= headerslots; ++s) {
    pichdrfields[s] = pichdrfieldsrec{};
    picextfieldsrec& e = picextfields[s];
    e = picextfieldsrec{};
    e.intra_dc_precision = st.dcprec;
    // A progressive sequence has no field order: top_field_first must be 0 there.
    e.top_field_first = st.tff && !progressive ? 1 : 0;
    e.frame_pred_frame_dct = progframe ? 1 : 0;
    e.alternate_scan = st.altscan ? 1 : 0;
    e.progressive_frame = progframe ? 1 : 0;
    e.chroma_420_type = e.progressive_frame;
  }

  std::fill(std::begin(pulldownflagarray), std::end(pulldownflagarray), 0);
  fieldcount = 0;

  int r = st.pulldown ? 30 : roundedrate(st.framerate);
  st.tcstart = ((st.tchours * 60 + st.tcminutes) * 60 + st.tcseconds) * r + st.tcframes;
}

int32_t timecode(int32_t f) {
  int32_t hours, minutes, seconds, pictures, dropframe;
  if (settings.pulldown) {
    // The label of the first field's picture: the pictures shown before the GOP (two fields
    // each at 29.97) counted on from the picture the starting time code names. tcstart counts
    // labels, so a start that is no whole ten minutes is turned into its picture first.
    const int64_t n = droppicture(settings.tcstart) + int64_t(uint32_t(fieldcount) / 2);
    const int64_t label = droplabel(n);
    pictures = int32_t(label % 30);
    seconds = int32_t((label / 30) % 60);
    minutes = int32_t((label / labelsperminute) % 60);
    hours = int32_t((label / 108000) % 24);
    dropframe = 1;
  } else {
    int32_t r = roundedrate(settings.framerate);
    pictures = f % r;
    int32_t s = f / r;
    seconds = s % 60;
    minutes = (s / 60) % 60;
    hours = (s / 3600) % 24;
    dropframe = 0;
  }
  return (dropframe << 24) | (hours << 19) | (minutes << 13) | (1 << 12) | (seconds << 6) |
         pictures;
}

void putseqhdr(uint8_t* b, bitcursor& c) {
  const seqfieldsrec& q = seqfields;
  alignbits(b, c);
  putbits(q.sequence_header_code, 32, b, c);             // sequence_header_code
  putbits(q.horizontal_size_value, 12, b, c);            // horizontal_size_value
  putbits(q.vertical_size_value, 12, b, c);              // vertical_size_value
  putbits(q.aspect_ratio_information, 4, b, c);          // aspect_ratio_information
  putbits(q.frame_rate_code, 4, b, c);                   // frame_rate_code
  putbits(q.bit_rate_value, 18, b, c);                   // bit_rate_value
  putbits(1, 1, b, c);                                   // marker_bit
  putbits(q.vbv_buffer_size_value, 10, b, c);            // vbv_buffer_size_value
  putbits(q.constrained_parameters_flag, 1, b, c);       // constrained_parameters_flag
  putbits(q.load_intra_quantiser_matrix, 1, b, c);       // load_intra_quantiser_matrix
  if (q.load_intra_quantiser_matrix)
    for (int k = 0; k < 64; ++k)
      putbits(quantmatrices.intra[zigzagscan[k] - 1], 8, b, c);     // intra_quantiser_matrix[k]
  putbits(q.load_non_intra_quantiser_matrix, 1, b, c);   // load_non_intra_quantiser_matrix
  if (q.load_non_intra_quantiser_matrix)
    for (int k = 0; k < 64; ++k)
      putbits(quantmatrices.nonintra[zigzagscan[k] - 1], 8, b, c);  // non_intra_quantiser_matrix[k]
}

void putseqext(uint8_t* b, bitcursor& c) {
  const seqfieldsrec& q = seqfields;
  alignbits(b, c);
  putbits(q.extension_start_code, 32, b, c);             // extension_start_code
  putbits(q.extension_start_code_identifier, 4, b, c);   // extension_start_code_identifier
  putbits(q.profile_and_level_indication, 8, b, c);      // profile_and_level_indication
  putbits(q.progressive_sequence, 1, b, c);              // progressive_sequence
  putbits(q.chroma_format, 2, b, c);                     // chroma_format
  putbits(q.horizontal_size_extension, 2, b, c);         // horizontal_size_extension
  putbits(q.vertical_size_extension, 2, b, c);           // vertical_size_extension
  putbits(q.bit_rate_extension, 12, b, c);               // bit_rate_extension
  putbits(1, 1, b, c);                                   // marker_bit
  putbits(q.vbv_buffer_size_extension, 8, b, c);         // vbv_buffer_size_extension
  putbits(q.low_delay, 1, b, c);                         // low_delay
  putbits(q.frame_rate_extension_n, 2, b, c);            // frame_rate_extension_n
  putbits(q.frame_rate_extension_d, 5, b, c);            // frame_rate_extension_d
}

void putuserdata(uint8_t* b, bitcursor& c) {
  alignbits(b, c);
  putbits(seqfields.user_data_start_code, 32, b, c);     // user_data_start_code
  for (int k = 0; k < userdatabytes; ++k)
    putbits(seqfields.user_data[k], 8, b, c);            // user_data
}

void putgophdr(uint8_t* b, bitcursor& c) {
  seqfieldsrec& q = seqfields;
  q.time_code = timecode(settings.gopframe + settings.tcstart);
  alignbits(b, c);
  putbits(q.group_start_code, 32, b, c);                 // group_start_code
  putbits(q.time_code, 25, b, c);                        // time_code
  putbits(q.closed_gop, 1, b, c);                        // closed_gop
  putbits(q.broken_link, 1, b, c);                       // broken_link
}

void putseqheaders(uint8_t* b, bitcursor& c) {
  putseqhdr(b, c);
  putseqext(b, c);
  if (settings.gopnumber == 1) putuserdata(b, c);
  putgophdr(b, c);
  alignbits(b, c);
}

void putpicthdr(int pictype, int s, uint8_t* b, bitcursor& c) {
  const pichdrfieldsrec& p = pichdrfields[s];
  alignbits(b, c);
  putbits(p.picture_start_code, 32, b, c);               // picture_start_code
  putbits(p.temporal_reference, 10, b, c);               // temporal_reference
  putbits(p.picture_coding_type, 3, b, c);               // picture_coding_type
  putbits(p.vbv_delay, 16, b, c);                        // vbv_delay
  if (pictype == 2 || pictype == 3) {
    putbits(p.full_pel_forward_vector, 1, b, c);         // full_pel_forward_vector
    putbits(p.forward_f_code, 3, b, c);                  // forward_f_code
  }
  if (pictype == 3) {
    putbits(p.full_pel_backward_vector, 1, b, c);        // full_pel_backward_vector
    putbits(p.backward_f_code, 3, b, c);                 // backward_f_code
  }
  putbits(0, 1, b, c);                                   // extra_bit_picture
}

void putpictext(int s, uint8_t* b, bitcursor& c) {
  picextfieldsrec& e = picextfields[s];
  alignbits(b, c);
  if (settings.pulldown) {
    int32_t tr = std::clamp(pichdrfields[s].temporal_reference, 0, maxgoplength - 1);
    e.top_field_first = pulldownflagarray[tr] & 1;
    e.repeat_first_field = (pulldownflagarray[tr] >> 1) & 1;
  }
  putbits(e.extension_start_code, 32, b, c);             // extension_start_code
  putbits(e.extension_start_code_identifier, 4, b, c);   // extension_start_code_identifier
  putbits(e.f_code[0][0], 4, b, c);                      // f_code[0][0], forward horizontal
  putbits(e.f_code[0][1], 4, b, c);                      // f_code[0][1], forward vertical
  putbits(e.f_code[1][0], 4, b, c);                      // f_code[1][0], backward horizontal
  putbits(e.f_code[1][1], 4, b, c);                      // f_code[1][1], backward vertical
  putbits(e.intra_dc_precision, 2, b, c);                // intra_dc_precision
  putbits(e.picture_structure, 2, b, c);                 // picture_structure
  putbits(e.top_field_first, 1, b, c);                   // top_field_first
  putbits(e.frame_pred_frame_dct, 1, b, c);              // frame_pred_frame_dct
  putbits(e.concealment_motion_vectors, 1, b, c);        // concealment_motion_vectors
  putbits(e.q_scale_type, 1, b, c);                      // q_scale_type
  putbits(e.intra_vlc_format, 1, b, c);                  // intra_vlc_format
  putbits(e.alternate_scan, 1, b, c);                    // alternate_scan
  putbits(e.repeat_first_field, 1, b, c);                // repeat_first_field
  putbits(e.chroma_420_type, 1, b, c);                   // chroma_420_type
  putbits(e.progressive_frame, 1, b, c);                 // progressive_frame
  putbits(e.composite_display_flag, 1, b, c);            // composite_display_flag
}
