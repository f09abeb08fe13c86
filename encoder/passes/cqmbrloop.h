// The one pass at a constant quantiser under a maximum bitrate ("-cq_maxbitrate", "*CQ_MAXBITRATE";
// window label "CQ, MBR"). The first-pass thread runs it in place of pass1loop; the stream is
// written, no statistics.
//
// It codes like the constant-quantiser pass (the same fetch, GOP decisions, matrix step,
// picture order, coders and display), at the quantiser of "-cq_maxbitrate" scaled by
// "-cq_pfactor" and "-cq_bfactor", but checks every picture against the VBV model and every
// GOP against the maximum bitrate (checkpicture1, maxrateretry1 in vbvcheck.h) and codes a GOP
// again, with coarser quantisers, until both pass; a try is given up at the first picture that
// shows it cannot pass. A GOP that fits from the start is coded exactly as the
// constant-quantiser pass codes it. Only accepted tries reach the stream and the counters; a
// GOP that cannot be brought under the limits (nothing coarser left, or maxgoptries codings, a
// guard) is accepted with a WARNING.
//
// The pass stops like pass1loop: at the pause gate and keeprunning once per picture and frame
// read; a stopped pass keeps the GOPs it accepted.
#pragma once

// The GOP loop: true when it coded the whole range and wrote the stream's end; false as soon as
// the pass was stopped or a fatal error was raised.
bool cqmbrloop();
