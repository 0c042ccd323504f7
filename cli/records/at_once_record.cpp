#include <array>
#include <atomic>
#include <cstring>
#include <string>

#include "cli/records/interrupt.h"
#include "cli/records/interrupt_records.h"
#include "link/exit_codes.h"
#include "platform/system_serial.h"

// The records that a stop at once appends, shared by each system's stop handler: nothing
// here may take a lock or allocate on the handler's side.
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

void StopAtOnce() {
  AppendPreparedRecords();
  RestoreOpenPortsNow();
}

}  // namespace

StopRules CommandLineStopRules() {
  StopRules rules;
  rules.firstNotice = "fennwick-cli: stopping; a block in flight is the last (another signal stops at once)\n";
  rules.againNotice = "fennwick-cli: interrupted again; stopped at once\n";
  rules.quitNotice = "fennwick-cli: quit; stopped at once\n";
  rules.atOnce = StopAtOnce;
  rules.exitCode = kExitInterrupted;
  // A script's background run (its interrupt ignored by the shell) can still be stopped.
  rules.keepIgnored = false;
  return rules;
}

void AppendPreparedRecords() {
  const int64_t now = MonotonicMs();
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
      WriteWhole(fd, p->text, static_cast<size_t>(end - p->text));
    }
  }
}

namespace {

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
  slot_->startMs.store(MonotonicMs());
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

}  // namespace fennwick
