#pragma once
// What the last opening of a serial device came to: the path it tried, and when it failed,
// why and the errno value behind it. Every system's device keeps one, so that the front ends
// can explain a port that did not open. The boards of a gang may open at the same time.
#include <mutex>
#include <string>

#include "platform/serial_device.h"

namespace fennwick {

class LastOpen {
 public:
  void Set(const std::string& path, OpenError error, int errnoValue) {
    std::lock_guard lock(mu_);
    path_ = path;
    error_ = error;
    errno_ = errnoValue;
  }
  OpenError Error() const {
    std::lock_guard lock(mu_);
    return error_;
  }
  int Errno() const {
    std::lock_guard lock(mu_);
    return errno_;
  }
  std::string Path() const {
    std::lock_guard lock(mu_);
    return path_;
  }

 private:
  mutable std::mutex mu_;
  std::string path_;
  OpenError error_ = OpenError::None;
  int errno_ = 0;
};

}  // namespace fennwick
