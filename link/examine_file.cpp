// The examination's report to the port's observer: the scan itself is firmware/'s.
#include <cstring>
#include <string>

#include "firmware/examine.h"
#include "link/mcu_port.h"

namespace fennwick {

ExamineOutcome CMcuPort::ExamineFirmware(const LoadedFirmware& firmware) {
  if (firmware.FromImage() && firmware.image().size() == kImageSize) {
    ExamineImage(firmware.image().data(), firmware.report.lineCount);
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
  Describe(scan.description);
  ReportRange(m_lineCount);
  return examine_;
}

void CMcuPort::Describe(const DescriptionBlock& block) {
  if (!block.present) {
    Log("This file has no description.");
    examine_.verdict = ExamineOutcome::Verdict::NoDescription;
    return;
  }
  Log("-----Selected S19 File Desc-----\r\nVersion: %s%s", block.first.c_str(), block.second.c_str());
  if (std::memcmp(block.compat.data(), mcuVersion_ + 6, block.compat.size()) == 0) {
    Log("Please click \"Start\" to update current MCU.");
    examine_.verdict = ExamineOutcome::Verdict::Suitable;
  } else {
    Log("!!!!!WARNNING!!!!!\r\nThe file you select is NOT suitable for current unit! Please confirm it "
        "before click \"Start\".");
    examine_.verdict = ExamineOutcome::Verdict::Unsuitable;
  }
}

void CMcuPort::ExamineImage(const uint8_t* flashImage, int32_t lineCount) {
  examine_ = ExamineOutcome{};
  Log("\r\nReading file information....\r\n");
  m_lineCount = lineCount;
  Describe(DescriptionOfImage(flashImage));
  ReportRange(m_lineCount);
}

}  // namespace fennwick
