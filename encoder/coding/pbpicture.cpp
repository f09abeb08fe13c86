#include "encoder/coding/pbpicture.h"

#include <algorithm>
#include <cassert>
#include <cstring>

#include "encoder/coding/bitio.h"
#include "encoder/coding/headers.h"
#include "encoder/coding/ipicture.h"
#include "encoder/coding/picslot.h"
#include "encoder/coding/quantmap.h"
#include "encoder/coding/scantables.h"
#include "encoder/coding/slicerows.h"
#include "encoder/coding/transform.h"
#include "encoder/coding/vlc.h"
#include "encoder/coding/vlctables.h"
#include "encoder/control/framestore.h"
#include "encoder/control/settings.h"
#include "encoder/motion/kernels.h"
#include "encoder/motion/motionest.h"

namespace {

constexpr uint32_t statpicturecode = 0x00000101;  // start of a picture record in the statistics

// Trial blocks of the intra/inter decision: levels and 8x8 reconstructions of up to four luma
// blocks each way, one set per coding thread.
alignas(16) thread_local int16_t trialintra[4][64];
alignas(16) thread_local int16_t trialinter[4][64];
alignas(16) thread_local uint8_t trialintrarec[4][64];
alignas(16) thread_local uint8_t trialinterrec[4][64];

inline intrakernel intrakern() { return settings.simdlevel == 1 ? intrablockmmx : intrablock; }
inline interkernel interkern() { return settings.simdlevel == 1 ? interblockmmx : interblock; }

inline int32_t qscaleof(const int32_t* qcode) {
  int code = std::clamp(*qcode, 1, 31);
  return nonlinearqscale[code];
}

// Luma block k (0..3) of the macroblock at (x, y): top-left, top-right, bottom-left,
// bottom-right.
inline int blockx(int x, int k) { return x + 8 * (k & 1); }
inline int blocky(int y, int k) { return y + 8 * (k >> 1); }

// Block b (1..6) of the macroblock through the intra kernel: luma from (x, y), chroma from
// (cx, cy). mode 2 reconstructs into the slot's planes, 0 gives levels only.
void intrablk(const pictargs& a, int b, int x, int y, int cx, int cy, int32_t q, int mode) {
  const settingsrec& st = settings;
  const int16_t* w = quantmatrices.intra;
  const uint16_t* r = quantrecip.intra;
  int16_t* lv = intralevels[b - 1];
  if (b <= 4) {
    intrakern()(a.cury, blockx(x, b - 1), blocky(y, b - 1), st.width, lv, w, r, q, st.dcprec,
                reconplane(a.curslot, 0), mode);
  } else {
    const uint8_t* src = b == 5 ? a.curu : a.curv;
    intrakern()(src, cx, cy, st.chromawidth, lv, w, r, q, st.dcprec, reconplane(a.curslot, b - 4),
                mode);
  }
}

// Block b (1..6) through the non-intra kernel on the residual and prediction planes; sets or
// clears bit 6 - b of cbp.
void interblk(const pictargs& a, int b, int x, int y, int cx, int cy, int32_t q, uint8_t* cbp,
              int mode) {
  const settingsrec& st = settings;
  const int16_t* w = quantmatrices.nonintra;
  const uint16_t* r = quantrecip.nonintra;
  int16_t* lv = intralevels[b - 1];
  if (b <= 4) {
    interkern()(a.resy, a.predy, blockx(x, b - 1), blocky(y, b - 1), st.width, lv, w, r, q, 6 - b,
                cbp, reconplane(a.curslot, 0), mode);
  } else {
    const int16_t* res = b == 5 ? a.resu : a.resv;
    const uint8_t* pred = b == 5 ? a.predu : a.predv;
    interkern()(res, pred, cx, cy, st.chromawidth, lv, w, r, q, 6 - b, cbp,
                reconplane(a.curslot, b - 4), mode);
  }
}

void finishintra(mbrecord& mb) {
  mb.intraflag = -1;
  mb.blockclass = 1;
  mb.cbp = 63;
}

void finishinter(mbrecord& mb) {
  mb.intraflag = 0;
  mb.blockclass = mb.cbp != 0 ? 2 : 3;
}

// The residual coders with a trial: the first `trials` luma blocks (1 or 4) are coded both
// ways into scratch, the cheaper way by bits (intra bits above factor x non-intra bits) and
// then by distortion is kept, and the other blocks follow the same way. reference: reconstruct
// into the slot's planes (P); otherwise levels only (B). forceintra skips the comparison.
void trialcoder(const pictargs& a, int x, int y, int cx, int cy, int m, const int32_t* qcode,
                int trials, float factor, bool reference, bool forceintra) {
  const settingsrec& st = settings;
  const int s = a.curslot;
  mbrecord& mb = picslots[s].mbs[m];
  mb.intraflag = 0;
  mb.blockclass = 0;
  mb.cbp = 0;
  const int32_t q = qscaleof(qcode);

  uint32_t dintra = 0, dinter = 0;
  for (int k = 0; k < trials; ++k) {
    intrakern()(a.cury, blockx(x, k), blocky(y, k), st.width, trialintra[k], quantmatrices.intra,
                quantrecip.intra, q, st.dcprec, trialintrarec[k], 1);
    uint32_t d = 0;
    sad8(a.cury, blockx(x, k), blocky(y, k), st.width, trialintrarec[k], &d);
    dintra += d;
  }
  bool intra = forceintra;
  if (!forceintra) {
    int rintra = 0, rinter = 0;
    for (int k = 0; k < trials; ++k) {
      interkern()(a.resy, a.predy, blockx(x, k), blocky(y, k), st.width, trialinter[k],
                  quantmatrices.nonintra, quantrecip.nonintra, q, 5 - k, &mb.cbp,
                  trialinterrec[k], 1);
      uint32_t d = 0;
      sad8(a.cury, blockx(x, k), blocky(y, k), st.width, trialinterrec[k], &d);
      dinter += d;
      rintra += bitsintraac(s, trialintra[k]);
      rinter += (mb.cbp >> (5 - k)) & 1 ? bitsinterblk2(s, trialinter[k]) : 2;
    }
    if (float(rintra) > factor * float(rinter)) intra = false;
    else intra = dintra <= dinter;
  }

  const int finalmode = reference ? 2 : 0;
  if (intra) {
    for (int k = 0; k < trials; ++k) {
      if (reference) put8(reconplane(s, 0), blockx(x, k), blocky(y, k), st.width, trialintrarec[k]);
      std::memcpy(intralevels[k], trialintra[k], sizeof trialintra[k]);
    }
    for (int b = trials + 1; b <= 6; ++b) intrablk(a, b, x, y, cx, cy, q, finalmode);
    finishintra(mb);
  } else {
    for (int k = 0; k < trials; ++k) {
      if (reference) put8(reconplane(s, 0), blockx(x, k), blocky(y, k), st.width, trialinterrec[k]);
      std::memcpy(intralevels[k], trialinter[k], sizeof trialinter[k]);
    }
    for (int b = trials + 1; b <= 6; ++b) interblk(a, b, x, y, cx, cy, q, &mb.cbp, finalmode);
    finishinter(mb);
  }
}

// The B residual coders without a trial: all six blocks one way, levels only.
void plaincoder(const pictargs& a, int x, int y, int cx, int cy, int m, const int32_t* qcode,
                bool intra) {
  mbrecord& mb = picslots[a.curslot].mbs[m];
  mb.blockclass = 0;
  mb.cbp = 0;
  const int32_t q = qscaleof(qcode);
  if (intra) {
    for (int b = 1; b <= 6; ++b) intrablk(a, b, x, y, cx, cy, q, 0);
    finishintra(mb);
  } else {
    for (int b = 1; b <= 6; ++b) interblk(a, b, x, y, cx, cy, q, &mb.cbp, 0);
    finishinter(mb);
  }
}

// A B macroblock without a prediction direction has no usable residual: it can only be coded
// intra. Motion estimation always gives one, so this only guards against damaged decisions.
inline bool nodirection(const mbrecord& mb) { return !mb.mbdirflags[0] && !mb.mbdirflags[1]; }

inline bool forcedintra(const pictargs& a, int m) {
  const picslot& sl = picslots[a.curslot];
  return (sl.mecostflag & 1) || (sl.pictype == 3 && nodirection(sl.mbs[m]));
}

// Picture start common to P and B: type, cursors, forced-intra flag cleared.
void startpicture(const pictargs& args, int type) {
  settings.gopframe += 1;
  picslot& sl = picslots[args.curslot];
  sl.pictype = type;
  startslotpicture(args.curslot);
  sl.mecostflag = 0;
  settings.curpictype = type;
}

// Picture header and coding extension with the slot's output f_codes, the statistics header
// with `nfcodes` of the slot's f_codes (P: 0, 1, 4, 5; B: all eight), and the row quantisers.
void putpictureheaders(const pictargs& args, int type, float& qf, int32_t* quant) {
  const settingsrec& st = settings;
  const int s = args.curslot;
  picslot& sl = picslots[s];
  pichdrfields[s].picture_coding_type = type;
  putpicthdr(type, s, sl.streambits.data(), sl.streamcursor);
  picextfieldsrec& ext = picextfields[s];
  ext.f_code[0][0] = sl.fcodes[0];
  ext.f_code[0][1] = sl.fcodes[1];
  ext.f_code[1][0] = type == 3 ? sl.fcodes[2] : 15;
  ext.f_code[1][1] = type == 3 ? sl.fcodes[3] : 15;
  ext.intra_vlc_format = 0;
  sl.intravlc = 0;
  putpictext(s, sl.streambits.data(), sl.streamcursor);

  const ringentry& frame = framering[args.curframe];
  if (st.writestats) {
    uint8_t* b = sl.statbits.data();
    putbits(statpicturecode, 32, b, sl.statcursor);              // picture record code
    putbits(frame.lumasum, 32, b, sl.statcursor);                // luma sum of the frame
    putbits(uint32_t(type), 4, b, sl.statcursor);                // picture_coding_type
    putbits(uint32_t(sl.mecostflag) & 15, 4, b, sl.statcursor);  // forced-intra flag
    static constexpr int pwords[4] = {0, 1, 4, 5};
    if (type == 2)
      for (int w : pwords) putbits(uint32_t(sl.fcodes[w]), 4, b, sl.statcursor);
    else
      for (int w = 0; w < 8; ++w) putbits(uint32_t(sl.fcodes[w]), 4, b, sl.statcursor);
  }

  uint32_t activity[maxquantrows];
  std::memcpy(activity, frame.rowactivity, sizeof activity);
  mbquantmap(qf, st.mbrows, quant, activity, maxquantrows);
}

// macroblock_type, frame_motion_type, dct_type, vectors, coded_block_pattern and blocks of
// coded macroblock m of slot sl into lane ln (after its address increment and statistics
// flags). Returns the counted block bits (counting mode).
int64_t putmacroblock(bitlane& ln, const picslot& sl, int m, const vlccode& typecode,
                      bool dcttypebit, bool framemotion) {
  const settingsrec& st = settings;
  const mbrecord& mb = sl.mbs[m];
  putbits(typecode.code, typecode.length, ln.streambits.data(), ln.streamcursor);
  if (st.writestats) putbits(typecode.code, typecode.length, ln.statbits.data(), ln.statcursor);
  const bool motion = (mb.mbtype & (mbforward | mbbackward)) != 0;
  uint8_t* b = ln.streambits.data();
  if (motion && framemotion) putbits(uint32_t(sl.motiontype), 2, b, ln.streamcursor);  // frame_motion_type
  if (dcttypebit && mb.cbp != 0) putbits(0, 1, b, ln.streamcursor);  // dct_type: frame DCT
  if (motion) putmvs(ln, sl, m);
  if (mb.mbtype & mbpattern)
    putbits(tableb9[mb.cbp].code, tableb9[mb.cbp].length, ln.streambits.data(),
            ln.streamcursor);  // coded_block_pattern_420
  int64_t bits = 0;
  if (mb.blockclass == 1) {
    for (int k = 1; k <= 6; ++k) {
      if (st.streamout) putintrablk(ln, sl, intralevels[k - 1], k);
      else bits += bitsintrablk(ln, sl, intralevels[k - 1], k);
    }
  } else if (mb.blockclass == 2) {
    for (int k = 1; k <= 6; ++k) {
      if (!((mb.cbp >> (6 - k)) & 1)) continue;
      if (st.streamout) putinterblk(ln, intralevels[k - 1]);
      else bits += bitsinterblk(ln, intralevels[k - 1]);
    }
  }
  return bits;
}

void putstatflags(bitlane& ln, const mbrecord& mb, bool bpicture) {
  uint8_t* b = ln.statbits.data();
  putbits(mb.skipflag ? 1 : 0, 1, b, ln.statcursor);                // skipflag
  putbits(mb.mbdirflags[0] ? 1 : 0, 1, b, ln.statcursor);           // forward flag
  if (bpicture) putbits(mb.mbdirflags[1] ? 1 : 0, 1, b, ln.statcursor);  // backward flag
  putbits(uint32_t(mb.blockclass) & 3, 2, b, ln.statcursor);        // blockclass
  putbits(mb.intraflag ? 1 : 0, 1, b, ln.statcursor);               // intraflag
}

inline void zeropredictors(int32_t (&p)[4], int32_t (&q)[4]) {
  std::fill(std::begin(p), std::end(p), 0);
  std::fill(std::begin(q), std::end(q), 0);
}

using rescoder = void (*)(const pictargs&, int, int, int, int, int, const int32_t*);

}  // namespace

