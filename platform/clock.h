// The one clock of the programs: sleeps, the time of day and the process CPU time.
#pragma once

// Sleeps ms milliseconds times the time scale (environment OSTREL_TIMESCALE, default 1; tests
// run with 0, so countdowns keep their order of texts without the time). On the worker thread
// a sleep also passes the pause gate and ends early when the worker is asked to stop.
void clocksleep(int ms);
// Overrides the time scale (a negative value goes back to the environment's).
void setclockscale(double scale);
double clockscale();
// Local time of day in seconds since midnight, milliseconds included (0 .. 86,399.999).
double timeofday();
// CPU seconds used by the process so far (user + system, all threads).
double processcpu();
// Seconds of work so far: a monotonic wall clock less the time the worker spent suspended at
// the pause gate. The passes time themselves with it: with one thread it runs with the
// process's CPU time (which suspension does not advance either); with several coding threads
// the CPU time adds up the threads and no longer tells how long a pass took.
double workseconds();
