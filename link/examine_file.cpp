// The examination's report to the port's observer: the scan itself is firmware/'s.
#include <string>

#include "firmware/examine.h"
#include "link/mcu_port.h"

namespace fennwick {

namespace {
// Where the three compatibility characters stand in the MCU's version text.
constexpr size_t kCompatOffset = 6;
}  // namespace

ExamineOutcome CMcuPort::ExamineFirmware(const LoadedFirmware& firmware, std::string_view mcuVersion) {
  ExamineOutcome outcome;
  if (firmware.FromImage() && firmware.image().size() == kImageSize) {
    outcome.verdict = ExamineImage(firmware.image().data(), firmware.report.lineCount, mcuVersion);
    outcome.readError = firmware.report.readError;
    return outcome;
  }
  Log("\r\nReading file information....\r\n");
  const ExaminationScan& scan = firmware.scan;
  if (scan.outOfMemory) {
    Log("Out of memory to read file\r\n");
    outcome.verdict = ExamineOutcome::Verdict::OutOfMemory;
    return outcome;
  }
  if (scan.readError || firmware.report.readError) {
    Log("Read S19 File failed!\r\n");
    outcome.readError = true;
  }
  m_lineCount = scan.lineCount;
  outcome.verdict = Describe(scan.description, mcuVersion);
  ReportRange(m_lineCount);
  return outcome;
}

ExamineOutcome::Verdict CMcuPort::Describe(const DescriptionBlock& block, std::string_view mcuVersion) {
  if (!block.present) {
    Log("This file has no description.");
    return ExamineOutcome::Verdict::NoDescription;
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
    return ExamineOutcome::Verdict::Suitable;
  }
  Log("!!!!!WARNNING!!!!!\r\nThe file you select is NOT suitable for current unit! Please confirm it "
      "before click \"Start\".");
  return ExamineOutcome::Verdict::Unsuitable;
}

ExamineOutcome::Verdict CMcuPort::ExamineImage(const uint8_t* flashImage, int32_t lineCount,
                                               std::string_view mcuVersion) {
  Log("\r\nReading file information....\r\n");
  m_lineCount = lineCount;
  const ExamineOutcome::Verdict verdict = Describe(DescriptionOfImage(flashImage), mcuVersion);
  ReportRange(m_lineCount);
  return verdict;
}

}  // namespace fennwick
