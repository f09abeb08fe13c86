// The encoder's one settings record and the tables that lie beside it.
//
// Filled once per run on the window thread during start-up (command-line scan, settings file,
// switch conversion, start-up sequence), then read by every worker without locking. Only the
// run counters, shutdownflag, the VBV words and the current matrices change while coding.
#pragma once

#include <cstdint>
#include <string>

constexpr int maxframes = 640000;     // chapter and zone tables: frames 0..639,999
constexpr int maxwidth = 1920;        // largest coded picture
constexpr int maxheight = 1152;
constexpr int maxmbcount = (maxwidth / 16) * (maxheight / 16);  // 8,640
constexpr int maxgoplength = 36;

struct settingsrec {
  // ---- user settings (settings file, then switches) ----
  int firstframe = 0;            // first source frame to encode, 0-based
  int lastframe = 9999999;       // last source frame, inclusive
  int aspect = 3;                // aspect_ratio_information: 1 1:1, 2 4:3, 3 16:9, 4 2.21:1
  int bitrate = 5000000;         // average bitrate, bit/s
  int maxbitrate = 8000000;      // maximum bitrate, bit/s
  int goplength = 15;            // 1..36
  int bframes = 2;               // 0..2
  int profile = 2;               // speed profile: 1 fast, 2 normal, 4 best
  int passmode = 2;              // 1 one constant-quantiser pass, 2 two passes
  int bias = 0;                  // percent, 0..100
  int matrixno = 1;              // 0 custom pair, 1..16 built-in pair
  int tchours = 0, tcminutes = 0, tcseconds = 0, tcframes = 0;  // starting time code
  int waitsecs = 5;              // seconds the window stays after the run, 0..100
  int dcprec = 1;                // intra_dc_precision code = DC bits - 8, 0..3
  int lumgain = 0;               // luminance gain level 0..4; above 0 the adaptive matrix is off
  int autogopmax = 15;           // longest automatic GOP, 12..18
  float cqvalue = 4.0f;          // constant quantiser, 1.0..31.0
  float cqmbrvalue = 5.0f;       // constant quantiser under a maximum bitrate
  float cqpfactor = 1.0f;        // P picture quantiser factor (constant-quantiser modes)
  float cqbfactor = 1.0f;        // B picture quantiser factor
  bool pulldown = false;         // 3:2 pulldown flags (23.976 coded as 29.97)
  bool autogop = true;
  bool closedgops = false;
  bool noscd = false;            // scene-change detection off
  bool novbv = false;            // VBV check off
  bool interlaced = false;
  bool altscan = false;          // alternate scan instead of zigzag
  bool adaptivematrix = false;   // matrix adaptation through EXTMATRIX
  bool tff = false, bff = false; // field order
  bool lastiframe = false;       // code the last frame as an I picture
  bool previewini = false;       // preview on at start
  bool seqendcode = true;        // sequence end code at the end of the stream
  bool maskon = false;           // fetched frames are shifted and masked
  int maskshift[3] = {0, 0, 0};  // lines masked at the top, at the bottom, vertical shift
  uint8_t fillbytes[3] = {16, 128, 128};  // Y, U, V fill values
  bool scdfile = false;          // write the scene-change list
  int simdlevel = 0;             // 0 none, 1 MMX, 2 SSE2, 3 SSE3, 4 SSSE3
  int vbvsize = 0;               // VBV buffer size in bits for the level in use

  // ---- paths (exactly as given; case is kept) ----
  std::string inpath, outpath, logpath, chapterpath, inifile;
  std::string exedir;            // program folder, with its trailing '/'
  std::string inputdir, outputdir, scdname, dbspath, errtext;

  // ---- start-up flags ----
  int argcount = 0;              // command-line words, the program name included
  bool inputgiven = false, outputgiven = false;
  bool bitrategiven = false, maxbitrategiven = false;
  bool logfileon = false, chapterfilegiven = false;
  bool inifilegiven = false, iniused = false;
  bool cqmode = false, cqmbrmode = false;

  // ---- derived at start-up ----
  int slotcount = 0, ringsize = 0;
  int frameratecode = 0;
  double framerate = 0.0;        // frames per second
  int width = 0, height = 0;     // coded picture size, multiples of 16
  int displayheight = 0;         // the height the source delivers (1080 coded as 1088)
  int chromawidth = 0, chromaheight = 0;
  int mbcols = 0, mbrows = 0;
  int lumasize = 0, chromasize = 0, mbcount = 0;
  int lumapitch = 0, chromapitch = 0;
  int searchxmax = 0, searchymax = 0;
  int clipframes = 0, framecount = 0;
  double duration = 0.0;         // seconds
  int tcstart = 0;               // starting time code in frames
  int bppclass = 0;              // bits-per-pixel class 1..6
  int chaptercount = 0;
  int level = 0;                 // 1 Main Level, 2 High-1440, 3 High Level
  bool avsinput = false, d2vinput = false;
  void (*extmatrixentry)(int32_t*, int32_t*, int16_t*, int16_t*) = nullptr;

  // ---- run counters (written by the pass threads) ----
  int gopframe = 0;              // frames coded in the pass before the current GOP
  int gopnumber = 0;             // the GOP being coded in the pass, from 1 (user data in GOP 1)
  int passno = 0;                // 1 or 2
  int curpictype = 0;            // 1 I, 2 P, 3 B
  int gopclass = 0;              // change class of the current GOP, 1..32 (first-pass fetch)
  bool writestats = false;       // the coders also write the statistics bits
  bool streamout = false;        // the coders write stream bits (else they only count)
};

extern settingsrec settings;

// One chapter mark per source frame (1 = a closed GOP with an I picture starts there).
extern uint8_t chapterflags[maxframes];
// One bitrate factor per source frame, 0.5..2.0, preset 1.0.
extern float zonefactors[maxframes];

// A quantiser matrix pair, intra first, 64 entries each in raster order of the 8x8 block.
struct matrixpair {
  int16_t intra[64];
  int16_t nonintra[64];
};
// Reciprocals of a pair: floor(65536 / w) at start-up (65535 for w = 1), floor(65535 / w) when
// the pass loops change the matrices.
struct reciprocalpair {
  uint16_t intra[64];
  uint16_t nonintra[64];
};

extern matrixpair quantmatrices;   // current pair, scaled and adapted per GOP
extern matrixpair basematrices;    // the pair as chosen at start-up
extern reciprocalpair quantrecip;  // reciprocals of quantmatrices
extern int loadintramatrix, loadnonintramatrix;  // the sequence header carries the matrix (0/1)
