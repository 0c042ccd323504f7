#include "platform/shell.h"

namespace fennwick {

IShell& DefaultShell() {
  static NullShell shell;
  return shell;
}

}  // namespace fennwick
