// The three buttons of the main dialog: "about KJ", "encode" and "exit".
//
// The encode hands over to the encoder: KJ.ini in the program folder, the decoder library a D2V
// project needs staged there as "DGDecode.dll", and the encoder program started in the program
// folder with no arguments. The front end hides its window and waits for the encoder however
// long it runs; the results come back as files (the stream and the log), and as the exit status
// and the encoder's lines on standard error, which tell the status line why a run failed.
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "common/fmtfield.h"
#include "dialogs/dialogs.h"
#include "frontend/settings/settings.h"
#include "frontend/window/front.h"
#include "platform/clock.h"
#include "platform/msgbox.h"
#include "platform/process.h"
#include "platform/queue.h"
#include "platform/system.h"

namespace {
constexpr int showrestored = 9;  // shown again, restored from an icon too

bool fileexists(const std::string& path) {
  std::error_code ec;
  return !path.empty() && std::filesystem::exists(path, ec);
}

// A file as it stands: whether the run wrote it is told by comparing the states before and
// after (a start-up failure leaves an earlier log as it was, and a run's log may replace it).
struct filestate {
  bool exists = false;
  fileid id;
  uintmax_t size = 0;
  std::filesystem::file_time_type time;
  explicit filestate(const std::string& path) {
    std::error_code ec;
    if (path.empty() || !fileidof(path, id)) return;
    size = std::filesystem::file_size(path, ec);
    time = std::filesystem::last_write_time(path, ec);
    exists = !ec;
  }
  bool differs(const filestate& o) const {
    return exists != o.exists || !(id == o.id) || size != o.size || time != o.time;
  }
};

// What the encoder says on standard error. Every line goes on to ours, so a terminal shows them
// as before; its own lines ("ostrel: ...") that are no warning, from the first on, are the
// reason a failed run gives (the error and the line that names its file and cause).
struct encoderlines {
  std::vector<std::string> said;
  void take(const std::string& line) {
    std::fputs((line + "\n").c_str(), stderr);
    static const std::string mark = "ostrel: ";
    if (line.compare(0, mark.size(), mark) != 0) return;
    std::string text = trimright(line.substr(mark.size()));
    if (text.empty() || text.rfind("WARNING", 0) == 0 || text.rfind("INFO", 0) == 0) return;
    said.push_back(text);
  }
  // The lines joined by ", ", without the "ERROR, " the status line says already.
  std::string reason() const {
    std::string r;
    for (const std::string& l : said) r += (r.empty() ? "" : ", ") + l;
    if (r.rfind("ERROR, ", 0) == 0) r.erase(0, 7);
    return r;
  }
};

// The status line after a run that did not end well: the exit status, the encoder's reason and,
// only when this run wrote it, its log; the reason is cut where the line would overflow.
std::string failedrun(int status, const std::string& reason, bool logwritten) {
  std::string head = " encoding finished, ERROR, the encoder ended with exit status " + std::to_string(status);
  const std::string tail = logwritten ? ", see its log" : "";
  std::string why = reason.empty() ? "" : ": " + reason;
  if (head.size() + why.size() + tail.size() > statuslength)
    why.resize(statuslength > head.size() + tail.size() ? statuslength - head.size() - tail.size() : 0);
  return head + why + tail;
}

void encode(dialogrecord& main) {
  if (scanrunning) {
    showinfo(" can't start encode while scene change detection scan is running", false);
    return;
  }
  if (fileexists(asencoder(trimright(outputpath))) &&
      msgbox("m2v output file already exists, OVERWRITE ?", "KJ message", mbyesno + mbiconwarning + mbsetforeground) ==
          idno) {
    showinfo(" please rename outputfile", false);
    return;
  }
  // A D2V project's library; a failed copy is not reported, the encode goes on (the encoder
  // then says whether it has a decoder library).
  if (d2vinput && d2vversion > 0 && !d2vlibpath.empty()) {
    stagedecoder(d2vlibpath);
    clocksleep(500);
  }
  saveini(1);
  // Every refusal from here on takes the staged library away again.
  if (!settingsvalid) {
    showinfo(", can't start encode...", true);
    removestageddecoder();
    return;
  }
  std::error_code ec;
  if (!std::filesystem::is_regular_file(encoderpath, ec)) {
    showinfo(" encoder " + trimright(encoderpath) + " NOT found", false);
    removestageddecoder();
    return;
  }
  // The window is hidden while the encoder runs; this thread does nothing else meanwhile.
  const std::string log = iniseen[keylogfile] ? asencoder(trimright(logpath)) : "";
  const filestate logbefore(log);
  encoderlines said;
  dlgshowwindow(main, 0);
  std::string why;
  const int status = runprogram(encoderpath, progdir, why, [&](const std::string& l) { said.take(l); });
  dlgshowwindow(main, showrestored);
  if (status < 0) {
    showinfo(" failed to start encoding, can't create process", false);
  } else {
    dlgsetfocus(main, 0);
    // A silent run has no window of its own: the status line is where a failed run says why.
    if (status == 0) showinfo(" encoding finished", false);
    else showinfo(failedrun(status, said.reason(), filestate(log).differs(logbefore)), false);
  }
  removestageddecoder();
}
}  // namespace

void mainbutton(dialogrecord& dlg, int id, int event) {
  switch (id) {
    case 1011:
      msgbox("Ostrelfront 0.21, the front end of the Ostrel MPEG-2 encoder for DVD authoring",
             "Ostrelfront 021", mbok + mbiconinformation + mbsetforeground);
      break;
    case 1013:
      // A running scan is asked to stop and waited for before the program ends.
      stopscan();
      postquit(0);
      break;
    case 1012:
      encode(dlg);
      break;
    default:
      break;
  }
}
