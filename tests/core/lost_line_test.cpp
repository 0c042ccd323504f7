// The programming run when the line goes at its very end: after the last block's reply,
// as the end record is written.
#include <gtest/gtest.h>

#include <string>

#include "port_fixture.h"

namespace fennwick {

namespace {

// The scripted line, lost the moment the end record is written to it.
class LostAtEndRecord final : public ForwardingSerialDevice {
 public:
  explicit LostAtEndRecord(FakeSerial& inner) : ForwardingSerialDevice(inner), inner_(inner) {}
  uint32_t Write(int32_t h, const uint8_t* data, uint32_t len) override {
    if (len == 134 && data[0] == 'S' && data[1] == '9') inner_.LoseLine();
    return inner_.Write(h, data, len);
  }

 private:
  FakeSerial& inner_;
};

TEST(ProgramLostLine, LineLostAsTheEndRecordIsWrittenIsReportedAsLost) {
  FakeClock clock;
  FakeSerial serial(clock);
  LostAtEndRecord device(serial);
  RecordingRun run;
  CMcuPort port(device, clock);
  port.SetObserver(&run);
  ASSERT_TRUE(port.OpenPort(u"COM2:"));
  // An MCU that answers the IAP request and every block.
  serial.onWrite = [&](const std::vector<uint8_t>& w) {
    if (w.size() == 7) serial.Deliver("$wIAP OK\r\n", 2);
    if (w.size() == 128) serial.Deliver(".", 2);
  };

  const ProgramOutcome outcome = port.ProgramMcu(LoadFirmware("S1078000AABBCCDD6A\r\n", {FirmwareFormat::S19}));
  EXPECT_EQ(outcome.status, ProgramOutcome::Status::LineLost);
  EXPECT_FALSE(outcome.Succeeded());
  EXPECT_EQ(outcome.blockTimeouts, 0u);
  EXPECT_EQ(serial.written.size(), 7u + 1024u * 134u);  // every block, no end record
  const std::string text = run.log;
  EXPECT_TRUE(text.ends_with("MCU: " + std::string(64, '.') + "write error....\r\n\r\nCOM port lost!\r\n")) << text;
}

}  // namespace

}  // namespace fennwick
