// The three buttons of the main dialog: "about KJ", "encode" and "exit".
//
// The encode hands over to the encoder: KJ.ini in the program folder, the decoder library a D2V
// project needs staged there as "DGDecode.dll", and the encoder program started in the program
// folder with no arguments. The front end hides its window and waits for the encoder however
// long it runs; the results come back only as files (the stream and the log).
#include <filesystem>

#include "common/fmtfield.h"
#include "dialogs/dialogs.h"
#include "frontend/settings/settings.h"
#include "frontend/window/front.h"
#include "platform/clock.h"
#include "platform/msgbox.h"
#include "platform/process.h"
#include "platform/queue.h"

namespace {
constexpr int showrestored = 9;  // shown again, restored from an icon too

bool fileexists(const std::string& path) {
  std::error_code ec;
  return !path.empty() && std::filesystem::exists(path, ec);
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
  dlgshowwindow(main, 0);
  std::string why;
  const int status = runprogram(encoderpath, progdir, why);
  dlgshowwindow(main, showrestored);
  if (status < 0) {
    showinfo(" failed to start encoding, can't create process", false);
  } else {
    dlgsetfocus(main, 0);
    showinfo(" encoding finished", false);
    // The encoder's own window and log tell what went wrong; without its window (a silent
    // run) this is the one place a failed run shows.
    if (status != 0)
      showinfo(", ERROR, the encoder ended with exit status " + std::to_string(status) + ", see its log", true);
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
