// The one worker thread of the encoder and its pause gate.
//
// Exactly one worker runs at a time (start-up reporter, pass thread or finish countdown).
// Suspend and resume close and open a gate that the worker passes at least once per picture
// and per frame read (workergate); a worker is never killed: stopworker opens the gate, asks
// the worker to stop and joins it, and the worker ends at its next check (the encoder's
// keeprunning word, and workerstopping for countdowns). Only after stopworker returns may the
// caller close the files the worker wrote.
#pragma once

#include <functional>

enum workerpriority : int {
  prionormal = 0,
  priolowest = -2,  // pass threads: best effort, a higher nice value for that thread
};

// Starts fn as the current worker. The previous worker must have ended (joinworker or
// stopworker); a still-running one is joined first.
void startworker(std::function<void()> fn, int priority = prionormal);
// A worker has been started and not yet joined.
bool workerset();
// Waits for the current worker to end (no time limit).
void joinworker();
// Cooperative stop: the gate opens, workerstopping() turns true, sleeps of the worker end at
// once; then joins. Nothing happens without a worker.
void stopworker();

// The pause gate. The worker calls it at least once per picture and per frame read; it
// returns at once unless the worker is suspended, and then blocks until it is resumed or
// stopped. Called from any other thread than the worker and its helpers it returns at once.
void workergate();
// Makes the calling thread a helper of the worker (the frame reader): the pause gate holds it
// as it holds the worker (workerparked() still tells only of the worker).
void helpworker();
// Runs fn on the worker thread once the current worker's function has returned, before the
// worker counts as ended (so before joinworker or stopworker return): a worker ends its
// helpers here. Called from the worker; fns run in the order given.
void atworkerend(std::function<void()> fn);
void suspendworker();
void resumeworker();
bool workersuspended();
// The worker is blocked inside workergate right now (for tests and for the window's display).
bool workerparked();
// Seconds the workers of the process have spent blocked inside workergate so far.
double parkedseconds();
// A stop has been asked of the current worker.
bool workerstopping();
// The calling thread is the current worker.
bool onworker();
