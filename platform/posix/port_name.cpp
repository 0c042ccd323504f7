#include "platform/port_name.h"

#include <cstdlib>

#include "platform/text.h"

namespace fennwick {

std::optional<std::string> PortFromEnvironment() {
  if (const char* env = std::getenv("FENNWICK_PORT")) return std::string(env);
  return std::nullopt;
}

std::string ResolvePortName(std::u16string_view name, const std::optional<std::string>& given) {
  if (given && !given->empty()) return *given;
  std::string utf8;
  if (!Utf16ToUtf8(name, utf8)) return {};
  // "COMn:" (any case, the colon optional) is the n-th 16550-style port.
  if (utf8.size() >= 4 && (utf8[0] == 'C' || utf8[0] == 'c') && (utf8[1] == 'O' || utf8[1] == 'o') &&
      (utf8[2] == 'M' || utf8[2] == 'm')) {
    std::string digits = utf8.substr(3);
    if (!digits.empty() && digits.back() == ':') digits.pop_back();
    bool numeric = !digits.empty() && digits.size() <= 3;
    for (char c : digits) numeric = numeric && c >= '0' && c <= '9';
    if (numeric) {
      const int n = std::atoi(digits.c_str());
      if (n >= 1) return "/dev/ttyS" + std::to_string(n - 1);
    }
  }
  return utf8;
}

}  // namespace fennwick
