#include "sim/stm8_runner.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "sim/atomic_file.h"
#include "sim/pty_line.h"
#include "sim/stm8_image.h"
#include "sim/text_escape.h"

namespace fennwick::sim {
namespace {

using Clock = std::chrono::steady_clock;

constexpr std::size_t kMaxImageFile = 4 << 20;
// With no peer on the terminal its master reports a hang-up at once; look again this often.
constexpr int kNoPeerPollMs = 20;
constexpr int kChildPollMs = 100;
// How long the console may take to list the whole flash, and the simulator to end.
constexpr auto kDumpTimeout = std::chrono::seconds(60);
constexpr auto kStopGrace = std::chrono::seconds(2);
constexpr auto kConsoleConnectTimeout = std::chrono::seconds(5);
// The simulator's UART sends one stray byte once it runs; until then (or this long at most)
// the host's bytes are held, since bytes written before it reads its input may be lost.
constexpr auto kStartTimeout = std::chrono::seconds(5);

// Commands the simulator runs at start: look at the UART's input often (else once per
// million instructions), and hand over each received byte only when the firmware has read
// the previous one, as a host that waits for replies would on a real line.
constexpr const char* kSetup =
    "expression uart1_check_often=1\n"
    "expression uart1_flowctrl=1\n";

std::string ErrnoText(const std::string& what) { return what + ": " + std::strerror(errno); }

std::string FindInPath(const std::string& name) {
  const char* path = std::getenv("PATH");
  std::stringstream dirs(path ? path : "/usr/bin:/bin");
  std::string dir;
  while (std::getline(dirs, dir, ':')) {
    const std::string candidate = (dir.empty() ? "." : dir) + "/" + name;
    if (::access(candidate.c_str(), X_OK) == 0) return candidate;
  }
  return {};
}

std::string ReadSmallFile(const std::string& path, std::string& error) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) {
    error = ErrnoText(path);
    return {};
  }
  if (!S_ISREG(st.st_mode)) {
    error = path + ": not a regular file";
    return {};
  }
  if (static_cast<std::size_t>(st.st_size) > kMaxImageFile) {
    error = path + ": larger than a firmware file can be";
    return {};
  }
  std::ifstream in(path, std::ios::binary);
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (!in.good() && !in.eof()) error = ErrnoText(path);
  return text;
}

// A TCP port on the loopback that is free now, for the simulator's console.
int FreeLocalPort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return 0;
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof addr;
  int port = 0;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) == 0) {
    port = ntohs(addr.sin_port);
  }
  ::close(fd);
  return port;
}

