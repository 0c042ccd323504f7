// fennwick-cli with the pause of the original platform: a plain sleep on every empty poll,
// deaf to the bytes that arrive meanwhile. bench/program-throughput compares its wall time
// with the real command's.
#include <memory>

#include "cli/options/command_line.h"
#include "platform/clock.h"
#include "platform/serial_device.h"

namespace fennwick {

namespace {

class PlainPollSerial final : public ForwardingSerialDevice {
 public:
  using ForwardingSerialDevice::ForwardingSerialDevice;
  void WaitReadable(int32_t, uint32_t maxMs) override { DefaultClock().Sleep(maxMs); }
};

}  // namespace

}  // namespace fennwick

using namespace fennwick;

int main(int argc, char** argv) {
  return RunCommandLine(argc, argv,
                        [](ISerialDevice& line) { return std::make_unique<PlainPollSerial>(line); });
}
