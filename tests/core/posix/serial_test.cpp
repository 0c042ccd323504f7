// The termios device against real pseudo-terminals: the test holds the master side and
// plays the far end of the line.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "fakes/fake_console.h"
#include "fakes/temp_dir.h"
#include "link/mcu_port.h"
#include "platform/port_name.h"
#include "platform/system_serial.h"

namespace fennwick {

namespace {

using Clock = std::chrono::steady_clock;

int64_t MsSince(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// The terminal's exclusive-use flag: 0 or 1; -1 where the ioctl cannot be asked (qemu-user
// does not pass it on), which only the native suite must never see.
int ExclusiveFlag(int fd) {
  int exclusive = -1;
  if (::ioctl(fd, TIOCGEXCL, &exclusive) == 0) return exclusive;
#ifdef FENNWICK_EMULATOR
  return -1;
#else
  ADD_FAILURE() << "TIOCGEXCL: " << std::strerror(errno);
  return -1;
#endif
}

// Keeps FENNWICK_PORT out of the way of a test and puts it back afterwards.
class EnvGuard {
 public:
  EnvGuard() {
    if (const char* v = std::getenv("FENNWICK_PORT")) saved_ = v;
    ::unsetenv("FENNWICK_PORT");
  }
  ~EnvGuard() {
    if (saved_) {
      ::setenv("FENNWICK_PORT", saved_->c_str(), 1);
    } else {
      ::unsetenv("FENNWICK_PORT");
    }
  }
  EnvGuard(const EnvGuard&) = delete;
  EnvGuard& operator=(const EnvGuard&) = delete;

 private:
  std::optional<std::string> saved_;
};

class PosixSerial : public ::testing::Test {
 protected:
  void SetUp() override {
    int slave = -1;
    char name[256] = {};
    ASSERT_EQ(::openpty(&master_, &slave, name, nullptr, nullptr), 0);
    ::close(slave);  // the device under test opens the slave by its path
    path_ = name;
    ::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK);
  }
  void TearDown() override { CloseMaster(); }

  void CloseMaster() {
    if (master_ >= 0) ::close(master_);
    master_ = -1;
  }

  void WriteMaster(const std::vector<uint8_t>& bytes) {
    size_t done = 0;
    const auto start = Clock::now();
    while (done < bytes.size() && MsSince(start) < 2000) {
      const ssize_t n = ::write(master_, bytes.data() + done, bytes.size() - done);
      if (n > 0) {
        done += static_cast<size_t>(n);
      } else {
        pollfd p{master_, POLLOUT, 0};
        ::poll(&p, 1, 10);
      }
    }
    ASSERT_EQ(done, bytes.size());
  }

  // What the far end receives within `ms`, up to `want` bytes.
  std::vector<uint8_t> ReadMaster(size_t want, int ms) {
    std::vector<uint8_t> got;
    const auto start = Clock::now();
    uint8_t buf[512];
    while (got.size() < want && MsSince(start) < ms) {
      pollfd p{master_, POLLIN, 0};
      if (::poll(&p, 1, 10) <= 0) continue;
      const ssize_t n = ::read(master_, buf, sizeof buf);
      if (n > 0) got.insert(got.end(), buf, buf + n);
    }
    return got;
  }

  // What the device reads within `ms`, up to `want` bytes.
  static std::vector<uint8_t> ReadDevice(SystemSerialDevice& dev, int32_t h, size_t want, int ms) {
    std::vector<uint8_t> got;
    const auto start = Clock::now();
    uint8_t buf[512];
    while (got.size() < want && MsSince(start) < ms) {
      uint32_t n = 0;
      if (!dev.Read(h, buf, sizeof buf, n)) break;
      got.insert(got.end(), buf, buf + n);
      if (n == 0) dev.WaitReadable(h, 50);
    }
    return got;
  }

  EnvGuard env_;
  int master_ = -1;
  std::string path_;
};

std::vector<uint8_t> AllBytes() {
  std::vector<uint8_t> v;
  for (int b = 0; b < 256; ++b) v.push_back(static_cast<uint8_t>(b));
  return v;
}

TEST_F(PosixSerial, EveryByteValuePassesBothWaysUntouched) {
  SystemSerialDevice dev;
  const int32_t h = dev.Open(path_);
  ASSERT_NE(h, kInvalidHandle) << path_;
  EXPECT_EQ(dev.LastOpenPath(), path_);

  // Twice over, so that CR LF, XON XOFF and the control characters appear in pairs too.
  std::vector<uint8_t> in = AllBytes();
  const std::vector<uint8_t> all = AllBytes();
  in.insert(in.end(), all.rbegin(), all.rend());
  ASSERT_NO_FATAL_FAILURE(WriteMaster(in));
  EXPECT_EQ(ReadDevice(dev, h, in.size(), 3000), in);
  EXPECT_TRUE(ReadMaster(1, 50).empty()) << "nothing is echoed";

  EXPECT_EQ(dev.Write(h, in.data(), static_cast<uint32_t>(in.size())), in.size());
  EXPECT_EQ(ReadMaster(in.size(), 3000), in);
  EXPECT_EQ(dev.State(h), LineState::Ok);
}

TEST_F(PosixSerial, ReadWithNothingThereReturnsAtOnce) {
  SystemSerialDevice dev;
  const int32_t h = dev.Open(path_);
  ASSERT_NE(h, kInvalidHandle);
  uint8_t buf[64];
  const auto start = Clock::now();
  for (int i = 0; i < 20; ++i) {
    uint32_t got = 99;
    ASSERT_TRUE(dev.Read(h, buf, sizeof buf, got));
    ASSERT_EQ(got, 0u);
  }
  EXPECT_LT(MsSince(start), 100);
  uint32_t got = 99;
  EXPECT_TRUE(dev.Read(h, buf, 0, got)) << "a request for no bytes";
  EXPECT_EQ(got, 0u);
}

TEST_F(PosixSerial, WaitReadableWakesWhenDataComes) {
  SystemSerialDevice dev;
  const int32_t h = dev.Open(path_);
  ASSERT_NE(h, kInvalidHandle);

  // Nothing comes: the wait lasts its limit.
  auto start = Clock::now();
  dev.WaitReadable(h, 60);
  EXPECT_GE(MsSince(start), 55);
  EXPECT_LT(MsSince(start), 1000);

  // Bytes come while it waits: it ends long before its limit.
  std::thread far([this] {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    const uint8_t byte = '.';
    EXPECT_EQ(::write(master_, &byte, 1), 1);
  });
  start = Clock::now();
  dev.WaitReadable(h, 5000);
  const int64_t waited = MsSince(start);
  far.join();
  EXPECT_GE(waited, 10);
  EXPECT_LT(waited, 2000);

  // Bytes already there: no wait at all.
  start = Clock::now();
  dev.WaitReadable(h, 5000);
  EXPECT_LT(MsSince(start), 500);
  EXPECT_EQ(ReadDevice(dev, h, 1, 1000), std::vector<uint8_t>{'.'});
}

TEST_F(PosixSerial, SecondOpenOfTheSamePortIsBusy) {
  SystemSerialDevice first;
  const int32_t h = first.Open(path_);
  ASSERT_NE(h, kInvalidHandle);

  // The lock holds for root as well, where the exclusive-use flag does not.
  SystemSerialDevice second;
  EXPECT_EQ(second.Open(path_), kInvalidHandle);
  EXPECT_EQ(second.LastOpenError(), OpenError::Busy);

  // The refused open has not disturbed the holder.
  ASSERT_NO_FATAL_FAILURE(WriteMaster({'o', 'k', '\r', '\n'}));
  EXPECT_EQ(ReadDevice(first, h, 4, 2000), (std::vector<uint8_t>{'o', 'k', '\r', '\n'}));

  first.Close(h);
  const int32_t h2 = second.Open(path_);
  EXPECT_NE(h2, kInvalidHandle) << "free again once closed";
  EXPECT_EQ(second.LastOpenError(), OpenError::None);
}

TEST_F(PosixSerial, OpenFailuresAreTold) {
  struct Case {
    const char* name;
    std::string path;
    OpenError error;
  };
  const TempDir dir;
  const std::string plain = dir / "plain";
  std::ofstream(plain) << "not a port";
  const Case cases[] = {
      {"Missing", dir / "no-such-port", OpenError::NoSuchDevice},
      {"MissingDirectory", "/nonexistent-dir/ttyS1", OpenError::NoSuchDevice},
      {"RegularFile", plain, OpenError::NotSerial},
      {"NotATerminal", "/dev/null", OpenError::NotSerial},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SystemSerialDevice dev;
    EXPECT_EQ(dev.Open(c.path), kInvalidHandle);
    EXPECT_EQ(dev.LastOpenError(), c.error);
    EXPECT_EQ(dev.LastOpenPath(), c.path);
  }
}

TEST_F(PosixSerial, PortNamesResolveToDevicesAndTheGivenPortWins) {
  const std::pair<std::u16string, std::string> table[] = {
      {u"COM2:", "/dev/ttyS1"},   {u"COM1:", "/dev/ttyS0"}, {u"com10:", "/dev/ttyS9"},
      {u"COM2", "/dev/ttyS1"},    {u"CoM3:", "/dev/ttyS2"}, {u"COM0:", "COM0:"},
      {u"COMx:", "COMx:"},        {u"/dev/ttyUSB0", "/dev/ttyUSB0"},
  };
  for (const auto& [name, path] : table) {
    EXPECT_EQ(ResolvePortName(name, std::nullopt), path);
  }
  ::setenv("FENNWICK_PORT", "/dev/ttyUSB3", 1);
  EXPECT_EQ(ResolvePortName(u"COM2:", PortFromEnvironment()), "/dev/ttyUSB3");
  EXPECT_EQ(ResolvePortName(u"COM2:", std::string("run/mcu-link")), "run/mcu-link");
  ::unsetenv("FENNWICK_PORT");
  EXPECT_EQ(ResolvePortName(u"COM2:", std::string()), "/dev/ttyS1") << "an empty port given is none";
}

TEST_F(PosixSerial, DeviceOpensThePathItIsGivenAndTheEnvironmentStaysOut) {
  // Only the front end reads the environment and resolves names; the device takes the path.
  ::setenv("FENNWICK_PORT", path_.c_str(), 1);
  SystemSerialDevice dev;
  EXPECT_EQ(dev.Open("/nonexistent-dir/ttyS1"), kInvalidHandle);
  EXPECT_EQ(dev.LastOpenPath(), "/nonexistent-dir/ttyS1");
  EXPECT_NE(dev.Open(ResolvePortName(u"COM2:", PortFromEnvironment())), kInvalidHandle);
  EXPECT_EQ(dev.LastOpenPath(), path_);
}

TEST_F(PosixSerial, FarEndHangingUpLosesTheLine) {
  SystemSerialDevice dev;
  const int32_t h = dev.Open(path_);
  ASSERT_NE(h, kInvalidHandle);
  CloseMaster();

  uint8_t buf[64];
  uint32_t got = 0;
  EXPECT_FALSE(dev.Read(h, buf, sizeof buf, got));
  EXPECT_EQ(dev.State(h), LineState::Lost);
  EXPECT_FALSE(dev.Read(h, buf, sizeof buf, got)) << "and stays lost";
  EXPECT_LT(dev.Write(h, buf, sizeof buf), sizeof buf);
}

TEST_F(PosixSerial, FarEndHangingUpEndsAReplyWaitAtOnce) {
  SystemSerialDevice dev;
  RecordingRun log;
  CMcuPort port(dev, DefaultClock());
  port.SetObserver(&log);
  port.SetGivenPort(path_);
  ASSERT_TRUE(port.OpenPort(u"COM2:"));

  std::thread far([this] {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    CloseMaster();
  });
  const auto start = Clock::now();
  EXPECT_EQ(port.ReadReply(120000, 0, '.'), 0);
  far.join();
  EXPECT_LT(MsSince(start), 3000);
  EXPECT_EQ(dev.State(port.Handle()), LineState::Lost);
}

TEST_F(PosixSerial, WriteGivesUpAfterItsTimeOut) {
  SystemSerialDevice dev;
  const int32_t h = dev.Open(path_);
  ASSERT_NE(h, kInvalidHandle);
  CommTimeouts timeouts;
  timeouts.WriteTotalTimeoutConstant = 200;
  ASSERT_TRUE(dev.SetCommTimeouts(h, timeouts));

  // Nobody reads the far end, so the line's buffers fill.
  const std::vector<uint8_t> big(4 << 20, 'w');
  const auto start = Clock::now();
  const uint32_t taken = dev.Write(h, big.data(), static_cast<uint32_t>(big.size()));
  const int64_t took = MsSince(start);
  EXPECT_LT(taken, big.size());
  EXPECT_GT(taken, 0u);
  EXPECT_GE(took, 150);
  EXPECT_LT(took, 3000);
  EXPECT_EQ(dev.State(h), LineState::Ok) << "a full line is not a lost one";
}

TEST_F(PosixSerial, LineSettingsRoundTrip) {
  SystemSerialDevice dev;
  const int32_t h = dev.Open(path_);
  ASSERT_NE(h, kInvalidHandle);

  Dcb dcb;
  ASSERT_TRUE(dev.GetCommState(h, dcb));
  EXPECT_EQ(dcb.BaudRate, 19200u);
  EXPECT_EQ(dcb.ByteSize, 8);
  EXPECT_EQ(dcb.Parity, 0);
  EXPECT_EQ(dcb.StopBits, 0);
  EXPECT_FALSE(dcb.fOutX);
  EXPECT_FALSE(dcb.fInX);
  EXPECT_FALSE(dcb.fOutxCtsFlow);

  Dcb want = dcb;
  want.BaudRate = 115200;
  want.StopBits = 2;
  ASSERT_TRUE(dev.SetCommState(h, want));
  Dcb now;
  ASSERT_TRUE(dev.GetCommState(h, now));
  EXPECT_EQ(now.BaudRate, 115200u);
  EXPECT_EQ(now.ByteSize, 8);
  EXPECT_EQ(now.Parity, 0);
  EXPECT_EQ(now.StopBits, 2);

  // Values the device cannot take are refused and change nothing, the speed that came with
  // them included. A pseudo-terminal keeps 8 bits without parity whatever it is told.
  struct Bad {
    const char* name;
    void (*spoil)(Dcb&);
  };
  const Bad bad[] = {
      {"Baud", [](Dcb& d) { d.BaudRate = 12345; }},
      {"ByteSize", [](Dcb& d) { d.ByteSize = 9; }},
      {"Parity", [](Dcb& d) { d.Parity = 5; }},
      {"OneAndAHalfStopBits", [](Dcb& d) { d.StopBits = 1; }},
      {"SevenBitsOnAPty", [](Dcb& d) { d.BaudRate = 57600; d.ByteSize = 7; }},
      {"EvenParityOnAPty", [](Dcb& d) { d.BaudRate = 38400; d.Parity = 2; }},
  };
  for (const Bad& b : bad) {
    SCOPED_TRACE(b.name);
    Dcb d = want;
    b.spoil(d);
    EXPECT_FALSE(dev.SetCommState(h, d));
    Dcb after;
    ASSERT_TRUE(dev.GetCommState(h, after));
    EXPECT_EQ(after.BaudRate, 115200u);
    EXPECT_EQ(after.ByteSize, 8);
    EXPECT_EQ(after.Parity, 0);
    EXPECT_EQ(after.StopBits, 2);
  }
}

TEST_F(PosixSerial, HandlesItDidNotHandOutAreRefused) {
  SystemSerialDevice dev;
  uint8_t buf[4] = {};
  uint32_t got = 0;
  for (int32_t h : {0, 1, 2, kInvalidHandle, master_}) {
    SCOPED_TRACE(h);
    EXPECT_FALSE(dev.Read(h, buf, sizeof buf, got));
    EXPECT_EQ(dev.Write(h, buf, sizeof buf), 0u);
    EXPECT_FALSE(dev.SetupComm(h, 1024, 1024));
    EXPECT_FALSE(dev.SetCommMask(h, 0x0101));
    Dcb dcb;
    EXPECT_FALSE(dev.GetCommState(h, dcb));
    EXPECT_FALSE(dev.SetCommState(h, dcb));
    dev.Close(h);
  }
  // The descriptor that was passed in by number is still open.
  EXPECT_NE(::fcntl(master_, F_GETFD), -1);
}

// The link over a real line: opening, configuring and identifying against a far end that
// answers like the MCU.
TEST_F(PosixSerial, IdentificationOverAPseudoTerminal) {
  SystemSerialDevice dev;
  RecordingRun log;
  CMcuPort port(dev, DefaultClock());
  port.SetGivenPort(path_);
  port.SetObserver(&log);

  std::atomic<bool> stop{false};
  std::thread mcu([this, &stop] {
    std::string heard;
    while (!stop) {
      pollfd p{master_, POLLIN, 0};
      if (::poll(&p, 1, 10) <= 0) continue;
      char buf[64];
      const ssize_t n = ::read(master_, buf, sizeof buf);
      if (n <= 0) continue;
      heard.append(buf, static_cast<size_t>(n));
      auto answer = [this](const std::string& text) { EXPECT_EQ(::write(master_, text.data(), text.size()), static_cast<ssize_t>(text.size())); };
      if (heard == "$R\r\n") answer("$R 01V1.0123 pty\r\n");
      if (heard == "$e\r\n") answer("e: board on a pty\r\n");
      if (heard == "$R\r\n" || heard == "$e\r\n") heard.clear();
    }
  });
  const auto start = Clock::now();
  const IdentifyOutcome id = port.OpenAndIdentify(u"COM2:");
  const int64_t took = MsSince(start);
  stop = true;
  mcu.join();

  EXPECT_EQ(id.status, IdentifyOutcome::Status::Identified);
  EXPECT_EQ(log.log, "========Current MCU Information========\r\nVersion: V1.0123 pty\r\nboard on a pty\r\n");
  EXPECT_EQ(id.mcuVersion, "01V1.0123 pty\r\n");
  EXPECT_TRUE(id.versionReplied);
  EXPECT_TRUE(id.descriptionReplied);
  EXPECT_LT(took, 3000) << "answers are noticed as they come";
  Dcb dcb;
  ASSERT_TRUE(dev.GetCommState(port.Handle(), dcb));
  EXPECT_EQ(dcb.BaudRate, 19200u);
  EXPECT_EQ(dcb.fDtrControl, 0);
}

// The line is left as it was found, and the terminal a person types in is no MCU's port.
TEST_F(PosixSerial, TheSettingsFoundAreBackAfterTheCloseAndOwnTerminalIsRefused) {
  EnvGuard env;
  const int held = ::open(path_.c_str(), O_RDWR | O_NOCTTY);
  ASSERT_GE(held, 0);
  termios cooked{};
  ASSERT_EQ(::tcgetattr(held, &cooked), 0);
  cooked.c_lflag |= ECHO | ICANON;
  ::cfsetospeed(&cooked, B9600);
  ::cfsetispeed(&cooked, B9600);
  ASSERT_EQ(::tcsetattr(held, TCSANOW, &cooked), 0);
  // By the close, by the destructor, and at once for a program that must end (a second
  // signal) while the port is still open.
  for (const int how : {0, 1, 2}) {
    {
      SystemSerialDevice dev;
      const int32_t h = dev.Open(path_);
      ASSERT_NE(h, kInvalidHandle);
      Dcb dcb;
      ASSERT_TRUE(dev.GetCommState(h, dcb));
      dcb.BaudRate = 19200;
      ASSERT_TRUE(dev.SetCommState(h, dcb));
      termios during{};
      ::tcgetattr(held, &during);
      EXPECT_EQ(during.c_lflag & (ECHO | ICANON), 0u);
      if (const int flag = ExclusiveFlag(held); flag >= 0) {
        EXPECT_EQ(flag, 1);
      }
      if (how == 0) dev.Close(h);
      if (how == 2) {
        RestoreOpenPortsNow();
        termios now{};
        ::tcgetattr(held, &now);
        EXPECT_EQ(now.c_lflag, cooked.c_lflag);
      }
    }
    // Exclusive use ends with the port: a pseudo-terminal is not left "busy" for the next user.
    if (const int flag = ExclusiveFlag(held); flag >= 0) {
      EXPECT_EQ(flag, 0) << how;
    }
    termios after{};
    ASSERT_EQ(::tcgetattr(held, &after), 0);
    EXPECT_EQ(after.c_lflag, cooked.c_lflag) << how;
    EXPECT_EQ(after.c_iflag, cooked.c_iflag) << how;
    EXPECT_EQ(::cfgetospeed(&after), static_cast<speed_t>(B9600)) << how;
  }
  ::close(held);

  // A child in a session of its own whose controlling terminal is this pty.
#ifdef FENNWICK_EMULATOR
  GTEST_SKIP() << "under qemu-user the child's controlling terminal is not the kernel's; the native suite checks it";
#endif
  const pid_t child = ::fork();
  if (child == 0) {
    ::setsid();
    const int tty = ::open(path_.c_str(), O_RDWR);  // without O_NOCTTY: it becomes ours
    int failures = tty < 0 ? 1 : 0;
    for (const char* name : {"/dev/tty", path_.c_str()}) {
      SystemSerialDevice dev;
      if (dev.Open(name) != kInvalidHandle || dev.LastOpenError() != OpenError::ControllingTerminal) ++failures;
    }
    ::_exit(failures);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

// A gang larger than any fixed list: a program that must end at once still puts back every
// line's settings.
TEST(PosixSerialGang, EveryOpenPortIsRestoredAtOnceWhateverTheirNumber) {
  constexpr int kPorts = 140;
  struct Line {
    int master = -1;
    int held = -1;  // the slave as the person's settings leave it
    std::unique_ptr<SystemSerialDevice> dev;
  };
  std::vector<Line> lines(kPorts);
  for (Line& line : lines) {
    char name[256] = {};
    ASSERT_EQ(::openpty(&line.master, &line.held, name, nullptr, nullptr), 0);
    termios cooked{};
    ASSERT_EQ(::tcgetattr(line.held, &cooked), 0);
    cooked.c_lflag |= ECHO | ICANON;
    ASSERT_EQ(::tcsetattr(line.held, TCSANOW, &cooked), 0);
    line.dev = std::make_unique<SystemSerialDevice>();
    ASSERT_NE(line.dev->Open(name), kInvalidHandle) << name;
  }
  RestoreOpenPortsNow();
  int restored = 0;
  for (const Line& line : lines) {
    termios now{};
    ASSERT_EQ(::tcgetattr(line.held, &now), 0);
    if ((now.c_lflag & (ECHO | ICANON)) == (ECHO | ICANON)) ++restored;
  }
  EXPECT_EQ(restored, kPorts);
  for (Line& line : lines) {
    line.dev.reset();
    ::close(line.held);
    ::close(line.master);
  }
}

}  // namespace

}  // namespace fennwick
