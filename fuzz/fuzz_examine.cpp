// Any bytes as the file that Open examines: the examination must finish with its texts in
// the right order, count the lines, set the progress range to that count and never format
// past the log's line.
#include <string>

#include "fakes/fake_clock.h"
#include "fakes/fake_console.h"
#include "fakes/fake_files.h"
#include "fakes/fake_serial.h"
#include "fuzz_support.h"
#include "link/mcu_port.h"

namespace fennwick {

namespace {
const std::string kReading = "\r\nReading file information....\r\n";
const std::string kNoDescription = "This file has no description.";
const std::string kSuitable = "Please click \"Start\" to update current MCU.";
const std::string kUnsuitable =
    "!!!!!WARNNING!!!!!\r\nThe file you select is NOT suitable for current unit! Please confirm it before click "
    "\"Start\".";
const std::string kHeading = "-----Selected S19 File Desc-----\r\nVersion: ";
}  // namespace

int FuzzExamine(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  // Two MCUs: one that matches the sample's "107", one without any version text.
  for (const char* version : {"01FNW-107 Fennwick", ""}) {
    for (const bool failing : {false, true}) {
      if (failing && size == 0) continue;
      FakeClock clock;
      FakeSerial serial(clock);
      MemoryFileSystem files;
      files.Add(u"/fw.s19", text, failing ? static_cast<int64_t>(size / 2) : -1);
      RecordingRun run;
      CMcuPort port(serial, clock);
      port.SetObserver(&run);

      const ExamineOutcome outcome =
          port.ExamineFirmware(ReadFirmware(files, u"/fw.s19", {FirmwareFormat::S19}).firmware, version);
      FUZZ_CHECK(outcome.verdict != ExamineOutcome::Verdict::OutOfMemory);
      FUZZ_CHECK(!run.texts.empty() && run.texts.front() == kReading);
      for (const std::string& t : run.texts) FUZZ_CHECK(t.size() <= 1023);
      const std::string& last = run.texts.back();
      FUZZ_CHECK(outcome.readError == failing);
      switch (outcome.verdict) {
        case ExamineOutcome::Verdict::NoDescription:
          FUZZ_CHECK(last == kNoDescription);
          break;
        case ExamineOutcome::Verdict::Suitable:
        case ExamineOutcome::Verdict::Unsuitable:
          FUZZ_CHECK(last == (outcome.verdict == ExamineOutcome::Verdict::Suitable ? kSuitable : kUnsuitable));
          FUZZ_CHECK(run.texts.size() >= 3);
          FUZZ_CHECK(run.texts[run.texts.size() - 2].rfind(kHeading, 0) == 0);
          break;
        default:
          FUZZ_CHECK(!"a complete examination ends with a verdict");
      }
      FUZZ_CHECK(run.ranges == 1 && run.rangeHigh == port.LineCount());
      if (!failing) FUZZ_CHECK(port.LineCount() == CountLines(data, size));
      FUZZ_CHECK(serial.written.empty());
    }
  }
  return 0;
}

FENNWICK_FUZZ_ENTRY(FuzzExamine)

}  // namespace fennwick
