#pragma once
// The pseudo-terminal the simulator serves, and the optional symbolic link to it.
#include <string>

namespace fennwick::sim {

struct PtyPair {
  int master = -1;
  int slave = -1;
  std::string slavePath;
};

// Opens a pty whose slave is in raw 8N1 mode with VMIN=0 VTIME=0, master non-blocking.
// Returns an empty string on success, else what went wrong.
std::string OpenRawPty(PtyPair& pty);

// An error text if `path` exists and is not a symbolic link.
std::string CheckLinkPath(const std::string& path);

// Points `path` at the terminal for as long as it lives; removes the link on destruction
// unless someone has replaced it meanwhile.
class SymlinkGuard {
 public:
  SymlinkGuard() = default;
  SymlinkGuard(const SymlinkGuard&) = delete;
  SymlinkGuard& operator=(const SymlinkGuard&) = delete;
  ~SymlinkGuard() { Remove(); }

  std::string Create(const std::string& path, const std::string& target);
  void Remove();

 private:
  std::string path_;
  std::string target_;
};

}  // namespace fennwick::sim
