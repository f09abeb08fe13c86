// Test stand-in for the one dialog call the switch conversion makes: it records every text
// put, in order, so tests can read what the window would show.
#include "dialogs/dialogs.h"
#include "tests/settings/settingsfixture.h"

std::vector<std::pair<int, std::string>> recordedputs;

void dlgputtext(dialogrecord& dlg, int id, const std::string& text, int index) {
  recordedputs.emplace_back(id, text);
}
