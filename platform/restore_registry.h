#pragma once
// The settings of every port open in this process, where a handler that must end the
// program at once (a signal handler; on Windows a console control handler on a thread of
// its own) can reach them without a lock.
#include <atomic>
#include <mutex>

namespace fennwick {

// `Key` is the system's handle of an open port, `Saved` what puts it back as it was found.
// The threads that open and close ports take a lock among themselves; ForEach takes none and
// allocates nothing. A slot's settings are written before it is published, and a chunk is
// linked in only once it is filled in. Chunks are added as more ports are open at once, so
// there is no cap, and they stay until the registry goes, so a handler never meets memory
// that goes away.
template <typename Key, typename Saved>
class RestoreRegistry {
 public:
  RestoreRegistry() = default;
  ~RestoreRegistry() {
    Chunk* chunk = first_.next.load();
    while (chunk != nullptr) {
      Chunk* next = chunk->next.load();
      delete chunk;
      chunk = next;
    }
  }
  RestoreRegistry(const RestoreRegistry&) = delete;
  RestoreRegistry& operator=(const RestoreRegistry&) = delete;

  void Add(Key key, const Saved& saved) {
    std::lock_guard lock(writers_);
    Chunk* chunk = &first_;
    for (;;) {
      for (Slot& slot : chunk->slots) {
        if (slot.live.load()) continue;
        Fill(slot, key, saved);
        return;
      }
      Chunk* next = chunk->next.load();
      if (next == nullptr) break;
      chunk = next;
    }
    auto* added = new Chunk;
    Fill(added->slots[0], key, saved);
    chunk->next.store(added);
  }

  void Remove(Key key) {
    std::lock_guard lock(writers_);
    for (Chunk* chunk = &first_; chunk != nullptr; chunk = chunk->next.load()) {
      for (Slot& slot : chunk->slots) {
        if (!slot.live.load() || slot.key.load() != key) continue;
        slot.live.store(false);
        return;
      }
    }
  }

  // Calls `visit(key, saved)` for every port registered now. Async-signal-safe.
  template <typename Visit>
  void ForEach(Visit&& visit) const {
    for (const Chunk* chunk = &first_; chunk != nullptr; chunk = chunk->next.load()) {
      for (const Slot& slot : chunk->slots) {
        if (slot.live.load()) visit(slot.key.load(), slot.saved);
      }
    }
  }

 private:
  struct Slot {
    std::atomic<bool> live{false};
    std::atomic<Key> key{};
    Saved saved{};
  };
  struct Chunk {
    Slot slots[64];
    std::atomic<Chunk*> next{nullptr};
  };
  static_assert(std::atomic<bool>::is_always_lock_free && std::atomic<Key>::is_always_lock_free &&
                std::atomic<Chunk*>::is_always_lock_free);

  static void Fill(Slot& slot, Key key, const Saved& saved) {
    slot.saved = saved;
    slot.key.store(key);
    slot.live.store(true);
  }

  Chunk first_;
  std::mutex writers_;
};

}  // namespace fennwick
