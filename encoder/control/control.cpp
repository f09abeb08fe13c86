#include "encoder/control/control.h"

std::atomic<int> nextstep{0};
std::atomic<int> runstate{0};
std::atomic<bool> errorflag{false};
std::atomic<bool> showwindow{true};
std::atomic<bool> keeprunning{true};
std::atomic<bool> shutdownflag{false};
std::atomic<bool> showbuffer{false};
std::atomic<bool> previewon{false};
std::atomic<int> previewzoom{1};
std::atomic<bool> zoomchanged{false};
statusrec statusblock;
std::string statusline(statuslinelength, ' ');
dialogrecord* maindialog = nullptr;
