// The script language: one expression per script, function calls with positional and named
// (name=value) arguments, strings in double quotes, integers (decimal, or hexadecimal after
// "$" or "0x"), decimals, true and false, and "#" comments to the end of the line.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "libs/avisynth/fsinternal.h"

// Calls a function by name (case ignored) with its arguments (an empty name is positional).
// scriptdir: the folder of the calling script with a trailing '/', or empty; file names of the
// sources are taken relative to it.
fsvalue callfunction(fsenvcore* env, const std::string& name,
                     const std::vector<std::pair<std::string, fsvalue>>& args, const fswhere& at,
                     const std::string& scriptdir);
