// The coding threads: a small pool that works on the parts of one job side by side (the
// macroblock rows of a picture, the frames of a ring fill), the calling thread taking part.
//
// The count of threads comes from the environment (OSTREL_THREADS, 1..maxpoolthreads) or,
// without it, from the processors the system lets the process run on. With one thread every
// job runs its parts in order on the calling thread, exactly as a plain loop would.
//
// Parts are handed out in increasing order, so a part may wait for the progress of an earlier
// part of the same job (partprogress), never for a later one: the earliest unfinished part
// always runs. Jobs do not nest: a job started from inside a part, or while another thread's
// job runs, runs its parts in order on its own thread. The pool's threads are made on first use
// by the thread that starts the job and keep its scheduling priority.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>

constexpr int maxpoolthreads = 64;

// Threads that work on a job, the caller included: 1..maxpoolthreads.
int poolthreads();
// The count the system reports for this process (its processors), 1..maxpoolthreads.
int systemthreads();
// Overrides the count (tests and benchmarks); 0 goes back to the environment's or the
// system's count.
void setpoolthreads(int n);

// Runs part(k) for k = 0..parts-1, each once, on up to poolthreads() threads; returns when
// every part has returned. Parts must not throw.
void poolrun(int parts, const std::function<void(int part)>& part);

// The calling thread is one of the pool's own threads (not a job's caller).
bool poolworker();

// A count that one part publishes and later parts of the same job wait for (the macroblocks of
// a row that are done). Reset it before the job starts. Publishing is a plain store: a waiter
// spins and yields (waits are a few macroblocks long), nobody sleeps on it.
struct alignas(64) partprogress {  // (one cache line: parts side by side write their own)
  std::atomic<int32_t> count{0};
};
void progressreset(partprogress& p);
// Publishes v (counts only grow within a job).
void progressset(partprogress& p, int32_t v);
// The count has reached v (a part may do other work of its own meanwhile).
bool progressreached(const partprogress& p, int32_t v);
// The count as it is now.
int32_t progresscount(const partprogress& p);
// Returns once the count has reached v.
void progresswait(partprogress& p, int32_t v);
