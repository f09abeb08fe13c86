// The main loop's message queue: the encoder's stand-in for the window message queue.
//
// Any thread may post; the window thread takes messages in order with getmsg. The kinds are
// the wake message of the step machine (workers post it after storing nextstep or runstate),
// the close request of the window (IDCANCEL: close box, Escape, SIGINT, SIGTERM), a control
// event (raised by a window backend or the test driver, dispatched by the dialog layer on the
// window thread) and quit.
#pragma once

#include <atomic>
#include <string>

// Why a close request came (the code of a msgclose): the user asked (close box, Escape,
// SIGINT, SIGTERM: the loop asks the quit question while encoding), or nobody is left to ask
// (the terminal closed, SIGHUP; the reader of standard output went away, SIGPIPE: the run
// stops without a question).
enum closereasons : int {
  closeasked = 0,
  closehangup = 1,
  closepipe = 2,
  closequit = 3,  // SIGQUIT (Ctrl-\ at a terminal): the run stops without a question
};

enum msgkinds : int {
  msgwake = 1,   // wake the step machine (no arguments)
  msgclose = 2,  // close request of the dialog (IDCANCEL)
  msgevent = 3,  // control event: dialog, control id, event code
  msgquit = 4,   // end the loop; code is the loop's result
};

struct message {
  int kind = 0;
  int dialogid = 0;  // msgevent: the dialog's resource id
  int id = 0;        // msgevent: the control id
  int event = 0;     // msgevent: the event code
  int code = 0;      // msgquit: the result; msgclose: the reason (closereasons)
  void* target = nullptr;  // msgevent: the dialog record the event belongs to
};

void postmsg(const message& m);
void postwake();
void postclose(int reason = closeasked);
// Close requests posted and not yet taken from the queue. Long work on the window thread
// (the start-up's open of the source) watches it to give up early.
const std::atomic<int>& closepending();
void postquit(int code);

// Takes the next message, waiting as long as it takes; false when it is the quit message
// (its code in m.code). While waiting, a window backend's pump runs (see setqueuepump).
bool getmsg(message& m);
// Takes the next message if there is one; never waits.
bool peekmsg(message& m);
// Drops every message (a fresh loop starts with an empty queue).
void clearqueue();

// The seam for a window toolkit: while the loop waits, pump(ms) is called repeatedly instead
// of a plain wait (it should handle the toolkit's events for at most ms milliseconds and
// return early when woken); wake() is called after every post from any thread (for example to
// wake the toolkit's loop). Pass null for both to go back to the plain wait.
void setqueuepump(void (*pump)(int ms), void (*wake)());
