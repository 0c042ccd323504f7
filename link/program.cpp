#include <algorithm>
#include <cstring>
#include <functional>
#include <string>

#include "link/mcu_port.h"

namespace fennwick {

namespace {
// The end record has left the port well within this at any line rate the MCU speaks.
constexpr uint32_t kDrainTimeoutMs = 5000;
}  // namespace

ProgramOutcome CMcuPort::ProgramMcu(const LoadedFirmware& firmware) {
  ProgramOutcome outcome;
  auto write = [&](const uint8_t* data, uint32_t length) {
    if (WritePort(data, length) != static_cast<int>(length)) ++outcome.shortWrites;
  };
  // An image without a single data byte would erase the whole flash to zeros; no file
  // means that. Not even "$wIAP" goes out, so the MCU keeps the firmware it has.
  if (!firmware.report.readError && !firmware.report.hasData) {
    outcome.status = ProgramOutcome::Status::NoData;
    return outcome;
  }

  // The MCU is asked first.
  static const uint8_t kIapRequest[] = {'$', 'w', 'I', 'A', 'P', '\r', '\n'};
  outcome.iapSent = WritePort(kIapRequest, sizeof kIapRequest) == static_cast<int>(sizeof kIapRequest);
  if (!outcome.iapSent) ++outcome.shortWrites;
  if (!IapAnswered(outcome)) return outcome;
  if (replyStopped_ || StopRequested()) {
    outcome.status = ProgramOutcome::Status::Interrupted;
    return outcome;
  }

  // The image was built when the firmware was read; the S19 loader's line buffer is left
  // as loading the file leaves it, since the end record carries what it holds.
  const bool whole = firmware.image().size() == kImageSize;
  if (firmware.FromImage()) {
    outcome.load.outOfRangeBytes = firmware.report.outOfRangeBytes;
    outcome.load.overlongLines = firmware.report.overlongLines;
  } else {
    const size_t remains = std::min(firmware.loaderRemains.size(), kPacketBufferSize);
    if (remains > 0) std::memcpy(packetBuffer_, firmware.loaderRemains.data(), remains);
    outcome.load = firmware.loader;
  }
  outcome.load.readError = outcome.load.readError || firmware.report.readError || !whole;
  if (outcome.load.readError) {
    // A half-read image must never reach the flash.
    Log("Read S19 File failed!\r\n");
    outcome.status = ProgramOutcome::Status::FileUnreadable;
    return outcome;
  }

  const uint8_t* image = firmware.image().data();
  Log("Programming...\r\n");
  Log("MCU: ");
  // The bar measures blocks, whatever range an earlier examination left.
  ReportRange(static_cast<int32_t>(kLastBlock));

  uint32_t inARow = 0;
  for (uint32_t i = 0; i < kBlockCount; ++i) {
    const uint32_t address = kFlashBase + kBlockSize * i;
    packetBuffer_[0] = 'S';
    packetBuffer_[1] = '2';
    packetBuffer_[2] = static_cast<uint8_t>(address >> 24);
    packetBuffer_[3] = static_cast<uint8_t>(address >> 16);
    packetBuffer_[4] = static_cast<uint8_t>(address >> 8);
    packetBuffer_[5] = static_cast<uint8_t>(address);
    write(packetBuffer_, kPacketHeaderSize);
    write(image + kBlockSize * i, kBlockSize);
    const bool replied = ReadReply(blockLimits_.timeoutMs, i % kBlockReplyLogEvery == 0 ? 1 : 0, kFullStop) == 1;
    ReportPos(static_cast<int32_t>(i));
    if (LineLost()) {
      // A vanished port (a pulled adapter) takes nothing more; waiting out the remaining
      // blocks would only hide the failure.
      ReportLineLost(outcome, i + 1);
      return outcome;
    }
    if (replyStopped_ || StopRequested()) {
      // Stopped between blocks; an end record would close a session whose image is half sent.
      // A wait that the stop ended is no time-out.
      if (!replied && !replyStopped_) ++outcome.blockTimeouts;
      outcome.blocksSent = i + 1;
      outcome.status = ProgramOutcome::Status::Interrupted;
      return outcome;
    }
    // A loader that says '#' has not written the block; the run still goes to the end, so
    // that the MCU sees the session closed, but it is no success.
    const bool refused = replyHeld_ > 0 && m_reply[0] == '#';
    if (refused && outcome.blocksRefused++ == 0) outcome.firstRefused = i;
    if (replied) {
      ++outcome.blocksReplied;
      if (!refused) ++outcome.blocksAccepted;
      inARow = 0;
      continue;
    }
    ++outcome.blockTimeouts;
    // A lost reply is waited out, but a line that stays dead would hold the station for
    // every remaining block's full silence.
    if (++inARow == blockLimits_.maxConsecutiveTimeouts) {
      Log("%u block replies in a row timed out, programming stopped!\r\n", inARow);
      outcome.stalledFrom = i + 1 - inARow;
      outcome.stalledAt = i;
      outcome.status = ProgramOutcome::Status::Stalled;
      return outcome;
    }
  }

  outcome.status = ProgramOutcome::Status::Programmed;
  SendEndRecord(outcome, write);
  // An IAP request left unanswered is no fault of its own once every block was accepted: a
  // loader may enter IAP mode without a word (ProgramWarnings says so).
  if (outcome.status == ProgramOutcome::Status::Programmed &&
      (outcome.blockTimeouts > 0 || outcome.shortWrites > 0 || outcome.blocksRefused > 0)) {
    outcome.status = ProgramOutcome::Status::Flawed;
  }
  return outcome;
}

// The IAP request's answer: true when the run may go on to the blocks.
bool CMcuPort::IapAnswered(ProgramOutcome& outcome) {
  const int replied = ReadReply(kIapTimeoutMs, 0, kLineFeed);
  outcome.iapReplied = replied == 1;
  if (m_reply[0] == '#') {
    Log("Current MCU don't support IAP feature!\r\n");
    outcome.status = ProgramOutcome::Status::Refused;
    return false;
  }
  // A port that never opened (or was closed) cannot carry a single block. A port that has
  // vanished meanwhile neither. A live port whose MCU keeps silent goes on: a loader may
  // enter IAP mode without answering, and block replies that keep timing out end the run.
  if (replied == 0 && m_reply[0] == '\0') {
    if (m_hPort == kInvalidHandle) {
      Log("The MCU port is not open!\r\n");
      outcome.status = ProgramOutcome::Status::PortNotOpen;
      return false;
    }
    if (LineLost()) {
      ReportLineLost(outcome, 0);
      return false;
    }
  }
  return true;
}

void CMcuPort::SendEndRecord(ProgramOutcome& outcome, const std::function<void(const uint8_t*, uint32_t)>& write) {
  packetBuffer_[0] = 'S';
  packetBuffer_[1] = '9';
  write(packetBuffer_, kEndRecordSize);
  if (m_hPort == kInvalidHandle) return;
  // The run is complete only once the record has left the port: a line that goes while it
  // drains (after the last block's reply) swallows it, and that is a lost port.
  const DrainResult drained = LineLost() ? DrainResult::Lost : serial_.Drain(m_hPort, kDrainTimeoutMs);
  if (drained == DrainResult::Lost) {
    ReportLineLost(outcome, kBlockCount);
  } else if (drained == DrainResult::TimedOut) {
    Log("write error....\r\n");
    ++outcome.shortWrites;
  }
}

void CMcuPort::ReportLineLost(ProgramOutcome& outcome, uint32_t blocksSent) {
  Log("\r\nCOM port lost!\r\n");
  outcome.status = ProgramOutcome::Status::LineLost;
  outcome.blocksSent = blocksSent;
}

}  // namespace fennwick
