// The statistics stream between the two passes of a two-pass run: the scratch file
// settings.dbspath, opened by the start-up as unit 23, deleted by steps 98 and 99.
//
// The file is one continuous bit stream (most significant bit first) in 8192-byte records,
// numbered from 1. It is a sequence of GOP units: the GOP record, then the picture record of
// each of its pictures in coding order. Every record starts on a byte boundary.
//
// GOP record (widths in bits): n 8 (1..36), b 8 (0..2), closed_gop 8 (0/1), goporder[1..n],
// goptypes[1..n], goptrefs[1..n] 8 each; with settings.pulldown the pulldown flags of
// temporal references 0..n-1 (8 each) and fieldcount (32); the GOP class 32 (1..32); the row
// activity words of each picture in coding order, rows 0..mbrows-1, 32 each; with
// settings.adaptivematrix or settings.lumgain > 0 the intra then the non-intra matrix, 64 x 16
// each in raster order.
//
// Picture record (written by the picture coders into the slot's statbits): marker 0x00000101
// (32), the frame's luma sum (32), picture_coding_type (4), mecostflag (4: 0 or 15); P: f_codes
// 0, 1, 4, 5 (4 each); B: all eight; then per macroblock in raster order: skipflag, forward flag,
// (B: backward flag,) blockclass (2), intraflag, and when not skipped the Table B.3/B.4
// macroblock_type code and the statmv vector pairs of the set direction flags as putmv2 codes
// them; zero bits to the next byte.
//
// First pass, per GOP: after goppattern and pulldownflags, fillgopstats + the row activity
// words, then putgopstats; after the GOP's pictures writedbs(n, goporder, goptrefs, false);
// after the last GOP writedbs(..., true). dbswriterstart once when the pass thread starts.
// Second pass: dbsreadstart once, then per GOP readgopunit (or readgopstats and readpicstats
// per picture) before the GOP is coded; usegopstats puts the record into the GOP arrays, the
// pulldown flags and the matrices.
//
// Failures end the run through step 98 (abortrun) after a log line (when settings.logfileon)
// and the error line: a record that cannot be written (the write texts), a record that cannot
// be read (a truncated file), or bits that do not parse as the first pass writes them (a count
// out of range, a GOP order other than its pattern's, a code that is no code, flags that
// contradict the macroblock_type, a vector that points outside the picture) (the read texts
// for both). The first failure latches: the writer writes nothing more, the reader returns
// zeros and every read routine returns false, so the pass never codes from garbage. Only the
// pass worker thread uses these routines.
#pragma once

#include <cstdint>
#include <vector>

#include "encoder/coding/bitio.h"
#include "encoder/coding/goppattern.h"
#include "encoder/control/settings.h"

constexpr int dbsrecordbytes = 8192;
constexpr int maxmbrows = maxheight / 16;  // 72

// Texts of the failures (log line, then the error line of the status line).
extern const char dbswritelog[];  // " *** ERROR, can't write to dbs file, aborting..."
extern const char dbswriteline[];
extern const char dbsreadlog[];   // " *** ERROR, can't read from dbs file, aborting..."
extern const char dbsreadline[];

// ---- writer ----

struct dbswriterstate {
  uint8_t record[dbsrecordbytes];  // the record being filled
  int32_t fill = 0;                // bytes in record, 0..8191 between calls
  int32_t recno = 1;               // number of the next record to write
  bool failed = false;             // a write failed; nothing more is written
};
extern dbswriterstate dbswriter;

// Fill count 0, next record 1, the record buffer cleared, the failure forgotten.
void dbswriterstart();

// final false: appends gopstatbuf up to its cursor's bytepos, then for k = 1..n the statbits of
// slot trefs[order[k]] + 1 up to the bytepos of its statcursor; every full record goes to the
// file. final true (the other arguments unused): writes the whole record buffer as record r and
// once more as record r + 1, so the reader, which holds two records, never reads past the end.
// False when a record could not be written (the run is then being aborted).
bool writedbs(int n, const goparray& order, const goparray& trefs, bool final);

// ---- GOP record ----

constexpr int gopstatbytes = 12288;  // the largest record is 10,779 bytes
extern uint8_t gopstatbuf[gopstatbytes + bitspare];
extern bitcursor gopstatcursor;

struct gopstatrecord {
  int32_t n = 0;       // pictures, 1..36
  int32_t b = 0;       // B pictures between references, 0..2
  int32_t closed = 0;  // closed_gop, 0 or 1
  goparray order = {}, types = {}, trefs = {};  // as goporder, goptypes, goptrefs
  int32_t pulldownflags[maxgoplength] = {};     // by temporal reference (pulldown only)
  int32_t fieldcount = 0;                       // fields shown before the GOP (pulldown only)
  int32_t gopclass = 0;                         // change class, 1..32
  int32_t rowactivity[goparraysize][maxmbrows] = {};  // [coding position 1..n][row 0..mbrows-1]
  int16_t intra[64] = {}, nonintra[64] = {};    // raster order (adaptive matrix or lumgain only)
};

