// The adaptive-matrix plug-in (matrix.dll, its EXTMATRIX) in a helper process of its own.
//
// The encoder forks the helper at its very start, before any thread runs; at start-up the
// helper loads the plug-in, and each GOP's call goes there and back over a pipe. While a call
// runs, the pass stops within a moment when the run is being stopped (the helper is killed), and
// a helper that crashes, or hangs for 30 seconds, ends the run with an error of its own (exit
// status 7) instead of taking the encoder with it. Programs that never fork the helper (test
// drivers of the start-up) load the plug-in into their own process as before.
#pragma once

#include <cstdint>
#include <string>

// Forks the helper (winmain, first thing). Without it the plug-in is loaded in-process.
void matrixserverfork();
bool matrixserverforked();
// At start-up: the helper loads matrix.dll and finds EXTMATRIX. 0; 600 (why: a broken library's
// reason, "" when there is none); 601. path receives the file that was loaded.
int matrixserverload(std::string& why, std::string& path);
// EXTMATRIX through the helper (settings.extmatrixentry). When the call cannot be made (the
// run is being stopped, the helper crashed or hangs) the matrices stay as they are; a crash or
// a hang is reported once (stderr, log, status line) and ends the run through step 98.
void matrixservercall(int32_t* gopclass, int32_t* meanluma, int16_t* intra, int16_t* nonintra);
// The plug-in crashed or hung during the run.
bool matrixserverfailed();
// Ends the helper (at exit; it is killed when a call is still running).
void matrixserverend();
