// Placeholder main routine until the step machine lands.
#include <cstdio>

int winmain(int argc, char** argv) {
  std::puts(" Ostrel 0.21");
  return 0;
}
