#include "fakes/process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <thread>

namespace fennwick {

namespace {

pid_t Spawn(const std::vector<std::string>& argv, int& outFd, int& errFd) {
  int out[2], err[2];
  if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(out[1], 1);
    dup2(err[1], 2);
    const int null = open("/dev/null", O_RDONLY);
    dup2(null, 0);
    std::vector<char*> args;
#ifdef FENNWICK_EMULATOR
    // This test runs under the emulator, which cannot start a program of its own architecture;
    // the build machine's programs (a shell) start as they are.
    if (argv[0].rfind(FENNWICK_BIN_DIR, 0) == 0) args.push_back(const_cast<char*>(FENNWICK_EMULATOR));
#endif
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execv(args[0], args.data());
    _exit(127);
  }
  close(out[1]);
  close(err[1]);
  outFd = out[0];
  errFd = err[0];
  return pid;
}

int ExitCode(int status) {
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  return 128 + WTERMSIG(status);
}

}  // namespace

RunResult RunProgram(const std::vector<std::string>& argv, int timeoutSec) {
  RunResult r;
  int outFd = -1, errFd = -1;
  const pid_t pid = Spawn(argv, outFd, errFd);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSec);
  pollfd fds[2] = {{outFd, POLLIN, 0}, {errFd, POLLIN, 0}};
  int open = 2;
  while (open > 0) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
      kill(pid, SIGKILL);
      break;
    }
    if (poll(fds, 2, static_cast<int>(left.count())) <= 0) continue;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP))) continue;
      char buf[4096];
      const ssize_t n = read(fds[i].fd, buf, sizeof buf);
      if (n <= 0) {
        close(fds[i].fd);
        fds[i].fd = -1;
        --open;
      } else {
        (i == 0 ? r.out : r.err).append(buf, static_cast<size_t>(n));
      }
    }
  }
  for (auto& f : fds) {
    if (f.fd >= 0) close(f.fd);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  r.exitCode = ExitCode(status);
  return r;
}

Simulator::Simulator(std::vector<std::string> args) {
  args.insert(args.begin(), BinPath("fennwick-mcu-sim"));
  int outFd = -1;
  pid_ = Spawn(args, outFd, errFd_);
  // The first line is the pty's path.
  std::string line;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (line.find('\n') == std::string::npos && std::chrono::steady_clock::now() < deadline) {
    pollfd p{outFd, POLLIN, 0};
    if (poll(&p, 1, 100) <= 0) continue;
    char c;
    if (read(outFd, &c, 1) != 1) break;
    line += c;
  }
  close(outFd);
  if (line.empty() || line.back() != '\n') throw std::runtime_error("simulator did not start");
  line.pop_back();
  path_ = line;
}

Simulator::~Simulator() { Stop(); }

bool Simulator::WaitForErr(const std::string& text, int timeoutMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (pid_ >= 0 && err_.find(text) == std::string::npos && std::chrono::steady_clock::now() < deadline) {
    pollfd p{errFd_, POLLIN, 0};
    if (poll(&p, 1, 50) <= 0) continue;
    char buf[4096];
    const ssize_t n = read(errFd_, buf, sizeof buf);
    if (n <= 0) break;
    err_.append(buf, static_cast<size_t>(n));
  }
  return err_.find(text) != std::string::npos;
}

int Simulator::Stop(std::string* err) {
  if (pid_ < 0) return -1;
  kill(pid_, SIGTERM);
  std::string text = std::move(err_);
  char buf[4096];
  ssize_t n;
  while ((n = read(errFd_, buf, sizeof buf)) > 0) text.append(buf, static_cast<size_t>(n));
  close(errFd_);
  int status = 0;
  waitpid(pid_, &status, 0);
  pid_ = -1;
  if (err) *err = text;
  return ExitCode(status);
}

std::string BinPath(const std::string& name) { return std::string(FENNWICK_BIN_DIR) + "/" + name; }
std::string SamplePath(const std::string& name) { return std::string(FENNWICK_BIN_DIR) + "/../samples/" + name; }

bool WaitForFile(const std::string& path, long size, int timeoutMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (std::chrono::steady_clock::now() < deadline) {
    struct stat st {};
    if (stat(path.c_str(), &st) == 0 && st.st_size == size) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return false;
}

}  // namespace fennwick
