// The settings echo: the block of the log that tells, in words a user can check, which
// settings a run used. The first-pass (or only-pass) thread writes it once, right after the
// log's title box, when the log is on.
//
// echolines builds the lines (without line ends) from a settings record; the echosettings
// overloads write them to a stream, a file or a line sink.
#pragma once

#include <cstdio>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "encoder/control/settings.h"

using linesink = std::function<void(const std::string& line)>;

// The lines of the echo, in order: each setting's label padded to 22 columns and its value.
std::vector<std::string> echolines(const settingsrec& s = settings);

// Writes the lines of `settings` to the log through logsink, which the log's owner installs
// when it opens the log (its writer ends the run on a write failure, as for every log
// line). Without a sink nothing is written.
extern linesink logsink;
void echosettings();

// The same lines to a line sink, an output stream or a file, each ended by '\n'. The file and
// stream forms return false when a write failed (the rest is not attempted).
void echosettings(const linesink& sink);
bool echosettings(std::ostream& out);
bool echosettings(std::FILE* out);
