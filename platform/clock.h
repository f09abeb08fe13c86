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
