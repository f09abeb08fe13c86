// The encoder's main routine: the window, the step machine, the dialog callbacks, the finish
// countdown and the clean-up at exit.
#include <xmmintrin.h>

#include <algorithm>
#include <atomic>
#include <charconv>
#include <string>

#include "dialogs/dialogs.h"
#include "dialogs/layer.h"
#include "dialogs/window.h"
#include "encoder/coding/streamwriter.h"
#include "encoder/control/control.h"
#include "common/fmtfield.h"
#include "encoder/control/matrixserver.h"
#include "encoder/control/outfile.h"
#include "encoder/control/previewwindow.h"
#include "encoder/control/report.h"
#include "encoder/control/settings.h"
#include "encoder/control/silent.h"
#include "encoder/control/startup.h"
#include "encoder/control/switches.h"
#include "common/texttime.h"
#include "encoder/control/units.h"
#include "encoder/passes/framering.h"
#include "encoder/passes/vbvcheck.h"
#include "platform/clock.h"
#include "platform/msgbox.h"
#include "platform/queue.h"
#include "platform/system.h"
#include "platform/thread.h"
#include "resources/encoder.h"

void clearpreview();

void (*startuphook)(statusrec& status) = initencoder;
bool (*reopenhook)(int pass, std::string& why) = reopenscript;
void (*closehook)() = closeencoder;

