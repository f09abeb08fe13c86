#include "encoder/control/silent.h"

#include <cstring>
#include <fstream>
#include <string>

#include "encoder/control/settings.h"
#include "encoder/control/switches.h"
#include "common/texttime.h"
#include "platform/system.h"

bool inisilent() {
  // The "-ini" file as given (getargs keeps its case), else KJ.ini in the program folder.
  std::string file = switchgiven(slotini) ? switchvalue(slotini) : programdir() + "KJ.ini";
  // A FIFO or a device would block or never end; the start-up refuses them with its error.
  if (!isregularfile(file)) return true;
  std::ifstream f(file, std::ios::binary);
  if (!f) return true;
  std::string line;
  for (bool first = true; std::getline(f, line); first = false) {
    if (first && line.compare(0, 3, "\xEF\xBB\xBF") == 0) line.erase(0, 3);  // byte-order mark
    if (line.size() > 512) line.resize(512);
    uppercase(line);
    if (line.compare(0, 7, "*SILENT") == 0) return false;
  }
  return true;
}
