// The Windows serial device's port names and its refusals, where no port is needed.
#include <gtest/gtest.h>

#include <cerrno>

#include "platform/port_name.h"
#include "platform/system_serial.h"

namespace fennwick {

namespace {

TEST(Win32Serial, PortNamesReachTheDevicePath) {
  struct Case {
    std::u16string name;
    std::optional<std::string> given;
    std::string path;
  };
  const Case cases[] = {
      {u"COM2:", std::nullopt, "\\\\.\\COM2"},
      {u"com12", std::nullopt, "\\\\.\\COM12"},
      {u"COM2:", std::string(), "\\\\.\\COM2"},  // an empty port given is none
      {u"COM2:", "COM7", "\\\\.\\COM7"},
      {u"COM2:", "\\\\.\\COM12", "\\\\.\\COM12"},
      {u"COM2:", "\\\\.\\CNCA0", "\\\\.\\CNCA0"},
      {u"COM0", std::nullopt, "COM0"},  // no such port: left for the system to refuse
      {u"COMX:", std::nullopt, "COMX:"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    EXPECT_EQ(ResolvePortName(c.name, c.given), c.path);
  }
}

TEST(Win32Serial, MissingPortAndForeignHandlesAreRefused) {
  SystemSerialDevice serial;
  EXPECT_EQ(serial.Open("\\\\.\\COM254"), kInvalidHandle);
  EXPECT_EQ(serial.LastOpenError(), OpenError::NoSuchDevice);
  EXPECT_EQ(serial.LastOpenErrno(), ENOENT);
  EXPECT_EQ(serial.LastOpenPath(), "\\\\.\\COM254");
  uint8_t buf[4];
  uint32_t got = 7;
  for (int32_t h : {0, 1, 42, kInvalidHandle}) {
    EXPECT_FALSE(serial.Read(h, buf, sizeof buf, got));
    EXPECT_EQ(got, 0u);
    EXPECT_EQ(serial.Write(h, buf, sizeof buf), 0u);
    EXPECT_EQ(serial.State(h), LineState::Lost);
    EXPECT_EQ(serial.Drain(h, 10), DrainResult::Lost);
    serial.Close(h);
  }
}

}  // namespace

}  // namespace fennwick
