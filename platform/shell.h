#pragma once
// The device's shell: starting its shell program and hiding its task bar while the
// full-screen window runs. Linux has no such shell, so the default implementation does
// nothing visible; tests record the calls with a fake.
#include <cstdint>
#include <string>

namespace fennwick {

using WindowHandle = std::intptr_t;  // 0 names no window
constexpr WindowHandle kNoWindow = 0;

constexpr uint32_t kSeeMaskNoCloseProcess = 0x00000040;
constexpr uint32_t kSeeMaskFlagNoUi = 0x00000400;
constexpr int kSwHide = 0;
constexpr int kSwShow = 5;

// A request to open a program through the shell. Fields not used are empty or zero.
struct ShellExecuteRequest {
  uint32_t mask = 0;
  std::u16string verb;
  std::u16string file;
  std::u16string parameters;
  std::u16string directory;
  int show = kSwHide;
};

class IShell {
 public:
  virtual ~IShell() = default;
  virtual bool Execute(const ShellExecuteRequest& request) = 0;
  // The top-level window of a class, no window name given; kNoWindow when there is none.
  virtual WindowHandle FindWindowByClass(const std::u16string& className) = 0;
  virtual bool IsWindow(WindowHandle window) = 0;
  virtual void ShowWindow(WindowHandle window, int command) = 0;
};

// Starts nothing and finds no window, so nothing is hidden or shown.
class NullShell final : public IShell {
 public:
  bool Execute(const ShellExecuteRequest&) override { return false; }
  WindowHandle FindWindowByClass(const std::u16string&) override { return kNoWindow; }
  bool IsWindow(WindowHandle) override { return false; }
  void ShowWindow(WindowHandle, int) override {}
};

IShell& DefaultShell();

}  // namespace fennwick