int ConnectLocal(int port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = htons(static_cast<std::uint16_t>(port));
  if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

// Writes all of `data` to a non-blocking descriptor as far as it takes it now.
void WriteSome(int fd, std::string& data) {
  while (!data.empty()) {
    const ssize_t n = ::write(fd, data.data(), data.size());
    if (n > 0) {
      data.erase(0, static_cast<std::size_t>(n));
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else {
      return;
    }
  }
}

}  // namespace

Stm8Runner::Stm8Runner(const SimOptions& options) : options_(options) {}

Stm8Runner::~Stm8Runner() {
  StopSimulator();
  if (!workDir_.empty()) {
    std::error_code ignored;
    std::filesystem::remove_all(workDir_, ignored);
  }
}

std::string Stm8Runner::Prepare(int& exitCode) {
  exitCode = 2;
  std::string error;
  const std::string text = ReadSmallFile(options_.stm8Image, error);
  if (!error.empty()) return "--stm8: " + error;
  const auto image = ReadFirmwareText(text, error);
  if (!image) return "--stm8: " + options_.stm8Image + ": " + error;
  if (image->lower_bound(kStm8FlashFirst) == image->lower_bound(kStm8FlashFirst + kStm8FlashSize)) {
    return "--stm8: " + options_.stm8Image + ": no data in the flash (0x8000 to 0x27FFF)";
  }

  exitCode = 1;
  sstm8_ = FindInPath("sstm8");
  if (sstm8_.empty()) {
    return "--stm8: the STM8 simulator sstm8 is not installed (Debian package sdcc-ucsim)";
  }
  const char* tmp = std::getenv("TMPDIR");
  std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/fennwick-stm8-XXXXXX";
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  if (!::mkdtemp(name.data())) return ErrnoText("cannot create a working folder");
  workDir_ = name.data();
  const std::pair<const char*, std::string> files[] = {{"/image.ihx", ToIntelHex(*image)},
                                                       {"/setup.cmd", kSetup}};
  for (const auto& [name, content] : files) {
    std::ofstream file(workDir_ + name);
    file << content;
    file.close();
    if (!file) return "cannot write " + workDir_ + name;
  }
  if (::mkfifo((workDir_ + "/uart1.out").c_str(), 0600) != 0) return ErrnoText("mkfifo");
  return {};
}

std::string Stm8Runner::StartSimulator(const std::string& uartPath) {
  std::vector<std::string> args = {sstm8_, "-t", "STM8S208",
                                   // stores to flash take effect: the programmer's writes land
                                   "-w", "-q", "-g", "-b", "-C", workDir_ + "/setup.cmd"};
  if (!options_.dumpPath.empty()) {
    consolePort_ = FreeLocalPort();
    if (consolePort_ == 0) return ErrnoText("no free local port for the simulator's console");
    args.insert(args.end(), {"-Z", std::to_string(consolePort_)});
  }
  args.insert(args.end(), {"-S", "uart=1,in=" + uartPath + ",out=" + workDir_ + "/uart1.out",
                           workDir_ + "/image.ihx"});
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);

  const pid_t parent = ::getpid();
  child_ = ::fork();
  if (child_ < 0) return ErrnoText("fork");
  if (child_ == 0) {
    // Its own process group, so that a Ctrl+C meant for us does not end it before the dump;
    // and it goes when we go.
    ::setpgid(0, 0);
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (::getppid() != parent) ::_exit(127);
    const int null = ::open("/dev/null", O_RDWR);
    ::dup2(null, STDIN_FILENO);
    // Its own chatter (the set-up's echo, warnings) only with --verbose, on our stderr.
    ::dup2(options_.verbose ? STDERR_FILENO : null, STDOUT_FILENO);
    if (!options_.verbose) ::dup2(null, STDERR_FILENO);
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  return {};
}

int Stm8Runner::Run(int hostMaster, int stopFd) {
  PtyPair uart;
  if (auto problem = OpenRawPty(uart); !problem.empty()) {
    Log("error: " + problem);
    return 1;
  }
  // The FIFO is opened for writing too, so that it never reads as ended while the simulator
  // has not opened it yet.
  const int fifo = ::open((workDir_ + "/uart1.out").c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
  if (fifo < 0) {
    Log(ErrnoText("error: cannot open the simulator's output"));
    return 1;
  }
  if (auto problem = StartSimulator(uart.slavePath); !problem.empty()) {
    Log("error: " + problem);
    ::close(fifo);
    return 1;
  }
  if (options_.verbose) Log("sstm8 started, UART1 on " + uart.slavePath);

  std::string toMcu;
  std::string toHost;
  const auto startedAt = Clock::now();
  bool mcuReady = false;
  // What the MCU sends before the host's first byte (a reset's output meant for no one) is
  // dropped, as no host would have heard it.
  bool hostSpoke = false;
  bool hostIdle = false;
  int code = 0;
  for (;;) {
    pollfd fds[4] = {{stopFd, POLLIN, 0},
                     {hostIdle ? -1 : hostMaster, static_cast<short>(POLLIN | (toHost.empty() ? 0 : POLLOUT)), 0},
                     {fifo, POLLIN, 0},
                     {uart.master, static_cast<short>(POLLIN | (toMcu.empty() ? 0 : POLLOUT)), 0}};
    const int ready = ::poll(fds, 4, hostIdle || !mcuReady ? kNoPeerPollMs : kChildPollMs);
    if (!mcuReady && Clock::now() - startedAt >= kStartTimeout) {
      mcuReady = true;
      if (options_.verbose) Log("no stray byte from the simulator; going on");
    }
    hostIdle = false;
    if (ready < 0 && errno != EINTR) {
      Log(ErrnoText("error: poll"));
      code = 1;
      break;
    }
    int status = 0;
    if (::waitpid(child_, &status, WNOHANG) == child_) {
      child_ = -1;
      Log("error: sstm8 ended by itself (" +
          (WIFEXITED(status) ? "exit " + std::to_string(WEXITSTATUS(status))
                             : "signal " + std::to_string(WTERMSIG(status))) +
          ")");
      code = 1;
      break;
    }
    if (ready <= 0) continue;
    if (fds[0].revents) {
      if (options_.verbose) Log("stopping on signal");
      if (!options_.dumpPath.empty() && !DumpFlash()) code = 1;
      break;
    }
    std::uint8_t buf[4096];
    bool hostGone = (fds[1].revents & (POLLHUP | POLLERR)) != 0;
    if (fds[1].revents & POLLIN) {
      const ssize_t n = ::read(hostMaster, buf, sizeof buf);
      if (n > 0) {
        if (!hostSpoke && options_.verbose) Log("peer connected");
        hostSpoke = true;
        hostGone = false;  // its hang-up counts once all it sent has been read
        if (options_.verbose) Trace("rx", buf, static_cast<std::size_t>(n));
        toMcu.append(reinterpret_cast<const char*>(buf), static_cast<std::size_t>(n));
      } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
        hostGone = true;  // with no slave open the master reads EIO
      }
    }
    if (hostGone) {
      // No peer (any more): what was meant for the last one must not reach the next.
      if (hostSpoke) {
        if (options_.verbose) Log("peer hung up");
        ::tcflush(hostMaster, TCOFLUSH);
      }
      hostSpoke = false;
      toHost.clear();
      hostIdle = true;
    }
    if (fds[2].revents & POLLIN) {
      ssize_t n = ::read(fifo, buf, sizeof buf);
      std::uint8_t* data = buf;
      if (n > 0 && !mcuReady) {
        mcuReady = true;
        if (options_.verbose) Trace("stray byte dropped:", buf, 1);
        ++data;
        --n;
      }
      if (n > 0) {
        if (hostSpoke) {
          if (options_.verbose) Trace("tx", data, static_cast<std::size_t>(n));
          toHost.append(reinterpret_cast<const char*>(data), static_cast<std::size_t>(n));
        } else if (options_.verbose) {
          Trace("dropped (no host yet)", data, static_cast<std::size_t>(n));
        }
      }
    }
    if (fds[3].revents & POLLIN) {
      // The simulator only reads this terminal; anything that comes back is an echo.
      [[maybe_unused]] const ssize_t n = ::read(uart.master, buf, sizeof buf);
    }
    if (mcuReady) WriteSome(uart.master, toMcu);
    if (hostSpoke) WriteSome(hostMaster, toHost);
  }
  StopSimulator();
  ::close(fifo);
  ::close(uart.master);
  ::close(uart.slave);
  return code;
}

bool Stm8Runner::DumpFlash() {
  const auto deadline = Clock::now() + kDumpTimeout;
  // The console listens from the simulator's start on: a few seconds of retries cover a
  // loaded machine.
  const auto connectDeadline = Clock::now() + kConsoleConnectTimeout;
  int fd = -1;
  while (fd < 0 && Clock::now() < connectDeadline) {
    fd = ConnectLocal(consolePort_);
    if (fd < 0) ::usleep(50'000);
  }
  if (fd < 0) {
    Log("error: flash dump failed: the simulator's console does not answer");
    return false;
  }
  // Plain hex (without /h the console shows code it knows as disassembly).
  const std::string command = "dump /h rom 0x8000 0x27fff 16\n";
  bool sent = ::send(fd, command.data(), command.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(command.size());
  std::string text;
  std::optional<std::vector<std::uint8_t>> flash;
  while (sent && !flash && Clock::now() < deadline) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, 1000) <= 0) continue;
    char buf[65536];
    const ssize_t n = ::read(fd, buf, sizeof buf);
    if (n <= 0) break;
    text.append(buf, static_cast<std::size_t>(n));
    if (text.find("0x27ff0") != std::string::npos) {
      flash = ParseConsoleDump(text, kStm8FlashFirst, kStm8FlashSize);
    }
  }
  ::close(fd);
  if (!flash) {
    Log("error: flash dump failed: the simulator's console did not list the whole flash");
    return false;
  }
  const std::string problem = WriteFileAtomically(options_.dumpPath, *flash);
  if (!problem.empty()) {
    Log("error: flash dump failed: " + problem);
    return false;
  }
  if (options_.verbose) Log("flash written to " + options_.dumpPath);
  return true;
}

void Stm8Runner::StopSimulator() {
  if (child_ <= 0) return;
  ::kill(child_, SIGTERM);
  const auto deadline = Clock::now() + kStopGrace;
  int status = 0;
  while (::waitpid(child_, &status, WNOHANG) == 0) {
    if (Clock::now() >= deadline) {
      ::kill(child_, SIGKILL);
      ::waitpid(child_, &status, 0);
      break;
    }
    ::usleep(10'000);
  }
  child_ = -1;
}

void Stm8Runner::Log(const std::string& text) {
  std::fprintf(stderr, "fennwick-mcu-sim [stm8] %s\n", text.c_str());
  std::fflush(stderr);
}

void Stm8Runner::Trace(const char* direction, const std::uint8_t* data, std::size_t size) {
  Log(std::string(direction) + " " + HexBytes(data, size));
}

}  // namespace fennwick::sim
