#include "platform/shell.h"

IShell& DefaultShell() {
  static NullShell shell;
  return shell;
}
