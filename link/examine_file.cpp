// The examination's report on the port's console: the scan itself is firmware/'s.
#include <cstring>
#include <string>

#include "firmware/examine.h"
#include "link/log_console.h"
#include "link/mcu_port.h"

namespace fennwick {

namespace {
// Where the three compatibility characters stand in the MCU's version text.
constexpr size_t kCompatOffset = 6;
}  // namespace

ExamineOutcome CMcuPort::ExamineFirmware(const LoadedFirmware& firmware, std::string_view mcuVersion) {
  if (firmware.FromImage() && firmware.image().size() == kImageSize) {
    ExamineImage(firmware.image().data(), firmware.report.lineCount, mcuVersion);
    examine_.readError = firmware.report.readError;
    return examine_;
  }
  examine_ = ExamineOutcome{};
  Log("\r\nReading file information....\r\n");
  const ExaminationScan& scan = firmware.scan;
  if (scan.outOfMemory) {
    Log("Out of memory to read file\r\n");
    examine_.verdict = ExamineOutcome::Verdict::OutOfMemory;
    return examine_;
  }
  if (scan.readError || firmware.report.readError) {
    Log("Read S19 File failed!\r\n");
    examine_.readError = true;
  }
  m_lineCount = scan.lineCount;
  Describe(scan.description, mcuVersion);
  SetProgressRangeOn(Progress(), m_lineCount);
  return examine_;
}

void CMcuPort::Describe(const DescriptionBlock& block, std::string_view mcuVersion) {
  if (!block.present) {
    Log("This file has no description.");
    examine_.verdict = ExamineOutcome::Verdict::NoDescription;
    return;
  }
  Log("-----Selected S19 File Desc-----\r\nVersion: %s%s", block.first.c_str(), block.second.c_str());
  // Compared raw: a version that ends before them has zeros there, as the kept text has.
  bool matches = true;
  for (size_t i = 0; i < block.compat.size(); ++i) {
    const size_t at = kCompatOffset + i;
    const char mcu = at < mcuVersion.size() ? mcuVersion[at] : '\0';
    matches = matches && static_cast<uint8_t>(mcu) == static_cast<uint8_t>(block.compat[i]);
  }
  if (matches) {
    Log("Please click \"Start\" to update current MCU.");
    examine_.verdict = ExamineOutcome::Verdict::Suitable;
  } else {
    Log("!!!!!WARNNING!!!!!\r\nThe file you select is NOT suitable for current unit! Please confirm it "
        "before click \"Start\".");
    examine_.verdict = ExamineOutcome::Verdict::Unsuitable;
  }
}

void CMcuPort::ExamineImage(const uint8_t* flashImage, int32_t lineCount, std::string_view mcuVersion) {
  examine_ = ExamineOutcome{};
  Log("\r\nReading file information....\r\n");
  m_lineCount = lineCount;
  Describe(DescriptionOfImage(flashImage), mcuVersion);
  SetProgressRangeOn(Progress(), m_lineCount);
}

}  // namespace fennwick
