#include "cli/interrupt.h"

#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <cstring>

#include "cli/commands.h"
#include "platform/posix_serial.h"
#include "platform/std_descriptors.h"

namespace fennwick {

// A prepared record: the text, with room after it for the closing line.
struct Prepared {
  size_t size;
  char* text;
};

struct Slot {
  std::atomic<bool> used{false};
  std::atomic<int> fd{-1};
  std::atomic<int64_t> startMs{0};
  // Taken by exchange, by the run's thread or by the handler: whoever takes it owns it.
  std::atomic<Prepared*> prepared{nullptr};
};

namespace {

constexpr size_t kTailRoom = 96;

struct Chunk {
  std::array<Slot, 16> slots;
  std::atomic<Chunk*> next{nullptr};
};
Chunk g_slots;
static_assert(std::atomic<Prepared*>::is_always_lock_free && std::atomic<int64_t>::is_always_lock_free);

// The first request: its time in milliseconds shifted left by 8, or'ed with its signal.
std::atomic<int64_t> g_request{0};
std::atomic<bool> g_stoppingAtOnce{false};

int64_t NowMs() {
  timespec ts{};
  ::clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

void Say(const char* text, size_t size) {
  const ssize_t ignored = ::write(STDERR_FILENO, text, size);
  (void)ignored;
}

// Writes `value` in decimal at `out`; returns the end. No stdio in a signal handler.
char* Decimal(char* out, int64_t value) {
  char digits[24];
  int n = 0;
  do {
    digits[n++] = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value > 0);
  while (n > 0) *out++ = digits[--n];
  return out;
}

char* Append(char* out, const char* text) {
  const size_t n = std::strlen(text);
  std::memcpy(out, text, n);
  return out + n;
}

void AppendPreparedRecords() {
  const int64_t now = NowMs();
  for (Chunk* chunk = &g_slots; chunk != nullptr; chunk = chunk->next.load()) {
    for (Slot& slot : chunk->slots) {
      Prepared* p = slot.prepared.exchange(nullptr);
      const int fd = slot.fd.load();
      if (p == nullptr || fd < 0) continue;
      const int64_t tenths = (now - slot.startMs.load()) / 100;
      char* end = p->text + p->size;
      end = Append(end, "===== result: interrupted at once (exit ");
      end = Decimal(end, kExitInterrupted);
      end = Append(end, ", ");
      end = Decimal(end, tenths / 10);
      *end++ = '.';
      end = Decimal(end, tenths % 10);
      end = Append(end, " s) =====\n");
      // One write: O_APPEND keeps it whole beside other writers' records.
      const ssize_t ignored = ::write(fd, p->text, static_cast<size_t>(end - p->text));
      (void)ignored;
    }
  }
}

[[noreturn]] void StopAtOnce(const char* why, size_t size) {
  Say(why, size);
  // Several threads may take signals at once; one of them ends the program.
  if (g_stoppingAtOnce.exchange(true)) {
    for (;;) ::pause();
  }
  AppendPreparedRecords();
  RestoreOpenPortsNow();
  ::_exit(kExitInterrupted);
}

extern "C" void OnStopSignal(int sig) {
  const int savedErrno = errno;
  if (sig == SIGQUIT) {
    static const char kQuit[] = "fennwick-cli: quit; stopped at once\n";
    StopAtOnce(kQuit, sizeof kQuit - 1);
  }
  const int64_t now = NowMs();
  int64_t first = 0;
  if (g_request.compare_exchange_strong(first, (now << 8) | sig)) {
    static const char kFirst[] = "fennwick-cli: stopping after the current block (another signal stops at once)\n";
    Say(kFirst, sizeof kFirst - 1);
    errno = savedErrno;
    return;
  }
  if ((first & 0xFF) == sig && now - (first >> 8) < kSameRequestMs) {
    errno = savedErrno;
    return;  // the same request delivered twice
  }
  static const char kAgain[] = "fennwick-cli: interrupted again; stopped at once\n";
  StopAtOnce(kAgain, sizeof kAgain - 1);
}

Slot* Claim() {
  for (Chunk* chunk = &g_slots;; chunk = chunk->next.load()) {
    for (Slot& slot : chunk->slots) {
      bool expected = false;
      if (slot.used.compare_exchange_strong(expected, true)) return &slot;
    }
    if (chunk->next.load() == nullptr) {
      Chunk* fresh = new Chunk;  // kept for the process's life: a handler may walk it
      Chunk* none = nullptr;
      if (!chunk->next.compare_exchange_strong(none, fresh)) delete fresh;
    }
  }
}

void Free(Prepared* p) {
  if (p == nullptr) return;
  delete[] p->text;
  delete p;
}

}  // namespace

AtOnceRecord::AtOnceRecord(int fd) : slot_(Claim()) {
  slot_->startMs.store(NowMs());
  slot_->fd.store(fd);
}

AtOnceRecord::~AtOnceRecord() {
  Disarm();
  slot_->fd.store(-1);
  slot_->used.store(false);
}

void AtOnceRecord::Update(const std::string& body) {
  auto* p = new Prepared{body.size(), new char[body.size() + kTailRoom]};
  std::memcpy(p->text, body.data(), body.size());
  Free(slot_->prepared.exchange(p));
}

void AtOnceRecord::Disarm() { Free(slot_->prepared.exchange(nullptr)); }

bool PrepareProcess() {
  if (!EnsureStandardDescriptors()) return false;
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  ::sigaction(SIGPIPE, &ignore, nullptr);
  ::sigaction(SIGXFSZ, &ignore, nullptr);
  struct sigaction stop {};
  stop.sa_handler = OnStopSignal;
  stop.sa_flags = SA_RESTART;
  sigemptyset(&stop.sa_mask);
  // A stop at once must not be cut by another stop signal in the same thread.
  for (const int sig : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) sigaddset(&stop.sa_mask, sig);
  for (const int sig : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) {
    // nohup's SIGHUP and a background job's SIGQUIT stay ignored, as they were meant.
    struct sigaction before {};
    if ((sig == SIGHUP || sig == SIGQUIT) && ::sigaction(sig, nullptr, &before) == 0 && before.sa_handler == SIG_IGN) {
      continue;
    }
    ::sigaction(sig, &stop, nullptr);
  }
  return true;
}

bool StopRequested() { return g_request.load() != 0; }

void RequestStop(bool stop) { g_request.store(stop ? (NowMs() << 8) | SIGTERM : 0); }

}  // namespace fennwick
