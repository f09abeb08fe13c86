// Message boxes.
//
// Headless (the only kind until a window backend installs its own): the caption and the text
// go to stderr as one line and the default answer comes back at once. The default answer is
// IDYES for a yes/no box and IDOK otherwise; environment OSTREL_MSGBOX_ANSWER ("yes", "no",
// "ok" or a number) or setmsgboxanswer overrides it.
#pragma once

#include <functional>
#include <string>

enum msgboxcodes : int {
  mbok = 0x0,
  mbyesno = 0x4,
  mbiconwarning = 0x30,
  mbiconinformation = 0x40,
  mbsetforeground = 0x10000,
  idok = 1,
  idcancel = 2,
  idyes = 6,
  idno = 7,
};

// Shows the box; the result is the button chosen (idok, idyes, idno).
int msgbox(const std::string& text, const std::string& caption, int flags);
// Forces the headless answer (0 goes back to the default).
void setmsgboxanswer(int answer);
// Replaces the box altogether (a window backend or a test); an empty function restores the
// headless box. The hook gets the same arguments and returns the answer.
void setmsgboxhook(std::function<int(const std::string&, const std::string&, int)> hook);
