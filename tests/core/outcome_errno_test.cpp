// The outcomes of identification, examination and programming carry the system's reason
// for a port or file that failed, so that a front end need not look again.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
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
    MemoryLogEdit log;
    CMcuPort port(serial, clock);
    port.SetGivenPort(c.path);
    RecordingProgress progress;
    port.SetConsole(&log, &progress);
    EXPECT_EQ(port.OpenAndIdentify(u"COM2:"), -1);
    const IdentifyOutcome& id = port.LastIdentify();
    EXPECT_EQ(id.portPath, c.path);
    EXPECT_EQ(id.openError, c.error);
    EXPECT_EQ(id.portErrno, c.errnoValue);
    EXPECT_EQ(log.Text8(), "Open MCU COM port Error!!!\r\n");
  }
}

class OutcomeErrnoFiles : public PortTest {};

// Missing, a directory, a read that fails half-way: examination and programming both say why.
TEST_F(OutcomeErrnoFiles, FileThatCannotBeOpenedOrRead) {
  const std::string s19 = "S1078000AABBCCDD6A\r\nS9030000FC\r\n";
  files.Add(u"broken.s19", s19, 10);
  SystemFileSystem disk;
  const TempDir dir;
  struct Case {
    const char* name;
    IFileSystem* fs;
    std::u16string path;
    int errnoValue;
    ExamineOutcome::Verdict examined;
    ProgramOutcome::Status programmed;
  };
  const Case cases[] = {
      {"MissingInMemory", &files, u"none.s19", ENOENT, ExamineOutcome::Verdict::FileNotOpened,
       ProgramOutcome::Status::FileNotOpened},
      {"MissingOnDisk", &disk, u"/nonexistent-dir/fw.s19", ENOENT, ExamineOutcome::Verdict::FileNotOpened,
       ProgramOutcome::Status::FileNotOpened},
      {"Directory", &disk, std::filesystem::path(dir.path).u16string(), EISDIR, ExamineOutcome::Verdict::FileNotOpened,
       ProgramOutcome::Status::FileNotOpened},
      {"ReadFails", &files, u"broken.s19", EIO, ExamineOutcome::Verdict::NoDescription,
       ProgramOutcome::Status::FileUnreadable},
  };
  OpenDirect();
  serial.onWrite = [&](const std::vector<uint8_t>& w) {
    if (w.size() == 7) serial.Deliver("$wIAP OK\r\n", 2);
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CMcuPort run(serial, clock, *c.fs);
    run.SetConsole(&log, &progress);
    run.SetBuffers(version, packet);
    run.m_hPort = port.m_hPort;
    run.ExamineFile(c.path.c_str());
    EXPECT_EQ(run.LastExamine().verdict, c.examined);
    EXPECT_EQ(run.LastExamine().fileErrno, c.errnoValue);
    const ProgramOutcome outcome = run.ProgramMcu(c.path.c_str());
    EXPECT_EQ(outcome.status, c.programmed);
    EXPECT_EQ(outcome.fileErrno, c.errnoValue);
  }
}

}  // namespace

}  // namespace fennwick