float intrainterfactor(int bppclass) {
  static constexpr float factors[6] = {1.2f, 1.2f, 1.2f, 1.18f, 1.15f, 1.1f};
  return factors[std::clamp(bppclass, 1, 6) - 1];
}

void codembres1(const pictargs& a, int x, int y, int cx, int cy, int m, const int32_t* qcode) {
  trialcoder(a, x, y, cx, cy, m, qcode, 1, 1.0f, true, forcedintra(a, m));
}

void codembres2(const pictargs& a, int x, int y, int cx, int cy, int m, const int32_t* qcode) {
  trialcoder(a, x, y, cx, cy, m, qcode, 4, intrainterfactor(settings.bppclass), true,
             forcedintra(a, m));
}

void codembresb1(const pictargs& a, int x, int y, int cx, int cy, int m, const int32_t* qcode) {
  const bool intra = picslots[a.curslot].mbs[m].intraflag != 0 || forcedintra(a, m);
  plaincoder(a, x, y, cx, cy, m, qcode, intra);
}

void codembresb2(const pictargs& a, int x, int y, int cx, int cy, int m, const int32_t* qcode) {
  trialcoder(a, x, y, cx, cy, m, qcode, 1, 1.0f, false, forcedintra(a, m));
}

void codembresb3(const pictargs& a, int x, int y, int cx, int cy, int m, const int32_t* qcode) {
  const bool intra = picslots[a.curslot].mbs[m].blockclass == 1 || forcedintra(a, m);
  plaincoder(a, x, y, cx, cy, m, qcode, intra);
}

