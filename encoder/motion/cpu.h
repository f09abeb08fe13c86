// The encoder's processor level, the motion kernels' level word and the rules that pick a
// kernel's code path. The probe itself (cpuinfo, cpulevelof) is shared with the front end.
//
// Everything here except getcpulevel is a pure function of its arguments, so tests can feed
// made-up processor words and addresses.
#pragma once

#include <cstdint>

#include "common/cpuprobe.h"

// The words getcpulevel read, kept for the rest of the run.
extern cpuidwords cpuwords;

// Probes the processor, keeps its words in cpuwords and sets settings.simdlevel; code is 264
// ("no MMX detected") when the level is 0, else 0.
void getcpulevel(int& code);
// The same from given words (tests).
void getcpulevelfrom(const cpuidwords& rec, int& code);

// The level in use once the settings file's CPU choice has been applied: a choice 1..4 forces
// the level down, but never above what the processor has (detected); any other choice leaves
// the detected level.
int cappedcpulevel(int choice, int detected);

// The motion kernels' level word: 0 until setcpumode runs at start-up, then 1..4 as simdlevel.
// Read by every multi-path kernel at entry; written once, before any worker thread exists.
extern int32_t kernellevel;
void setcpumode(int level);

// ---- path choice ----
// A kernel's code path. pathc is the plain C++ reference (level 0: no kernel level set);
// pathsse2 loads its reference rows unaligned, pathsse2a aligned, pathsse3 with LDDQU.
enum kernelpath : int { pathc = 0, pathmmx = 1, pathsse2 = 2, pathsse2a = 3, pathsse3 = 4 };

// 16x16 prediction and copy kernels: level 1 MMX; else a source address on a 16-byte boundary
// takes the aligned SSE2 path; else level 3 and 4 SSE3; else unaligned SSE2.
kernelpath pathaligned(int level, const void* source);
// sad16: level 3 and 4 SSE3; 1 MMX; 2 unaligned SSE2.
kernelpath pathsad(int level);
// sadframes, sadavg16, avg16, diffblock: level 1 MMX; 2 to 4 SSE2 (aligned accesses).
kernelpath pathtwo(int level);
// 8x8 kernels: MMX at every level from 1.
kernelpath pathmmxonly(int level);
// The half-pel grid sets, chosen by simdlevel: 1 MMX, 2 SSE2, 3 and 4 SSE3.
kernelpath pathgrid(int level);
