// The start-up sequence of a run and what the step machine needs of it.
#pragma once

struct statusrec;

// Prepares the run on the window thread (step 10); the result is the code in status (0 ready).
void initencoder(statusrec& status);
// Opens the frame-server script again before a pass (steps 11 and 12; only for a script
// source); false when that fails.
bool reopenscript(int pass);
// Releases what the start-up took (the source, the matrix library, the frame store); called
// once after the message loop ended.
void closeencoder();
