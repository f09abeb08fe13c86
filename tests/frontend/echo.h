// The pages' settings in the terms of the settings model, and the settings echo the encoder
// writes for them: the tests that write KJ.ini from the pages and run the real encoder on it.
#pragma once

#include <initializer_list>
#include <map>
#include <string>
#include <vector>

// The settings as key code -> value text: what the pages say (before the write) or what the
// model holds (after the read). A switch has an empty value.
using settingsview = std::map<int, std::string>;

// Numbers as the views write them: "1 2 3"; a real with 3 decimals.
std::string ints(std::initializer_list<int> v);
std::string f3(float v);
// The chapter and zone tables, and the custom pair, as one text each.
std::string tables();
std::string customview();
// What the pages ask the encoder for, in the terms of the model: the page's meaning of each
// control, with the ranges the encoder applies.
settingsview pagesview();

// The clip of the encoder runs: at 23.976 frames a second the encoder keeps the pulldown flags.
constexpr int clipframes = 30;
constexpr const char* filmclip = "TestPattern(length=30, width=64, height=64, fps=23.976)\n";
// The settings echo the encoder must write for the pages' settings (the CPU line is left out
// unless the pages force MMX or SSE2, which every x86-64 processor has).
std::vector<std::string> echofor(const settingsview& v);
// The echo lines of a log: "profile:" to "luminance gain:", the CPU line only when expected.
std::vector<std::string> echoof(const std::string& log, bool cpu);
// Whether the echo of the pages' view holds a CPU line (the pages force MMX or SSE2).
bool echocpu(const settingsview& v);