void codembresb4(const pictargs& a, int x, int y, int cx, int cy, int m, const int32_t* qcode) {
  trialcoder(a, x, y, cx, cy, m, qcode, 4, 1.0f, false, forcedintra(a, m));
}

void codepbpicture(const pictargs& args, float& qf) {
  const settingsrec& st = settings;
  const int s = args.curslot;
  picslot& sl = picslots[s];
  startpicture(args, 2);
  picmotionpredict(args);  // picmotionest, then predictpic (the residual row by row below)
  int32_t* quant = rowquant[2];
  putpictureheaders(args, 2, qf, quant);

  const rescoder coder = st.profile == 4 ? codembres2 : codembres1;
  const picextfieldsrec& ext = picextfields[s];
  const bool framemotion = ext.frame_pred_frame_dct == 0;
  const bool dcttypebit = sl.picstructure == 3 && ext.frame_pred_frame_dct == 0;
  const int64_t blockbits = coderows(s, [&](bitlane& ln, int row) {
    predictrowresidual(args, row - 1);
    int64_t bits = 0;
    int counter = 1;  // macroblock_address_increment of the next coded macroblock
    const int y = 16 * (row - 1), cy = 8 * (row - 1);
    int m = (row - 1) * st.mbcols + 1;
    for (int x = 0, cx = 0; x < st.width; x += 16, cx += 8, ++m) {
      laneroom(ln);
      mbrecord& mb = sl.mbs[m];
      mb.mbdirflags[1] = mb.mbdirflags[2] = 0;
      mb.skipflag = 0;
      const bool skipallowed = x != 0 && x != st.searchxmax;
      if (x == 0) putslicehdr(ln, 2, row, quant);
      coder(args, x, y, cx, cy, m, &quant[row]);

      bool skipped = false;
      if (mb.blockclass == 1) {
        mb.mbtype = mbintra;
        mb.mbdirflags[0] = 0;
      } else if (mb.cbp != 0) {
        mb.mbtype = mb.mbdirflags[0] ? mbforward | mbpattern : mbpattern;
      } else if (mb.mbdirflags[0]) {
        mb.mbtype = mbforward;
      } else if (skipallowed) {
        skipped = true;
      } else {
        mb.mbtype = mbforward;  // a zero vector, sent as motion compensated without blocks
        mb.mbdirflags[0] = -1;
      }

      if (skipped) {
        mb.mbtype = 0;
        mb.skipflag = -1;
        std::fill(std::begin(ln.dcpred), std::end(ln.dcpred), 0);
        zeropredictors(ln.pmv, ln.statpmv);
        if (st.writestats) putstatflags(ln, mb, false);
      } else {
        putmbainc(ln, counter);
        counter = 0;
        if (st.writestats) putstatflags(ln, mb, false);
        bits += putmacroblock(ln, sl, m, tableb3[mb.mbtype], dcttypebit, framemotion);
        if (mb.blockclass != 1) std::fill(std::begin(ln.dcpred), std::end(ln.dcpred), 0);
        if (mb.blockclass == 1 || !(mb.mbtype & mbforward)) zeropredictors(ln.pmv, ln.statpmv);
      }
      counter += 1;
    }
    return bits;
  });
  closepicture(s, blockbits);
}

