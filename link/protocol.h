#pragma once
// The MCU's byte protocol and the link's fixed sizes and time-outs, in one place for the
// link and every front end. The flash window (kFlashBase, kImageSize) belongs to the
// image that firmware/ builds; the protocol sends it block by block.
#include <cstddef>
#include <cstdint>

#include "firmware/s19_loader.h"

namespace fennwick {

// The flash image goes out as kBlockCount blocks of kBlockSize bytes from kFlashBase up.
constexpr uint32_t kBlockSize = 128;
constexpr uint32_t kBlockCount = static_cast<uint32_t>(kImageSize / kBlockSize);
constexpr uint32_t kLastBlock = kBlockCount - 1;
static_assert(kBlockCount == 1024);

// A block packet: "S2", the block's 32-bit address, its bytes. The end record ("S9") has
// the same size.
constexpr uint32_t kPacketHeaderSize = 6;
constexpr uint32_t kPacketSize = kPacketHeaderSize + kBlockSize;
constexpr uint32_t kEndRecordSize = kPacketSize;
static_assert(kPacketSize == 134 && kPacketSize <= kPacketBufferSize);

// Every kBlockReplyLogEvery-th block's reply is shown in the log.
constexpr uint32_t kBlockReplyLogEvery = 16;

// A reply holds at most kReplySize - 1 bytes and its NUL; the version text is kept in a
// buffer of the same size.
constexpr size_t kReplySize = 1024;
constexpr size_t kVersionSize = 1024;

// Reply terminators.
constexpr int kLineFeed = 0x0A;
constexpr int kFullStop = 0x2E;

// The line.
constexpr char16_t kMcuPortName[] = u"COM2:";  // the device's own name for the MCU's port
constexpr uint32_t kBaudRate = 19200;
constexpr uint32_t kQueueSize = 1024;       // the driver's receive and transmit queues
constexpr uint32_t kWriteTimeoutMs = 5000;  // a write gives up after this, in all
constexpr uint32_t kPollPauseMs = 100;      // the pause when a poll finds nothing

// Silences allowed before a reply counts as timed out.
constexpr uint32_t kQueryTimeoutMs = 5000;     // "$R" and "$e"
constexpr uint32_t kIapTimeoutMs = 5000;       // "$wIAP"
constexpr uint32_t kBlockTimeoutMs = 120000;   // each block packet
// Block replies in a row that may time out before a run is given up (0: never).
constexpr uint32_t kMaxConsecutiveTimeouts = 3;

}  // namespace fennwick
