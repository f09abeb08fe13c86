#include "encoder/control/matrixserver.h"

#include <dlfcn.h>

#include <atomic>
#include <cstring>
#include <mutex>

#include "common/fmtfield.h"
#include "encoder/control/control.h"
#include "encoder/control/report.h"
#include "encoder/control/settings.h"
#include "encoder/control/units.h"
#include "platform/dynload.h"
#include "platform/helper.h"
#include "platform/thread.h"

namespace {

constexpr int calllimitms = 30000;  // a plug-in call that takes longer hangs
constexpr int loadlimitms = 60000;  // loading the library (its constructors) likewise

enum : int32_t { askload = 1, askcall = 2 };

// One call: the GOP's class and mean luma, then the two matrices (64 weights each, raster
// order); the answer is the same record as the plug-in left it.
struct callrecord {
  int32_t gopclass;
  int32_t meanluma;
  int16_t intra[64];
  int16_t nonintra[64];
};

helperproc server;
bool forked = false;
std::mutex calllock;
std::atomic<bool> failed{false};
bool told = false;

// ---- the helper's side ----

using entrytype = void (*)(int32_t*, int32_t*, int16_t*, int16_t*);

bool sendtext(int out, const std::string& text) {
  const int32_t n = int32_t(text.size());
  return fdwriteall(out, &n, sizeof n) && fdwriteall(out, text.data(), text.size());
}

int serve(int in, int out) {
  entrytype entry = nullptr;
  for (;;) {
    int32_t ask = 0;
    if (!fdreadall(in, &ask, sizeof ask)) return 0;  // the encoder is done
    if (ask == askload) {
      int32_t code = 0;
      std::string text;
      void* module = dynload("matrix.dll");
      if (!module) {
        code = 600;
        if (dynexists("matrix.dll")) text = "matrix.dll is there but does not load: " + dynerror();
      } else if (!(entry = reinterpret_cast<entrytype>(dynentry(module, "EXTMATRIX")))) {
        code = 601;
      } else {
        Dl_info info{};
        if (dladdr(reinterpret_cast<void*>(entry), &info) && info.dli_fname) text = info.dli_fname;
      }
      if (!fdwriteall(out, &code, sizeof code) || !sendtext(out, text)) return 0;
    } else if (ask == askcall && entry) {
      callrecord r;
      if (!fdreadall(in, &r, sizeof r)) return 0;
      entry(&r.gopclass, &r.meanluma, r.intra, r.nonintra);
      if (!fdwriteall(out, &r, sizeof r)) return 0;
    } else {
      return 2;
    }
  }
}

// ---- the encoder's side ----

bool stopping() { return !keeprunning || workerstopping(); }

// The helper did not answer: a stop ends it quietly, a crash or a hang is the run's error.
void lost(int result, const std::string& why) {
  helperend(server, true);
  if (result == helperstopped || told) return;
  told = true;
  failed = true;
  const std::string text = "the adaptive matrix plug-in matrix.dll failed in EXTMATRIX: " + why;
  if (settings.logfileon) logline(" *** ERROR, " + text + ", aborting...");
  errorout("ERROR, " + text + ", aborting...");
  errorline(text);
  abortrun();
}

}  // namespace

void matrixserverfork() {
  if (forked) return;
  forked = helperstart(server, serve);
}

bool matrixserverforked() { return forked; }

int matrixserverload(std::string& why, std::string& path) {
  why.clear();
  path.clear();
  const int32_t ask = askload;
  int32_t code = 600;
  int32_t n = 0;
  std::string text;
  if (server.pid <= 0 || !fdwriteall(server.tohelper, &ask, sizeof ask)) return 600;
  std::string how;
  int r = helperanswer(server, &code, sizeof code, nullptr, loadlimitms, how);
  if (r == helperok) r = helperanswer(server, &n, sizeof n, nullptr, loadlimitms, how);
  if (r == helperok && n >= 0 && n < 65536) {
    text.resize(size_t(n));
    r = helperanswer(server, text.data(), text.size(), nullptr, loadlimitms, how);
  }
  if (r != helperok) {
    helperend(server, true);
    why = "matrix.dll did not load: " + how;
    return 600;
  }
  if (code == 0) path = text;
  else why = text;
  return code;
}

void matrixservercall(int32_t* gopclass, int32_t* meanluma, int16_t* intra, int16_t* nonintra) {
  std::lock_guard<std::mutex> g(calllock);
  if (server.pid <= 0 || stopping()) return;
  callrecord r;
  r.gopclass = *gopclass;
  r.meanluma = *meanluma;
  std::memcpy(r.intra, intra, sizeof r.intra);
  std::memcpy(r.nonintra, nonintra, sizeof r.nonintra);
  const int32_t ask = askcall;
  std::string why;
  int result = helperok;
  // A helper that is gone fails the writes, and its end of the pipe then says how it ended.
  if (fdwriteall(server.tohelper, &ask, sizeof ask)) fdwriteall(server.tohelper, &r, sizeof r);
  result = helperanswer(server, &r, sizeof r, stopping, calllimitms, why);
  if (result != helperok) {
    lost(result, why);
    return;
  }
  *gopclass = r.gopclass;
  *meanluma = r.meanluma;
  std::memcpy(intra, r.intra, sizeof r.intra);
  std::memcpy(nonintra, r.nonintra, sizeof r.nonintra);
}

bool matrixserverfailed() { return failed; }

void matrixserverend() {
  std::lock_guard<std::mutex> g(calllock);
  helperend(server, server.pid > 0 && told);
  forked = false;
}
