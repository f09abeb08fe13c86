// The video source bridge: the only way in to the two outside video sources, the frame server
// (avisynth.dll, which runs a ".avs" script) and the D2V decoder library (DGDecode.dll, which
// decodes the video of a ".d2v" project). Both programs build it in; each has one instance of
// its state.
//
// Every operation answers a result code, 0 for success. Text arguments are NUL-terminated;
// frame numbers are 0-based. The operations are safe to call from several threads: each runs
// alone (the front end's window thread and its scan thread both fetch frames).
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

// Loads "avisynth.dll" (program folder first) and creates its script environment.
// 0; 1 the library did not load; 2 it has no export CreateScriptEnvironment, or that gave no
// environment (the library stays loaded). A second call with the library loaded only makes a
// missing environment again.
int avsload();

// Imports a script and keeps its clip as the current one (the clip held before is released).
// 0 with width, height, frames, fpsnum, fpsden (and *pixeltype when given) written; 1 no
// avisynth.dll loaded; 2 no script environment; 3 the frame server raised its error during the
// import: its message is copied into msg (at most msglen characters, the rest of the msglen
// characters blanks, no NUL); 4 the script's result is not a clip, or the clip's width is 0;
// 5 the pixel type is neither YV12 nor I420. The outputs are written only on 0; msg only on 3.
int avsopen(const char* script, int& width, int& height, int& frames, int& fpsnum, int& fpsden,
            char* msg, int msglen, int* pixeltype = nullptr);

// Copies frame n of the current clip into the caller's planes: Y at lumapitch bytes a row, U and
// V at chromapitch. At most the opened width (lumapitch) by height luma bytes and half of each
// for chroma are written. 0; 6 no clip, or the frame server raised an error (the planes are
// then unchanged). Numbers beyond the clip give what the frame server delivers for them.
int avsgetframe(int n, int lumapitch, int chromapitch, uint8_t* y, uint8_t* u, uint8_t* v);

// Releases the clip, destroys the environment and frees avisynth.dll. 0; 7 the library could
// not be freed. Nothing loaded: 0.
int avsclose();

// Forgets any open project and resolved exports, then loads the decoder library (a bare name is
// looked up in the program folder first). 0; 128 it did not load.
int d2vload(const char* library);

// Opens a D2V project with the decoder's openMPEG2Source. 0 with the outputs written;
// 128 no decoder library loaded; 130 an export (openMPEG2Source, getFrame, closeVideo) is
// missing (looked up again on the next call); 131 openMPEG2Source gave null; 132 width, height,
// frame count, or a frame-rate number is 0 (the outputs already hold the decoder's words, the
// project is forgotten). *sixth receives the decoder's sixth word when given.
int d2vopen(const char* project, int& width, int& height, int& frames, int& fpsnum, int& fpsden,
            int* sixth = nullptr);

// Copies frame n of the open project: width x height luma bytes into Y, then a quarter of that
// into U (Cb) and into V (Cr); the planes are packed (pitches width and width / 2). 0; 6
// without an open project or when the decoder gives no frame (it cannot decode it): the planes
// are then left unchanged.
int d2vgetframe(int n, uint8_t* y, uint8_t* u, uint8_t* v);

// The files the open source reads, as its library names them: the scripts a script imports and
// the media files its sources open (frame server), or the video files a project lists (decoder
// library). Empty when nothing is open or the library does not tell.
std::vector<std::string> avsfiles();
// The shape the current clip's picture is shown at (display aspect num:den, lowest terms) when
// its source says it (a ".y4m" header's pixel aspect, a video file's); false when it does not.
bool avsaspect(int& num, int& den);
// The same for a D2V project: the shape its "Aspect_Ratio=" line gives (the MPEG source's own
// flag, as the indexing tool wrote it: "4:3", "16:9", "1:1", "2.21:1"); false when the project
// cannot be read or has none.
bool d2vaspect(const std::string& project, int& num, int& den);
std::vector<std::string> d2vfiles();

// While word is set and above 0, a long open of the frame server (indexing a video, reading a
// script) gives up with its error (code 3 of avsopen); null stops watching. The word belongs to
// the caller and must outlive the watch.
void avswatchstop(const std::atomic<int>* word);

// Frees the decoder library. 0 (also when none is loaded); 129 it could not be freed (the
// library then stays loaded).
int d2vfree();
