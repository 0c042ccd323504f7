#include <memory>
#include <new>

#include "link/log_console.h"
#include "link/mcu_port.h"

namespace {
constexpr uint32_t kIapTimeoutMs = 5000;
constexpr uint32_t kBlockTimeoutMs = 120000;
constexpr uint32_t kBlockSize = 128;
constexpr uint32_t kBlockCount = 1024;
constexpr uint32_t kHeaderSize = 6;
constexpr uint32_t kEndRecordSize = kHeaderSize + kBlockSize;
constexpr int kLineFeed = 0x0A;
constexpr int kFullStop = 0x2E;
}  // namespace

ProgramOutcome CMcuPort::ProgramMcu(const char16_t* path, const ImageLoader& loader) {
  ProgramOutcome outcome;
  if (path == nullptr) {
    outcome.status = ProgramOutcome::Status::NullPath;
    return outcome;
  }
  std::unique_ptr<IFile> file = m_files.OpenRead(path);
  if (!file) {
    Log("Open S19 File failed!\r\n");
    outcome.status = ProgramOutcome::Status::FileNotOpened;
    return outcome;
  }
  auto write = [&](const uint8_t* data, uint32_t length) {
    if (WritePort(data, length) != static_cast<int>(length)) ++outcome.shortWrites;
  };

  // The MCU is asked before the file is read.
  static const uint8_t kIapRequest[] = {'$', 'w', 'I', 'A', 'P', '\r', '\n'};
  write(kIapRequest, sizeof kIapRequest);
  outcome.iapReplied = ReadReply(kIapTimeoutMs, 0, kLineFeed) == 1;
  if (m_reply[0] == '#') {
    Log("Current MCU don't support IAP feature!\r\n");
    outcome.status = ProgramOutcome::Status::Refused;
    return outcome;
  }

  std::unique_ptr<uint8_t[]> image(new (std::nothrow) uint8_t[kImageSize]);
  if (!image) {
    Log("Out of memory to read file\r\n");
    outcome.status = ProgramOutcome::Status::OutOfMemory;
    return outcome;
  }
  outcome.load = loader ? loader(*file, image.get(), m_packetBuffer) : LoadS19Image(*file, image.get(), m_packetBuffer);
  if (outcome.load.readError) {
    // A half-read image must never reach the flash.
    Log("Read S19 File failed!\r\n");
    outcome.status = ProgramOutcome::Status::FileUnreadable;
    return outcome;
  }

  Log("Programming...\r\n");
  Log("MCU: ");
  // The bar measures blocks, whatever range an earlier examination left.
  SetProgressRangeOn(Progress(), static_cast<int32_t>(kBlockCount - 1));

  const bool portOpen = m_hPort != kInvalidHandle;
  for (uint32_t i = 0; i < kBlockCount; ++i) {
    const uint32_t address = kFlashBase + kBlockSize * i;
    m_packetBuffer[0] = 'S';
    m_packetBuffer[1] = '2';
    m_packetBuffer[2] = static_cast<uint8_t>(address >> 24);
    m_packetBuffer[3] = static_cast<uint8_t>(address >> 16);
    m_packetBuffer[4] = static_cast<uint8_t>(address >> 8);
    m_packetBuffer[5] = static_cast<uint8_t>(address);
    write(m_packetBuffer, kHeaderSize);
    write(image.get() + kBlockSize * i, kBlockSize);
    const bool replied = ReadReply(kBlockTimeoutMs, i % 16 == 0 ? 1 : 0, kFullStop) == 1;
    SetProgressPosOn(Progress(), static_cast<int32_t>(i));
    if (portOpen && m_serial.State(m_hPort) == LineState::Lost) {
      // A vanished port (a pulled adapter) takes nothing more; waiting out the remaining
      // blocks would only hide the failure.
      Log("\r\nCOM port lost!\r\n");
      outcome.lineLost = true;
      outcome.status = ProgramOutcome::Status::Completed;
      return outcome;
    }
    if (!replied) ++outcome.blockTimeouts;
  }

  m_packetBuffer[0] = 'S';
  m_packetBuffer[1] = '9';
  write(m_packetBuffer, kEndRecordSize);
  if (portOpen && m_serial.State(m_hPort) == LineState::Lost) {
    // The line went after the last block's reply: the end record did not go out whole,
    // and that is a lost port, not merely a short write.
    Log("\r\nCOM port lost!\r\n");
    outcome.lineLost = true;
  }
  outcome.status = ProgramOutcome::Status::Completed;
  return outcome;
}
