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
  std::ifstream f(file, std::ios::binary);
  if (!f) return true;
  std::string line;
  while (std::getline(f, line)) {
    if (line.size() > 512) line.resize(512);
    uppercase(line);
    if (line.compare(0, 7, "*SILENT") == 0) return false;
  }
  return true;
}
