// fennwick-cli: identify, examine and program an MCU from the command line.
#include "cli/command_line.h"

namespace fennwick {

}  // namespace fennwick

using namespace fennwick;

int main(int argc, char** argv) { return RunCommandLine(argc, argv); }
