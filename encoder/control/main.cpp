// Entry of the encoder program: everything happens in winmain.
int winmain(int argc, char** argv);

int main(int argc, char** argv) { return winmain(argc, argv); }
