// Control words of the encoder's step machine, shared by the window thread and the one worker.
//
// A worker ends its job by storing nextstep (or runstate) and then posting the wake message;
// the main loop reads them only after a message arrived. Once an error has asked for step 98,
// later steps from the dying worker are ignored.
#pragma once

#include <atomic>
#include <string>

struct dialogrecord;

enum steps : int {
  stepnone = 0,
  stepstartup = 10,
  steppass1 = 11,
  steppass2 = 12,
  steperror = 98,
  stepdone = 99,
};

extern std::atomic<int> nextstep;      // next step of the loop (see steps)
extern std::atomic<int> runstate;      // 0 running, 1 quit now, 2 finishing
extern std::atomic<bool> errorflag;    // the run ended on an error
extern std::atomic<bool> showwindow;   // the dialog is visible (false under "*SILENT")
extern std::atomic<bool> keeprunning;  // encoding may go on; the exit paths clear it
extern std::atomic<bool> shutdownflag; // shut the computer down after the run (check box 1073)
extern std::atomic<bool> showbuffer;   // show the VBV fullness (check box 1075)
extern std::atomic<bool> previewon;    // draw the preview picture
extern std::atomic<int> previewzoom;   // preview size 1..5
extern std::atomic<bool> zoomchanged;  // the next preview drawing clears the area first

// The start-up result: the code (0 success, else a start-up error code) and, for codes 3 and
// 265, the message text that goes with it.
struct statusrec {
  int code = 0;
  std::string message;
};
extern statusrec statusblock;

// The 512-character status text shown in control 1053.
constexpr int statuslinelength = 512;
extern std::string statusline;

// Dialog 101, the encoder's window (mainwindow); every writer tests showwindow first.
extern dialogrecord* maindialog;
