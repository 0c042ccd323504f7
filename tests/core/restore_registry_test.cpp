#include "platform/restore_registry.h"

#include <gtest/gtest.h>

#include <set>

namespace fennwick {
namespace {

std::set<int> Registered(const RestoreRegistry<int, int>& registry) {
  std::set<int> keys;
  registry.ForEach([&](int key, int saved) {
    EXPECT_EQ(saved, key * 10) << "the settings saved with port " << key;
    keys.insert(key);
  });
  return keys;
}

// A gang holds far more ports open than a first chunk of slots: every one of them must be
// put back on a stop at once, and a closed one never.
TEST(RestoreRegistry, KeepsEveryOpenPortPastTheFirstChunk) {
  RestoreRegistry<int, int> registry;
  std::set<int> open;
  for (int fd = 3; fd < 203; ++fd) {
    registry.Add(fd, fd * 10);
    open.insert(fd);
  }
  EXPECT_EQ(Registered(registry), open);

  for (int fd = 3; fd < 203; fd += 3) {
    registry.Remove(fd);
    open.erase(fd);
  }
  registry.Remove(999);  // never registered: nothing else goes
  EXPECT_EQ(Registered(registry), open);

  // Freed slots are taken again, and a descriptor number reused after a close is one port.
  for (int fd = 300; fd < 340; ++fd) {
    registry.Add(fd, fd * 10);
    open.insert(fd);
  }
  registry.Add(3, 30);
  open.insert(3);
  EXPECT_EQ(Registered(registry), open);
}

}  // namespace
}  // namespace fennwick
