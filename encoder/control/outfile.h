// The output stream's file (and the scene-change list, the same way under its own unit): the new
// stream is written beside the output under a temporary name and moved into place only when the
// run has a whole stream to put there, so that a run stopped or failed before that leaves an
// earlier stream at the output path as it was.
//
// The temporary name is the output's name followed by ".partial", in the output's folder (the
// folder of the file a link leads to); a leftover of a killed run is taken over by the next
// run on the same output. While the run goes, it holds a lock on the temporary file and on an
// existing output, so a second encoder given the same output by any name is refused. Devices
// and FIFOs ("/dev/null") are written in place, and so is an existing output whose folder
// cannot take the temporary file (said by a warning). Window thread only.
#pragma once

#include <string>

#include "encoder/control/units.h"

// Opens the file the stream goes to as unit 21 (unitstream; another unit for another file the
// same way, named in messages by name), locked. 0 when it is open; 1 it cannot be opened or
// created; 2 another encoder writes this output. why names the file and the reason for 1 and
// 2, and for 0 when the output is written in place although it is a regular file (the
// warning's text); it is empty otherwise. An existing output is not changed.
int outputopen(const std::string& out, std::string& why, int unit = unitstream, const char* name = "output");
// The temporary name for the output out (every name of one file gives the same).
std::string partialname(const std::string& out);
// The temporary file being written ("" when the output is written in place or nothing is open).
const std::string& outputtemporary(int unit = unitstream);
// Ends the output of the run, once: closes the unit and, for a temporary file, moves it into
// place when keep (the stream is whole), else removes it; then the locks go. False, with why,
// when the move failed (the new stream then stays under its temporary name).
bool outputsettle(bool keep, std::string& why, int unit = unitstream);
