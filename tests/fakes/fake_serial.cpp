#include "fakes/fake_serial.h"

#include <algorithm>
#include <cerrno>

namespace fennwick {

void FakeSerial::Deliver(const std::string& bytes, uint64_t delayMs) {
  Deliver(std::vector<uint8_t>(bytes.begin(), bytes.end()), delayMs);
}

void FakeSerial::Deliver(const std::vector<uint8_t>& bytes, uint64_t delayMs) {
  Arrival a{clock_.Now() + delayMs, bytes};
  // Keep arrivals in time order; equal times keep their order of delivery.
  auto it = std::upper_bound(arrivals_.begin(), arrivals_.end(), a.at,
                             [](uint64_t t, const Arrival& x) { return t < x.at; });
  arrivals_.insert(it, std::move(a));
}

size_t FakeSerial::Pending() const {
  size_t n = 0;
  for (const auto& a : arrivals_) n += a.bytes.size();
  return n;
}

int32_t FakeSerial::Open(const std::string& path) {
  calls.push_back("Open");
  openedName = path;
  if (openFails) return kInvalidHandle;
  open_ = true;
  lost_ = false;  // a line that is back
  return handle_;
}

bool FakeSerial::SetupComm(int32_t h, uint32_t, uint32_t) {
  calls.push_back("SetupComm");
  return Valid(h);
}

bool FakeSerial::Purge(int32_t h, uint32_t) {
  calls.push_back("Purge");
  return Valid(h);
}

bool FakeSerial::SetCommMask(int32_t h, uint32_t) {
  calls.push_back("SetCommMask");
  if (!Valid(h) || failCommMask) return Refuse();
  return true;
}

bool FakeSerial::GetCommState(int32_t h, Dcb& dcb) {
  calls.push_back("GetCommState");
  if (!Valid(h) || failGetState) return Refuse();
  dcb = state;
  return true;
}

bool FakeSerial::SetCommState(int32_t h, const Dcb& dcb) {
  calls.push_back("SetCommState");
  if (!Valid(h) || failSetState) return Refuse();
  applied = dcb;
  return true;
}

bool FakeSerial::SetCommTimeouts(int32_t h, const CommTimeouts& t) {
  calls.push_back("SetCommTimeouts");
  timeouts = t;
  return Valid(h);
}

void FakeSerial::ClearCommError(int32_t) {}

bool FakeSerial::Read(int32_t h, uint8_t* buf, uint32_t max, uint32_t& got) {
  got = 0;
  readRequests.push_back(max);
  if (!Valid(h) || failRead || lost_) return false;
  while (got < max && !arrivals_.empty() && arrivals_.front().at <= clock_.Now()) {
    auto& front = arrivals_.front();
    const size_t take = std::min<size_t>(max - got, front.bytes.size());
    std::copy_n(front.bytes.begin(), take, buf + got);
    got += static_cast<uint32_t>(take);
    front.bytes.erase(front.bytes.begin(), front.bytes.begin() + static_cast<std::ptrdiff_t>(take));
    if (front.bytes.empty()) arrivals_.pop_front();
  }
  return true;
}

void FakeSerial::WaitReadable(int32_t, uint32_t maxMs) {
  const uint64_t deadline = clock_.Now() + maxMs;
  uint64_t until = deadline;
  if (!arrivals_.empty()) until = std::min(deadline, std::max(arrivals_.front().at, clock_.Now()));
  clock_.Advance(until - clock_.Now());
}

uint32_t FakeSerial::Write(int32_t h, const uint8_t* data, uint32_t len) {
  if (!Valid(h) || lost_) return 0;
  uint32_t take = len;
  if (writeLimit >= 0 && static_cast<uint64_t>(writeLimit) < len) take = static_cast<uint32_t>(writeLimit);
  std::vector<uint8_t> chunk(data, data + take);
  written.insert(written.end(), chunk.begin(), chunk.end());
  writes.push_back(chunk);
  if (onWrite) onWrite(chunk);
  return take;
}

DrainResult FakeSerial::Drain(int32_t h, uint32_t maxMs) {
  calls.push_back("Drain");
  if (!Valid(h) || lost_) return DrainResult::Lost;
  if (drainResult == DrainResult::Lost) lost_ = true;
  if (drainResult == DrainResult::TimedOut) clock_.Advance(maxMs);
  return drainResult;
}

void FakeSerial::Close(int32_t h) {
  calls.push_back("Close");
  if (h == handle_) open_ = false;
}

}  // namespace fennwick