namespace {
std::atomic<bool> cleanedup{false};      // files of the run closed, scratch file deleted
std::atomic<bool> finishstarted{false};  // step 98 or 99 reached: the run came to its end
std::atomic<bool> quitposted{false};     // the loop is ending; no more steps
std::atomic<bool> reopenfailed{false};
std::atomic<bool> shutdownfailed{false};
std::atomic<bool> substitutedtold{false};  // the frames the source did not deliver were reported
std::atomic<bool> startstopped{false};     // a stop request ended the start-up

const char* quitquestion = "encoding in progress, quit anyway ?";
const char* quitcaption = "KJ message";

// Closes the run's files and deletes the scratch file, once, after the worker stopped. The new
// stream takes the output's place only when it is whole; else an earlier output stays.
void cleanuprun() {
  if (cleanedup.exchange(true)) return;
  // The scene-change list goes with the stream: kept when it is, else the earlier one stays.
  const bool whole = streamended();
  for (int unit : {unitstream, unitscd}) {
    std::string why;
    if (!outputsettle(whole, why, unit)) {
      errorout("ERROR, " + why);
      if (settings.logfileon) logline(" *** ERROR, " + why);
      errorflag = true;
    }
  }
  closerununits();
  deletescratch();
}

// Frames the source could not deliver make a damaged stream: said once on stderr and in the
// log (while it is still open), with the file and the count.
void reportsubstituted() {
  const int n = substitutedframes;
  if (n <= 0 || substitutedtold.exchange(true)) return;
  std::string text = std::to_string(n) + (n == 1 ? " frame" : " frames") + " of " +
                     trimright(settings.inpath) + " could not be read from the source; " +
                     (n == 1 ? "it was" : "each was") + " coded as the frame before it";
  errorout("ERROR, " + text);
  if (settings.logfileon) logline(" *** ERROR, " + text);
}

// A stop while the run is under way: the log and stderr say so and why.
void reportstop(int reason) {
  if (finishstarted || statusblock.code != 0 || cleanedup) return;
  std::string text = "encoding stopped by the user";
  if (reason == closehangup) text += " (the terminal was closed)";
  if (reason == closepipe) text += " (standard output was closed)";
  if (reason == closequit) text += " (a quit signal)";
  errorout(text);
  if (settings.logfileon) logline(" *** " + text);
}

// Quitting at the user's request (exit button, close request): the worker is stopped and
// joined before its files are closed.
void quitnow(int reason = closeasked) {
  nextstep = 0;
  keeprunning = false;
  clocksleep(100);
  stopworker();
  reportstop(reason);
  reportsubstituted();
  cleanuprun();
  quitposted = true;
  postquit(0);
}

// Reads one integer as a list-directed read would: blanks before it, then a whole number
// ended by a blank, a comma or the end of the text.
bool readint(const std::string& text, int& value) {
  size_t a = text.find_first_not_of(' ');
  if (a == std::string::npos) return false;
  size_t b = text.find_first_of(" ,", a);
  if (b == std::string::npos) b = text.size();
  const char* first = text.data() + a;
  if (*first == '+') first++;
  auto r = std::from_chars(first, text.data() + b, value);
  return r.ec == std::errc() && r.ptr == text.data() + b;
}

void runstep(int step) {
  switch (step) {
    case stepstartup:
      startuphook(statusblock);
      // A close request that came during the start-up (the source's open gives up on it) ends
      // the run as stopped, not as failed.
      startstopped = statusblock.code != 0 && closepending() > 0;
      startworker([] { reportinit(&statusblock); });
      clocksleep(100);
      break;
    case steppass1:
    case steppass2: {
      if (runstate != 0) break;
      joinworker();
      int pass = step == steppass1 ? 1 : 2;
      std::string why;
      if (settings.avsinput && !reopenhook(pass, why)) {
        // The pass is not started: the run ends as after a fatal error. The frame server's
        // own message (or what changed) follows the error on stderr and in the log, and is
        // shown before the error's countdown.
        std::string text = "Avisynth message: invoke environment error - pass " + std::to_string(pass);
        why = oneline(why);
        errorout(text);
        if (!why.empty()) errorout(why);
        if (settings.logfileon) {
          logline(" *** ERROR, " + text);
          if (!why.empty()) logline(" *** " + why);
        }
        if (!why.empty()) errorline(why, 512);
        errorstamp(text);
        reopenfailed = true;
        errorflag = true;
        abortlatched = true;
        nextstep = steperror;
        break;
      }
      startworker([pass] {
        if (pass == 1) pass1thread(&statusblock);
        else pass2thread(&statusblock);
      }, priolowest);
      break;
    }
    case steperror:
    case stepdone:
      if (finishstarted) break;  // the run's end is handled once
      if (step == steperror) {
        keeprunning = false;
        stopworker();
      } else {
        joinworker();
      }
      reportsubstituted();
      cleanuprun();
      finishstarted = true;
      startworker([] { finishthread(&statusblock); });
      break;
    default:
      break;
  }
}

void onbutton(dialogrecord& dlg, int id, int event) {
  switch (id) {
    case 1073:
      shutdownflag = dlggetflag(dlg, 1073);
      break;
    case 30002: {
      std::string caption = trimright(dlggettext(dlg, 30002, 512));
      if (caption == "suspend") {
        dlgputtext(dlg, 30002, "resume");
        suspendworker();
      } else if (caption == "resume") {
        dlgputtext(dlg, 30002, "suspend");
        resumeworker();
      }
      break;
    }
    case 30001:
      if (runstate == 0 && msgbox(quitquestion, quitcaption, mbyesno + mbiconwarning + mbsetforeground) != idyes)
        break;
      quitnow();
      break;
    case 30003:
      msgbox("Ostrel 0.21, an MPEG-2 video encoder for DVD authoring\n\nhome page: https://ostrel.example.org/",
             "Ostrel 021", mbiconinformation + mbsetforeground);
      break;
    default:
      break;
  }
}

void onpreview(dialogrecord& dlg, int id, int event) {
  switch (id) {
    case 1006:
      previewon = false;
      clearpreview();
      break;
    case 1007:
      previewon = true;
      clearpreview();
      break;
    case 1010: {
      int n = dlggetint(dlg, 1010);
      dlgputtext(dlg, 1009, std::to_string(n));
      previewzoom = n;  // before zoomchanged: a drawing that sees the change sees the size
      zoomchanged = true;
      break;
    }
    case 1009: {
      int n = 0;
      if (!readint(dlggettext(dlg, 1009, 512), n)) n = previewzoom;
      n = std::clamp(n, 1, 5);
      dlgputtext(dlg, 1009, std::to_string(n));
      dlgputint(dlg, 1010, n);
      previewzoom = n;
      zoomchanged = true;
      break;
    }
    default:
      break;
  }
}

void onshowbuffer(dialogrecord& dlg, int id, int event) { showbuffer = dlggetflag(dlg, 1075); }

// The shutdown banner at column p (1-based) with the seconds left inside its gap.
std::string shutdownbanner(int p, int left) {
  std::string s(statuslinelength, ' ');
  s.replace((size_t)p - 1, 40, " ---------> shutdown in     s <---------");
  std::string n = std::to_string(left);
  n.insert(0, 3 - std::min<size_t>(3, n.size()), ' ');
  s.replace((size_t)p + 23, 3, n);
  return s;
}
}  // namespace

void finishthread(statusrec*) {
  runstate = 2;
  std::string line = errorflag ? " (  ) encoding terminated on error..." : " (  ) encoding finished...";
  int wait = std::clamp(settings.waitsecs, 0, 99);
  for (int i = 1; i <= wait; i++) {
    int v = wait - i + 1;
    line[2] = v >= 10 ? (char)('0' + v / 10) : ' ';
    line[3] = (char)('0' + v % 10);
    if (showwindow) putstatus(line);
    statuspause(1000);
    if (workerstopping()) return;
  }
  if (shutdownflag) {
    runstate = 2;
    clocksleep(100);
    int p = 1, d = 10;
    bool cancelled = false;
    for (int left = 300; left >= 1; left--) {
      putstatus(shutdownbanner(p, left), true);
      clocksleep(1000);
      if (workerstopping()) return;
      p += d;
      if (p == 101) d = -10;
      else if (p == 1) d = 10;
      if (!shutdownflag) {
        cancelled = true;
        break;
      }
    }
    if (!cancelled) {
      std::string why;
      if (!poweroff(why)) {
        shutdownfailed = true;
        errorout("can't shut down: " + why);
        errorline("can't shut down: " + why);
      }
    }
  }
  quitrun();
}

