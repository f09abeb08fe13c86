// Fatal coding errors of the picture layer (a bit buffer that cannot grow, an impossible motion
// vector). The coders carry on with the picture without writing outside any buffer; the pass
// code turns the error into the abort step (98) through the hook, or by testing codingfailed()
// after each picture.
#pragma once

#include <string>

// Called once, with the text of the first error of the run, on the pass thread.
using codingerrorhook = void (*)(const char* text);
void setcodingerrorhook(codingerrorhook hook);

// Records the error (the first text is kept) and calls the hook on the first one.
void codingerror(const char* text);
bool codingfailed();
std::string codingerrortext();
// Forgets a recorded error (tests, a new run).
void clearcodingerror();
