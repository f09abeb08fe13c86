#include "encoder/coding/ipicture.h"

#include <cstring>

#include "encoder/coding/bitio.h"
#include "encoder/coding/headers.h"
#include "encoder/coding/picslot.h"
#include "encoder/coding/quantmap.h"
#include "encoder/coding/scantables.h"
#include "encoder/coding/slicerows.h"
#include "encoder/coding/transform.h"
#include "encoder/coding/vlc.h"
#include "encoder/coding/vlctables.h"
#include "encoder/control/framestore.h"
#include "encoder/control/settings.h"

alignas(16) thread_local int16_t intralevels[6][64];

namespace {

constexpr uint32_t statpicturecode = 0x00000101;  // start of a picture record in the statistics

}  // namespace

void putslicehdr(bitlane& ln, int pictype, int row, const int32_t* quant) {
  uint8_t* b = ln.streambits.data();
  bitcursor& c = ln.streamcursor;
  alignbits(b, c);
  putbits(0x00000100u + uint32_t(row), 32, b, c);  // slice_start_code
  putbits(uint32_t(quant[row]), 5, b, c);          // quantiser_scale_code
  putbits(0, 1, b, c);                             // extra_bit_slice
  laneslicestart(ln, pictype);                     // DC (and vector) predictors to 0
}

void intrablocks6(int curframe, int curslot, int x, int y, int cx, int cy, const int32_t* qcode) {
  const settingsrec& st = settings;
  int code = *qcode < 1 ? 1 : *qcode > 31 ? 31 : *qcode;
  int32_t q = nonlinearqscale[code];
  auto kernel = st.simdlevel == 1 ? intrablockmmx : intrablock;
  const uint8_t* sy = ringplane(curframe, 0);
  uint8_t* ry = reconplane(curslot, 0);
  const int16_t* w = quantmatrices.intra;
  const uint16_t* r = quantrecip.intra;
  kernel(sy, x, y, st.width, intralevels[0], w, r, q, st.dcprec, ry, 2);
  kernel(sy, x + 8, y, st.width, intralevels[1], w, r, q, st.dcprec, ry, 2);
  kernel(sy, x, y + 8, st.width, intralevels[2], w, r, q, st.dcprec, ry, 2);
  kernel(sy, x + 8, y + 8, st.width, intralevels[3], w, r, q, st.dcprec, ry, 2);
  kernel(ringplane(curframe, 1), cx, cy, st.chromawidth, intralevels[4], w, r, q, st.dcprec,
         reconplane(curslot, 1), 2);
  kernel(ringplane(curframe, 2), cx, cy, st.chromawidth, intralevels[5], w, r, q, st.dcprec,
         reconplane(curslot, 2), 2);
}

void codeipicture(const pictargs& args, float& qf) {
  settingsrec& st = settings;
  const int s = args.curslot;
  const ringentry& frame = framering[args.curframe];
  picslot& sl = picslots[s];

  st.gopframe += 1;
  sl.pictype = 1;
  startslotpicture(s);  // both cursors at byte 0

  pichdrfields[s].picture_coding_type = 1;
  putpicthdr(1, s, sl.streambits.data(), sl.streamcursor);
  picextfieldsrec& ext = picextfields[s];
  ext.f_code[0][0] = ext.f_code[0][1] = ext.f_code[1][0] = ext.f_code[1][1] = 15;
  ext.intra_vlc_format = 0;
  sl.intravlc = 0;
  putpictext(s, sl.streambits.data(), sl.streamcursor);

  if (st.writestats) {
    uint8_t* b = sl.statbits.data();
    putbits(statpicturecode, 32, b, sl.statcursor);              // picture record code
    putbits(frame.lumasum, 32, b, sl.statcursor);                // luma sum of the frame
    putbits(1, 4, b, sl.statcursor);                             // picture_coding_type
    putbits(uint32_t(sl.mecostflag) & 15, 4, b, sl.statcursor);  // forced-intra flag
  }

  uint32_t activity[maxquantrows];
  std::memcpy(activity, frame.rowactivity, sizeof activity);
  mbquantmap(qf, st.mbrows, rowquant[1], activity, maxquantrows);

  const bool dcttypebit = sl.picstructure == 3 && ext.frame_pred_frame_dct == 0;
  const int64_t blockbits = coderows(s, [&](bitlane& ln, int row) {
    int64_t bits = 0;
    const int y = 16 * (row - 1), cy = 8 * (row - 1);
    int m = (row - 1) * st.mbcols + 1;
    for (int x = 0, cx = 0; x < st.width; x += 16, cx += 8, ++m) {
      laneroom(ln);  // room for the slice header and the macroblock
      if (x == 0) putslicehdr(ln, 1, row, rowquant[1]);
      intrablocks6(args.curframe, s, x, y, cx, cy, &rowquant[1][row]);
      sl.mbs[m].mbtype = mbintra;
      putmbainc(ln, 1);                                      // macroblock_address_increment
      uint8_t* b = ln.streambits.data();
      putbits(tableb2[mbintra].code, tableb2[mbintra].length, b, ln.streamcursor);  // macroblock_type
      if (dcttypebit) putbits(0, 1, b, ln.streamcursor);     // dct_type: frame DCT
      if (st.streamout) {
        for (int k = 1; k <= 6; ++k) putintrablk(ln, sl, intralevels[k - 1], k);
      } else {
        for (int k = 1; k <= 6; ++k) bits += bitsintrablk(ln, sl, intralevels[k - 1], k);
      }
    }
    return bits;
  });

  closepicture(s, blockbits);
}

void closepicture(int s, int64_t blockbits) {
  const settingsrec& st = settings;
  picslot& sl = picslots[s];
  if (st.streamout) {
    alignbits(sl.streambits.data(), sl.streamcursor);
    sl.picbytes = sl.streamcursor.bytepos;
    sl.picbits = 8 * sl.picbytes;
  } else {
    sl.picbits = int32_t(blockbits + sl.streamcursor.usedbits);
    sl.picbytes = sl.picbits / 8;
  }
  if (st.writestats) alignbits(sl.statbits.data(), sl.statcursor);
}
