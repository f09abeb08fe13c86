// What "ostrel -h" (or "--help") and "ostrel --version" print on standard output instead of
// encoding.
#pragma once

#include <string>

// Every switch on a line of its own with its unit, then a PAL and an NTSC DVD run.
std::string usagetext();
// The release, one line.
std::string versiontext();