void codebpicture(const pictargs& args, float& qf) {
  const settingsrec& st = settings;
  const int s = args.curslot;
  picslot& sl = picslots[s];
  startpicture(args, 3);
  bmotionpredict(args);  // bmotionest, then predictbpic (the residual row by row below)
  int32_t* quant = rowquant[3];
  putpictureheaders(args, 3, qf, quant);

  const bool secondpass = st.passno == 2;  // decisions restored from the statistics stream
  const rescoder coder = st.profile == 1   ? codembresb1
                         : st.profile == 4 ? codembresb4
                         : secondpass      ? codembresb3
                                           : codembresb2;
  const picextfieldsrec& ext = picextfields[s];
  const bool framemotion = ext.frame_pred_frame_dct == 0;
  const bool dcttypebit = sl.picstructure == 3 && ext.frame_pred_frame_dct == 0;
  const int64_t blockbits = coderows(s, [&](bitlane& ln, int row) {
    predictrowresidual(args, row - 1);
    int64_t bits = 0;
    int counter = 1;
    // The intra bit of the macroblock before; the first of a row is never skipped, so the row
    // before does not count.
    bool previntra = false;
    const int y = 16 * (row - 1), cy = 8 * (row - 1);
    int m = (row - 1) * st.mbcols + 1;
    for (int x = 0, cx = 0; x < st.width; x += 16, cx += 8, ++m) {
      laneroom(ln);
      mbrecord& mb = sl.mbs[m];
      mb.skipflag = 0;
      const bool skipallowed = x != 0 && x != st.searchxmax;
      // The fast profile's coder decides by the flag alone: in the first pass only the forced
      // intra picture sets it (a value left by the slot's previous picture must not count); the
      // second pass keeps what the statistics stream restored.
      if (sl.mecostflag & 1) mb.intraflag = -1;
      else if (st.passno != 2) mb.intraflag = 0;
      if (x == 0) putslicehdr(ln, 3, row, quant);
      coder(args, x, y, cx, cy, m, &quant[row]);

      mb.mbtype = 0;
      if (mb.blockclass == 1) {
        mb.mbtype = mbintra;
        mb.mbdirflags[0] = mb.mbdirflags[1] = mb.mbdirflags[2] = 0;
      } else {
        if (mb.cbp != 0) mb.mbtype |= mbpattern;
        if (mb.mbdirflags[0]) mb.mbtype |= mbforward;
        if (mb.mbdirflags[1]) mb.mbtype |= mbbackward;
      }
      assert((mb.blockclass == 1 || (mb.mbtype & (mbforward | mbbackward))) &&
             "a non-intra B macroblock needs a prediction direction");

      bool skipped = false;
      if (mb.blockclass != 1 && mb.cbp == 0 && skipallowed && !previntra) {
        const mbrecord& prev = sl.mbs[m - 1];
        skipped = (mb.mbdirflags[0] != 0) == (prev.mbdirflags[0] != 0) &&
                  (mb.mbdirflags[1] != 0) == (prev.mbdirflags[1] != 0) &&
                  (mb.mbdirflags[2] != 0) == (prev.mbdirflags[2] != 0);
        if (skipped && mb.mbdirflags[0])
          skipped = mb.halfmv[0] == prev.halfmv[0] && mb.halfmv[1] == prev.halfmv[1];
        if (skipped && mb.mbdirflags[1])
          skipped = mb.halfmv[2] == prev.halfmv[2] && mb.halfmv[3] == prev.halfmv[3];
      }

      if (skipped) {
        mb.skipflag = -1;
        mb.mbtype = 0;
        if (st.writestats) putstatflags(ln, mb, true);
      } else {
        putmbainc(ln, counter);
        counter = 0;
        if (st.writestats) putstatflags(ln, mb, true);
        bits += putmacroblock(ln, sl, m, tableb4[mb.mbtype], dcttypebit, framemotion);
        if (mb.blockclass == 1) zeropredictors(ln.pmv, ln.statpmv);
        else std::fill(std::begin(ln.dcpred), std::end(ln.dcpred), 0);
      }
      previntra = (mb.mbtype & mbintra) != 0;
      counter += 1;
    }
    return bits;
  });
  closepicture(s, blockbits);
}
