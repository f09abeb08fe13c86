// The output stream writer: the coded GOPs go into the ".m2v" file (unit 21) through one
// 8192-byte record buffer, as direct-access records in record order; the final call appends
// the bytes left in the buffer and the sequence end code.
//
// Every write is checked, the final ones too. The first failed write (disk full, file closed)
// logs " *** ERROR, can't write to output file, aborting...", says it on stderr with the file
// and the system's reason, shows the error line, and ends the run through the abort step
// (errorflag, step 98, wake message). The stream is then cut back to the end of its last whole
// GOP and given its end code, as a stopped run's stream (when the file is a regular one and at
// least one GOP fits); from then on the writer stays failed and writes nothing more.
// Pass worker only.
#pragma once

#include <cstdint>

#include "encoder/coding/goppattern.h"

constexpr int streamrecordbytes = 8192;

struct streamrecordrec {
  uint8_t buffer[streamrecordbytes];
  int32_t fill = 0;   // bytes in the buffer, 0..8191 between calls
  int32_t recno = 1;  // record number of the next record to write, from 1
};
extern streamrecordrec streamrecord;

// Output-stream bits of the pass: the pass loops add the header and picture bits; the final
// call of writestream adds 32 for the sequence end code.
extern int64_t streambitcount;

// The pass start: fill count 0, record number 1, the failed state cleared.
void startstream();

// With final false, after all n pictures of a GOP are coded: appends the GOP's header bytes
// (headerbuf up to headercursor) and then the bytes of the pictures in coding order, the
// picture at coding position k taken from slot trefs[order[k]] + 1 (as many bytes as the
// bytepos of its streamcursor). Full records go to the file as they fill.
// With final true, once after the last GOP (the other arguments are not used): writes the
// bytes left in the buffer right after the last full record and, when settings.seqendcode,
// the sequence end code 00 00 01 B7 (adding 32 to streambitcount), then flushes the file.
void writestream(int n, const goparray& order, const goparray& trefs, bool final);

// A write has failed since startstream.
bool streamfailed();
// The stream is whole: the final call succeeded, or a failed write left whole GOPs with their
// end code. A run puts its output in place only then.
bool streamended();
