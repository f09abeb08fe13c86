// The version our programs and libraries carry in their files, as a Windows file carries its
// version resource: the mark "OSTREL-FILE-VERSION " and four numbers "major.minor.build.
// revision", each 0..65535. The front end reads it back from a file (fileversion).
#pragma once

#define OSTREL_FILE_VERSION "0.21.0.0"

// What comes before the numbers in a file.
inline constexpr char fileversionkey[] = "OSTREL-FILE-VERSION ";

// The mark itself: kept in the file even though nothing refers to it. Include this header in
// one source file of each program and library that carries the mark.
[[gnu::used]] static const char fileversionmark[] = "OSTREL-FILE-VERSION " OSTREL_FILE_VERSION;
