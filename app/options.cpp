#include "app/options.h"

#include <QCommandLineParser>
#include <QRegularExpression>

namespace fennwick {

namespace {
// Sizes a screen can have: each side up to 8192, and no more pixels than an 8K screen
// (7680 x 4320), so that the window's buffers stay within what a display would need.
constexpr int kMaxSide = 8192;
constexpr long long kMaxPixels = 7680LL * 4320LL;
}  // namespace

bool ParseScreenSize(const QString& text, int& width, int& height) {
  static const QRegularExpression pattern(QStringLiteral("^(\\d{1,5})[xX](\\d{1,5})$"));
  const auto m = pattern.match(text.trimmed());
  if (!m.hasMatch()) return false;
  const int w = m.captured(1).toInt();
  const int h = m.captured(2).toInt();
  if (w < 1 || h < 1 || w > kMaxSide || h > kMaxSide) return false;
  if (static_cast<long long>(w) * h > kMaxPixels) return false;
  width = w;
  height = h;
  return true;
}

ParseResult ParseWindowOptions(const QStringList& args, WindowOptions& options, QString& message,
                               const std::optional<std::string>& environmentPort) {
  QCommandLineParser parser;
  parser.setApplicationDescription(QStringLiteral("Updates the MCU's firmware from an S19 file."));
  const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")}, QStringLiteral("Show this help."));
  const QCommandLineOption version(QStringLiteral("version"), QStringLiteral("Show the version."));
  const QCommandLineOption port(QStringLiteral("port"),
                                QStringLiteral("Serial device of the MCU, instead of the one COM2: maps to."),
                                QStringLiteral("PATH"));
  const QCommandLineOption screen(QStringLiteral("screen"),
                                  QStringLiteral("Run in a WxH window laid out as on a screen of that size "
                                                 "(default: the whole primary screen)."),
                                  QStringLiteral("WxH"));
  QCommandLineOption screenshot(QStringLiteral("screenshot"), QStringLiteral("Save a picture of the window."),
                                QStringLiteral("FILE"));
  screenshot.setFlags(QCommandLineOption::HiddenFromHelp);
  QCommandLineOption state(QStringLiteral("state"), QStringLiteral("Write the window's layout, state and log."),
                           QStringLiteral("FILE"));
  state.setFlags(QCommandLineOption::HiddenFromHelp);
  QCommandLineOption quit(QStringLiteral("quit-after-identify"), QStringLiteral("End after identification."));
  quit.setFlags(QCommandLineOption::HiddenFromHelp);
  QCommandLineOption program(QStringLiteral("program"),
                             QStringLiteral("After the identification, open FILE and start it as the operator would."),
                             QStringLiteral("FILE"));
  program.setFlags(QCommandLineOption::HiddenFromHelp);
  parser.addOptions({help, version, port, screen, screenshot, state, quit, program});

  if (!parser.parse(args)) {
    message = parser.errorText();
    return ParseResult::Error;
  }
  if (parser.isSet(help)) {
    // Without an application object the parser cannot know the program's name.
    message = parser.helpText().replace(QStringLiteral("<executable_name>"), QStringLiteral("fennwick"));
    return ParseResult::Help;
  }
  if (parser.isSet(version)) {
    message = QStringLiteral("fennwick " FENNWICK_VERSION);
    return ParseResult::Version;
  }
  if (!parser.positionalArguments().isEmpty()) {
    message = QStringLiteral("unexpected argument '%1'").arg(parser.positionalArguments().first());
    return ParseResult::Error;
  }
  if (parser.isSet(port)) {
    const QString path = parser.value(port);
    if (path.isEmpty()) {
      message = QStringLiteral("--port needs a device path");
      return ParseResult::Error;
    }
    options.port = path.toStdString();
  } else if (environmentPort) {
    // An empty value (a drop-in left half-edited) would fall back to COM2: and drive a port
    // that nobody named.
    if (environmentPort->empty()) {
      message = QStringLiteral("FENNWICK_PORT is set but empty; name a port or unset it");
      return ParseResult::Error;
    }
    options.port = environmentPort;
  }
  if (parser.isSet(screen) &&
      !ParseScreenSize(parser.value(screen), options.screenWidth, options.screenHeight)) {
    message = QStringLiteral("--screen wants WIDTHxHEIGHT, each 1 to %1 and at most 7680x4320 pixels in all, "
                             "e.g. 800x480; got '%2'")
                  .arg(kMaxSide)
                  .arg(parser.value(screen));
    return ParseResult::Error;
  }
  options.screenshot = parser.value(screenshot);
  options.state = parser.value(state);
  options.quitAfterIdentify = parser.isSet(quit);
  options.program = parser.value(program);
  return ParseResult::Run;
}

}  // namespace fennwick
