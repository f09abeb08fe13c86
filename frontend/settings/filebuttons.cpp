// The file buttons of the Main, Matrix and Preview/Chapters pages: with the file buttons'
// issue.
#include "frontend/settings/settings.h"

void filebutton(dialogrecord& dlg, int id, int event) {}