int winmain(int argc, char** argv) {
  // The plug-in's helper is a copy of this process made before any thread exists.
  matrixserverfork();
  // Flush-to-zero for the vector arithmetic; the start times for the passes' displays.
  _mm_setcsr(_mm_getcsr() | 0x8000);
  cpustart = cputime();
  clockstart = elapsed(0.0f);
  closeonsignals();
  clearqueue();

  previewon = false;
  zoomchanged = false;
  showbuffer = false;
  errorflag = false;
  abortlatched = false;
  cleanedup = false;
  finishstarted = false;
  quitposted = false;
  reopenfailed = false;
  shutdownfailed = false;
  substitutedtold = false;
  startstopped = false;
  substitutedframes = 0;
  settings.avsinput = false;
  settings.d2vinput = false;
  previewzoom = 1;

  dlgsetresources(encoderresources, encoderresourcecount);
  dlgseticons(encodericons, encodericoncount);
  if (!dlgload(101, maindialog)) {
    errorout("dialog 101 is missing");
    return exitstartup;
  }
  dialogrecord& dlg = *maindialog;
  for (int id : {30002, 30001, 30003, 1073}) dlgonevent(dlg, id, onbutton);
  dlgputflag(dlg, 1073, true, ixenabled);
  dlgputflag(dlg, 1073, false);
  for (int id : {1006, 1007, 1009, 1010}) dlgonevent(dlg, id, onpreview);
  dlgputtext(dlg, 1009, "1");
  dlgputint(dlg, 1010, 1, ixmin);
  dlgputint(dlg, 1010, 5, ixmax);
  dlgputint(dlg, 1010, 1, ixpos);
  dlgputflag(dlg, 1006, true);
  dlgonevent(dlg, 1075, onshowbuffer);
  dlgputflag(dlg, 1075, true, ixenabled);
  dlgputflag(dlg, 1075, false);
  dlgsetheadlessprogress(headlessprogress);

  // The command line: its words are kept as texts here and converted in the start-up; the
  // silent probe needs the "-ini" word.
  getargs(argc, argv);
  showwindow = inisilent();
  // A window backend (when a display exists, dlgheadless() false) installs itself with
  // dlgsetbackend, setqueuepump and setmsgboxhook before this point; until then the layer
  // runs headless.
  if (windowstart()) previewonwindow(dlg);
  dlgshow(dlg, showwindow ? 1 : 0);
  if (showwindow) dlgseticon(dlg, 103);

  statusblock = statusrec{};
  keeprunning = true;
  runstate = 0;
  nextstep = stepstartup;
  postwake();

  message m;
  while (getmsg(m)) {
    for (int s; !quitposted && (s = nextstep.exchange(0)) != 0;) runstep(s);
    if (runstate == 1 && !quitposted) {
      runstate = 2;
      clocksleep(100);
      keeprunning = false;
      stopworker();
      quitposted = true;
      postquit(0);
    }
    if (m.kind == msgclose && !quitposted) {
      // Without a terminal or a reader of standard output nobody can answer the question;
      // after a failed start-up nothing is in progress.
      // Once the last pass is done (step 99) nothing is in progress either.
      if (runstate != 0 || finishstarted || m.code != closeasked || statusblock.code != 0 ||
          msgbox(quitquestion, quitcaption, mbyesno + mbiconwarning + mbsetforeground) == idyes)
        quitnow(m.code);
    }
    dlgdispatch(m);
  }

  // After the loop: no worker is left; the files are closed once; then the window and what
  // the start-up took.
  keeprunning = false;
  stopworker();
  cleanuprun();
  dlgclose(maindialog);
  closehook();
  matrixserverend();

  int status = exitok;
  if (startstopped) status = exitstopped;
  else if (statusblock.code != 0) status = exitstartup;
  else if (matrixserverfailed()) status = exitplugin;
  else if (errorflag || reopenfailed) status = exitrunerror;
  else if (!finishstarted) status = exitstopped;
  else if (substitutedframes > 0) status = exitdamaged;
  else if (gopsoverlimit > 0) status = exitoverlimit;
  else if (shutdownfailed) status = exitshutdown;
  exitstatus = status;
  return status;
}
