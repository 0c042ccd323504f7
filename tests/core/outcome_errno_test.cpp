// The identification's outcome and a firmware read carry the system's reason for a port or
// file that failed, so that a front end need not look again.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "fakes/temp_dir.h"
#include "platform/system.h"
#include "port_fixture.h"

namespace fennwick {

namespace {

TEST(OutcomeErrno, PortThatCannotBeOpened) {
  struct Case {
    const char* name;
    std::string path;
    OpenError error;
    int errnoValue;
  };
  const TempDir dir;
  const std::string plain = dir / "plain";
  std::ofstream(plain) << "not a port";
  const Case cases[] = {
      {"Missing", dir / "no-such-port", OpenError::NoSuchDevice, ENOENT},
      {"Directory", dir.path, OpenError::Other, EISDIR},
      {"RegularFile", plain, OpenError::NotSerial, ENOTTY},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FakeClock clock;
    SystemSerialDevice serial;
    CMcuPort port(serial, clock);
    port.SetGivenPort(c.path);
    RecordingRun run;
    port.SetObserver(&run);
    const IdentifyOutcome id = port.OpenAndIdentify(u"COM2:");
    EXPECT_EQ(id.status, IdentifyOutcome::Status::PortNotOpened);
    EXPECT_EQ(id.portPath, c.path);
    EXPECT_EQ(id.openError, c.error);
    EXPECT_EQ(id.portErrno, c.errnoValue);
    EXPECT_EQ(run.log, "Open MCU COM port Error!!!\r\n");
  }
}

class FirmwareReads : public PortTest {};

// Missing, a directory, a read that fails half-way: the read says why, and what was read
// before a failure is examined but never flashed.
TEST_F(FirmwareReads, FileThatCannotBeOpenedOrRead) {
  const std::string s19 = "S1078000AABBCCDD6A\r\nS9030000FC\r\n";
  files.Add(u"broken.s19", s19, 10);
  SystemFileSystem disk;
  const TempDir dir;
  struct Case {
    const char* name;
    IFileSystem* fs;
    std::u16string path;
    int errnoValue;
    FirmwareRead::Status status;
  };
  const Case cases[] = {
      {"MissingInMemory", &files, u"none.s19", ENOENT, FirmwareRead::Status::Unreadable},
      {"MissingOnDisk", &disk, u"/nonexistent-dir/fw.s19", ENOENT, FirmwareRead::Status::Unreadable},
      {"Directory", &disk, std::filesystem::path(dir.path).u16string(), EISDIR, FirmwareRead::Status::Unreadable},
      {"ReadFails", &files, u"broken.s19", EIO, FirmwareRead::Status::ReadShort},
  };
  OpenDirect();
  serial.onWrite = [&](const std::vector<uint8_t>& w) {
    if (w.size() == 7) serial.Deliver("$wIAP OK\r\n", 2);
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const FirmwareRead read = ReadFirmware(*c.fs, c.path, {FirmwareFormat::S19});
    EXPECT_EQ(read.status, c.status);
    EXPECT_EQ(read.error, c.errnoValue);
    EXPECT_EQ(read.reason, c.status == FirmwareRead::Status::ReadShort
                               ? "read error: " + std::string(std::strerror(c.errnoValue))
                               : std::string(std::strerror(c.errnoValue)));
    if (c.status != FirmwareRead::Status::ReadShort) continue;
    const ExamineOutcome examined = port.ExamineFirmware(read.firmware, "");
    EXPECT_EQ(examined.verdict, ExamineOutcome::Verdict::NoDescription);
    EXPECT_TRUE(examined.readError);
    EXPECT_EQ(port.ProgramMcu(read.firmware).status, ProgramOutcome::Status::FileUnreadable);
    EXPECT_EQ(serial.written.size(), 7u) << "the request only, no block";
  }
}

}  // namespace

}  // namespace fennwick
