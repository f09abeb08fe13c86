// Entry of the encoder program: everything happens in winmain, unless the command line asks for
// the usage text or the release (printed on stdout, exit 0, no window, no settings file read).
// The file carries its version.
#include <cstdio>

#include "common/fileversion.h"
#include "encoder/control/switches.h"
#include "encoder/control/usage.h"

int winmain(int argc, char** argv);

int main(int argc, char** argv) {
  if (int asked = helpasked(argc, argv)) {
    const std::string text = asked == 1 ? usagetext() : versiontext();
    return std::fputs(text.c_str(), stdout) < 0 || std::fflush(stdout) != 0 ? 1 : 0;
  }
  return winmain(argc, argv);
}
