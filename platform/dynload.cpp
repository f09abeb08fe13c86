#include "platform/dynload.h"

#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstring>
#include <mutex>
#include <set>
#include <string>

int (*dynreleaser)(void* handle) = dlclose;

namespace {

std::mutex dynlock;
thread_local std::string lasterror;

std::string loadererror() {
  const char* e = dlerror();
  return e ? e : "unknown reason";
}
// Handles handed out by dynload and not yet released; dlopen counts references and gives the
// same handle for a second load of one file, so each load is one entry.
std::multiset<void*> dynhandles;

// The folder of the running program file, with a trailing '/'; empty when unknown.
std::string dynprogdir() {
  char buf[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return {};
  std::string p(buf, (size_t)n);
  size_t slash = p.rfind('/');
  return slash == std::string::npos ? std::string() : p.substr(0, slash + 1);
}

bool isfile(const std::string& p) {
  struct stat st;
  return stat(p.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

}  // namespace

void* dynload(const char* name) {
  lasterror.clear();
  if (!name || !*name) {
    lasterror = "no library name";
    return nullptr;
  }
  void* h = nullptr;
  if (std::strchr(name, '/')) {
    h = dlopen(name, RTLD_NOW | RTLD_LOCAL);
    if (!h) lasterror = loadererror();
  } else {
    std::string local = dynprogdir() + name;
    if (isfile(local)) {
      h = dlopen(local.c_str(), RTLD_NOW | RTLD_LOCAL);
      if (!h) lasterror = loadererror();
    }
    if (!h) {
      h = dlopen(name, RTLD_NOW | RTLD_LOCAL);
      if (h) lasterror.clear();
      else if (lasterror.empty()) lasterror = loadererror();
    }
  }
  if (h) {
    std::lock_guard<std::mutex> g(dynlock);
    dynhandles.insert(h);
  }
  return h;
}

std::string dynerror() { return lasterror; }

bool dynexists(const char* name) {
  if (!name || !*name) return false;
  return std::strchr(name, '/') ? isfile(name) : isfile(dynprogdir() + name);
}

void* dynentry(void* module, const char* name) {
  if (!module || !name) return nullptr;
  return dlsym(module, name);
}

bool dynfree(void* module) {
  std::lock_guard<std::mutex> g(dynlock);
  auto it = dynhandles.find(module);
  if (!module || it == dynhandles.end()) return false;
  if (dynreleaser(module) != 0) return false;
  dynhandles.erase(it);  // one entry only
  return true;
}