// The record's fields from the GOP arrays, pulldownflagarray, fieldcount and quantmatrices, with
// n, b, closed and the class from the arguments; the row activity words are the caller's.
void fillgopstats(gopstatrecord& g, int n, int b, int closed, int gopclass);
// Writes the record into gopstatbuf from byte 0 (the cursor is reset first).
void putgopstats(const gopstatrecord& g);
// Reads a GOP record into g and checks every field's range (row words below 2^31, matrix
// entries 1..255), that order and trefs are permutations, that the GOP has one I picture and
// it comes first, and that order, types and trefs are those goppattern gives for n, b and
// closed. False on a failure (reported).
bool readgopstats(gopstatrecord& g);
// The record into goporder, goptypes, goptrefs (entries past n cleared); with pulldown into
// pulldownflagarray and fieldcount; with matrices into quantmatrices and their reciprocals
// (65535 / weight).
void usegopstats(const gopstatrecord& g);
// Refuses a record that parses but does not fit the run reading it (a statistics file of
// another run): reported as a read failure (even when a read ahead has failed since). Always
// false.
bool dbsreject();
// readgopstats, then a picture record for slot trefs[order[k]] + 1, k = 1..n, each picture of
// the type the GOP record gives it; the pictures go into their slots once all are read. False on
// a failure (reported).
bool readgopunit(gopstatrecord& g);

// What a picture record puts into its slot (readpicstats), held apart from the slots: the
// second pass with several coding threads reads the next GOP's records on a thread of their own
// while the slots still hold the GOP being coded.
struct mbstatrec {
  int16_t statmv[4] = {};
  uint8_t mbtype = 0;
  int8_t blockclass = 0, intraflag = 0, skipflag = 0;
  int8_t mbdirflags[3] = {};
};
struct picstatrec {
  int32_t pictype = 0, mecostflag = 0;
  int32_t fcodes[8] = {};
  std::vector<mbstatrec> mbs;  // 1..mbcount (P and B pictures)
};
struct gopunitrec {
  gopstatrecord gop;
  picstatrec pictures[maxgoplength + 1];  // by coding position 1..n
};
// readgopunit into u, the slots untouched.
bool readgopunit(gopunitrec& u);
// u's pictures into their slots trefs[order[k]] + 1, as readgopunit puts them.
void usegopunit(const gopunitrec& u);

// Failures met on a thread that reads ahead for the pass thread are latched but not reported
// (set on that thread); the pass thread reports them with dbsreportfailure when it reaches the
// GOP where the read failed, as a reader in step with it would have.
void dbsdeferreports(bool on);
bool dbsreportfailure();

// ---- reader ----

struct dbsreaderstate {
  uint8_t buffer[2 * dbsrecordbytes + 8];  // two records and zeros behind them
  bitcursor cursor;                        // read position in buffer
  int32_t consumed = 0;                    // bits read since the start of the first record
  int32_t recno = 3;                       // number of the next record to read
  bool failed = false;                     // a read failed or a record did not parse
};
extern dbsreaderstate dbsreader;

// Records 1 and 2 into the two halves, cursor and bit count 0, next record 3. False when they
// cannot be read (reported).
bool dbsreadstart();
// The next n bits (1..32) as an unsigned value. When the bit count passes 65,536 (strictly),
// the second record moves down, the next record is read behind it and the counts drop by one
// record. After a failure: 0, and nothing moves.
uint32_t dbsgetbits(int n);
// Skips n bits (any n >= 0) in the same way.
void dbsskipbits(int n);
bool dbsfailed();

// One picture record into slot s: pictype, mecostflag (0 or -1), the fcodes (P: 0, 1, 4, 5;
// the backward ones 15), and for P and B pictures every macroblock's skipflag, mbdirflags,
// blockclass, intraflag, mbtype and statmv (a skipped B macroblock takes the previous one's
// vectors). False on a failure (reported).
bool readpicstats(int s);
// The same into p, and p into slot s.
bool readpicrecord(picstatrec& p);
void usepicrecord(int s, const picstatrec& p);
// One vector pair of direction d (0 forward, 1 backward) with the r_sizes (f_code - 1) of its
// components, against pred[2d], pred[2d + 1], which take the decoded vector. False when a
// motion_code is no code (reported).
bool readmvpair(int rsizeh, int rsizev, int d, int32_t pred[4]);
// motion_code -16..16 (Table B.10 with its sign), or mvcodeinvalid for bits that are no code.
constexpr int mvcodeinvalid = 99;
int readmvcode();
// The vector from motion_code, motion_residual and r_size against pred, wrapped into
// -16f..16f-1 (f = 2^r_size); pred takes it. The inverse of putmv2.
int mvdecode(int residual, int code, int rsize, int32_t& pred);
