#pragma once
// The command line of the window.
#include <QString>
#include <QStringList>
#include <optional>
#include <string>

namespace fennwick {

struct WindowOptions {
  std::optional<std::string> port;  // --port PATH, else FENNWICK_PORT
  int screenWidth = 0;              // --screen WxH; 0: the primary screen, full-screen
  int screenHeight = 0;
  QString screenshot;               // --screenshot FILE (hidden)
  QString state;                    // --state FILE (hidden): the window's account, see window_report.h
  bool quitAfterIdentify = false;   // --quit-after-identify (hidden)
  QString program;                  // --program FILE (hidden): Open FILE, then Start, as an operator would
};

enum class ParseResult { Run, Help, Version, Error };

// `args` includes the program name; `environmentPort` is FENNWICK_PORT (none when it is not
// set). On Help, Version and Error `message` holds the text to print.
ParseResult ParseWindowOptions(const QStringList& args, WindowOptions& options, QString& message,
                               const std::optional<std::string>& environmentPort = std::nullopt);

// "800x480" (or "800X480"); each side 1 to 16384.
bool ParseScreenSize(const QString& text, int& width, int& height);

}  // namespace fennwick
