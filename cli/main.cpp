// fennwick-cli: identify, examine and program an MCU from the command line.
#include "cli/options/command_line.h"

int main(int argc, char** argv) { return fennwick::RunCommandLine(argc, argv); }
