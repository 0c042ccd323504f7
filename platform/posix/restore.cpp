#include <termios.h>

#include "platform/posix/serial_parts.h"
#include "platform/restore_registry.h"
#include "platform/system_serial.h"

namespace fennwick {

namespace {

struct SavedLine {
  termios settings;
  bool lowLatencySet;
};
using Registry = RestoreRegistry<int, SavedLine>;

// Never destroyed: a signal may come while the program's statics go away.
union Lasting {
  Registry registry;
  Lasting() : registry() {}
  ~Lasting() {}
};
Lasting g_saved;

}  // namespace

namespace posix {

void RememberLine(int fd, const termios& settings, bool lowLatencySet) {
  g_saved.registry.Add(fd, SavedLine{settings, lowLatencySet});
}

void ForgetLine(int fd) { g_saved.registry.Remove(fd); }

}  // namespace posix

void RestoreOpenPortsNow() {
  g_saved.registry.ForEach([](int fd, const SavedLine& saved) {
    ::tcsetattr(fd, TCSANOW, &saved.settings);
    if (saved.lowLatencySet) posix::DropLowLatency(fd);
    posix::Unclaim(fd);
  });
}

}  // namespace fennwick
