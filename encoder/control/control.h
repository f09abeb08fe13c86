// Control words of the encoder's step machine, shared by the window thread and the one worker.
//
// A worker ends its job with poststep (it stores nextstep, then posts the wake message) or
// quitrun (runstate 1, then the wake message); the main loop reads them only after a message
// arrived. Once an error has asked for step 98 (abortrun), later steps 11, 12 and 99 from the
// dying worker are ignored, and so are they once the run is being stopped (keeprunning false).
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
extern std::atomic<bool> abortlatched; // step 98 was asked for; later 11, 12, 99 are ignored

// The start-up result: the code (0 success, else a start-up error code) and, for codes 3 and
// 265, the message text that goes with it (the frame server's message, the settings reader's
// context text).
struct statusrec {
  int code = 0;
  std::string message;
  // For a failure whose fixed text hides the cause: a line naming the file and the reason
  // (shown after the code's text, on stderr and in the status line); empty otherwise.
  std::string detail;
};
extern statusrec statusblock;

// The 512-character status text shown in control 1053. Write it only through putstatus.
constexpr int statuslinelength = 512;
extern std::string statusline;

// Dialog 101, the encoder's window (mainwindow); every writer tests showwindow first.
extern dialogrecord* maindialog;

// Ends a worker's job: stores step into nextstep (unless refused, see above) and posts the
// wake message.
void poststep(int step);
// A fatal error while coding (write, read, allocation): errorflag, step 98, wake message.
void abortrun();
// Asks the loop to quit: runstate 1, wake message.
void quitrun();
// statusline := text (cut or blank-padded to 512) and, when showwindow (or always), shown
// trimmed in control 1053. Safe from any thread.
void putstatus(const std::string& text, bool always = false);
// The current status line (512 characters).
std::string getstatusline();
// Keeps a status text up for ms milliseconds for the user to read in the window (a countdown
// step of the end or of an error, an error line, a warning). Without a window the text is
// printed and stays where it is, so nothing waits; a worker still passes its gate.
void statuspause(int ms);
// The progress that the headless output prints for dialog 101: while the status line holds
// " pass P, picture n of N", that text, the percentage and, once the pass has shown them, the
// current frame rate and the time left (" pass 1, picture 40 of 250, 16%, 310 fps, 0:00:01
// left"); an empty text while it holds anything else (a message).
std::string headlessprogress(dialogrecord& dlg);

// How the program ended (the process exit status; the front end ignores it, scripts use it).
enum exitstatuses : int {
  exitok = 0,        // the run ended well
  exitstartup = 1,   // the start-up failed (a code in statusblock)
  exitrunerror = 2,  // the run ended on an error (step 98, a failed re-open of the source)
  exitstopped = 3,   // the user quit before the run was done
  exitshutdown = 4,  // the run ended well but the asked-for shutdown failed
  exitdamaged = 5,   // the run ended, but frames the source could not deliver were replaced
  exitoverlimit = 6, // the stream was written over its declared maximum bitrate or VBV buffer
  exitplugin = 7,    // the adaptive-matrix plug-in crashed or hung (the stream ends at a GOP)
};
extern std::atomic<int> exitstatus;

// The program's main routine: builds the window, runs the step machine, cleans up.
int winmain(int argc, char** argv);

// Thread entries of the passes (started at steps 11 and 12 at the lowest priority).
void pass1thread(statusrec* status);
void pass2thread(statusrec* status);
// The last worker: final text, countdown (one second a step in a window, at once without
// one), optional shutdown (300 seconds everywhere: the user's time to cancel), then quit.
void finishthread(statusrec* status);
