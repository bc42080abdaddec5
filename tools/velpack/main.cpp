// velpack's entry point. On Windows the arguments arrive in the ANSI code
// page (932 for a Japanese system), which is what the pack's names hold.
#include "velpack.h"

int main(int argc, char** argv) { return VelpackMain(argc, argv); }
