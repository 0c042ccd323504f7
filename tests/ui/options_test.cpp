// The window's command line.
#include <gtest/gtest.h>

#include "app/options.h"

namespace fennwick {

namespace {

TEST(WindowOptions, ScreenSizes) {
  struct Case {
    const char* text;
    bool ok;
    int w, h;
  };
  const Case cases[] = {
      {"800x480", true, 800, 480}, {"320X240", true, 320, 240}, {"1x1", true, 1, 1},
      {"7680x4320", true, 7680, 4320}, {"8192x1000", true, 8192, 1000}, {"8192x8192", false, 0, 0},
      {"16384x16384", false, 0, 0}, {"8193x100", false, 0, 0}, {"0x480", false, 0, 0}, {"800x0", false, 0, 0},
      {"-800x480", false, 0, 0}, {"800x", false, 0, 0}, {"x480", false, 0, 0},
      {"800*480", false, 0, 0}, {"99999999999x1", false, 0, 0},
      {"", false, 0, 0}, {"800x480x2", false, 0, 0},
  };
  for (const auto& c : cases) {
    int w = 0, h = 0;
    EXPECT_EQ(ParseScreenSize(QString::fromLatin1(c.text), w, h), c.ok) << c.text;
    if (c.ok) {
      EXPECT_EQ(w, c.w) << c.text;
      EXPECT_EQ(h, c.h) << c.text;
    }
  }
}

TEST(WindowOptions, CommandLines) {
  struct Case {
    QStringList args;
    ParseResult result;
  };
  const Case cases[] = {
      {{"fennwick"}, ParseResult::Run},
      {{"fennwick", "--port", "/dev/pts/3", "--screen", "800x480"}, ParseResult::Run},
      {{"fennwick", "--help"}, ParseResult::Help},
      {{"fennwick", "--version"}, ParseResult::Version},
      {{"fennwick", "--screen", "big"}, ParseResult::Error},
      {{"fennwick", "--screen"}, ParseResult::Error},
      {{"fennwick", "--port"}, ParseResult::Error},
      {{"fennwick", "--port", ""}, ParseResult::Error},
      {{"fennwick", "--bogus"}, ParseResult::Error},
      {{"fennwick", "stray"}, ParseResult::Error},
  };
  for (const auto& c : cases) {
    WindowOptions o;
    QString message;
    EXPECT_EQ(ParseWindowOptions(c.args, o, message), c.result) << c.args.join(' ').toStdString();
    if (c.result != ParseResult::Run) {
      EXPECT_FALSE(message.isEmpty());
    }
  }
  WindowOptions o;
  QString message;
  ASSERT_EQ(ParseWindowOptions({"fennwick", "--port", "/dev/pts/3", "--screen", "800x480"}, o, message),
            ParseResult::Run);
  EXPECT_EQ(o.port, std::optional<std::string>("/dev/pts/3"));
  EXPECT_EQ(o.screenWidth, 800);
  EXPECT_EQ(o.screenHeight, 480);
  WindowOptions plain;
  ParseWindowOptions({"fennwick"}, plain, message);
  EXPECT_FALSE(plain.port.has_value());
  EXPECT_EQ(plain.screenWidth, 0);  // the primary screen, full-screen
}

// The port comes from --port, else FENNWICK_PORT; an empty variable names no port and is refused.
TEST(WindowOptions, PortFromTheOptionElseTheEnvironment) {
  using Port = std::optional<std::string>;
  struct Case {
    QStringList args;
    Port environment;
    ParseResult result;
    Port port;
  } cases[] = {
      {{"fennwick"}, std::nullopt, ParseResult::Run, std::nullopt},
      {{"fennwick"}, "/dev/ttyUSB0", ParseResult::Run, "/dev/ttyUSB0"},
      {{"fennwick", "--port", "/dev/pts/3"}, "/dev/ttyUSB0", ParseResult::Run, "/dev/pts/3"},
      {{"fennwick", "--port", "/dev/pts/3"}, "", ParseResult::Run, "/dev/pts/3"},
      {{"fennwick"}, "", ParseResult::Error, std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args.join(' ').toStdString() + " FENNWICK_PORT=" + c.environment.value_or("(unset)"));
    WindowOptions o;
    QString message;
    EXPECT_EQ(ParseWindowOptions(c.args, o, message, c.environment), c.result);
    EXPECT_EQ(o.port, c.port);
    if (c.result == ParseResult::Error) {
      EXPECT_TRUE(message.contains("FENNWICK_PORT")) << message.toStdString();
    }
  }
}

}  // namespace

}  // namespace fennwick
