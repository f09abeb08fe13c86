// The per-picture argument record: the pass loop fills it for each picture and hands it to the
// picture coder of the picture's type, which passes it on unchanged to motion estimation and
// prediction. The slot numbers say which picture slots take part (the I coder reads only
// curframe and curslot); the plain addresses and pitches below let motion estimation work
// without knowing where the frame store keeps its planes. The pass loop fills both from the
// frame store (the planes of curframe, fwdslot and bwdslot, the prediction and residual
// planes, and scratch blocks fixed for the run).
#pragma once

#include <cstdint>

struct pictargs {
  int32_t curframe = 0;  // frame ring entry (1-based) of the source frame being coded
  int32_t curslot = 0;   // the slot being coded
  int32_t fwdslot = 0;   // forward reference slot (P: the newest reference; B: the older one)
  int32_t bwdslot = 0;   // backward reference slot (B only: the newer reference)

  // Pitches in bytes of every plane below (and in elements of the residual planes when
  // ypitch is the picture width): normally the luma and chroma widths.
  int32_t ypitch = 0;
  int32_t cpitch = 0;

  // Source frame of curframe: Y, U, V planes, pixel (0, 0) each.
  const uint8_t* cury = nullptr;
  const uint8_t* curu = nullptr;
  const uint8_t* curv = nullptr;
  // Reconstructed planes of fwdslot and bwdslot (bwdslot's only for B pictures).
  const uint8_t* fwdy = nullptr;
  const uint8_t* fwdu = nullptr;
  const uint8_t* fwdv = nullptr;
  const uint8_t* bwdy = nullptr;
  const uint8_t* bwdu = nullptr;
  const uint8_t* bwdv = nullptr;
  // Prediction planes of the picture being coded (written by the prediction).
  uint8_t* predy = nullptr;
  uint8_t* predu = nullptr;
  uint8_t* predv = nullptr;
  // Residual planes, source minus prediction, width x height values each in raster order
  // (no pitch: rows follow each other).
  int16_t* resy = nullptr;
  int16_t* resu = nullptr;
  int16_t* resv = nullptr;

  // Scratch blocks, 16-byte aligned, fixed for the run: the source macroblock (256 bytes)
  // and the six blocks of the B prediction (768 bytes: forward and backward 16x16 luma, then
  // forward U, forward V, backward U, backward V, 64 bytes each).
  uint8_t* mescratch = nullptr;
  uint8_t* predscratch = nullptr;
};
