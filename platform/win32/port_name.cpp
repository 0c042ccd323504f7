#include <windows.h>

#include "platform/port_name.h"
#include "platform/text.h"

namespace fennwick {

std::optional<std::string> PortFromEnvironment() {
  wchar_t buf[1024];
  ::SetLastError(ERROR_SUCCESS);  // an empty variable returns 0 too, without an error
  const DWORD n = ::GetEnvironmentVariableW(L"FENNWICK_PORT", buf, 1024);
  if (n == 0) {
    if (::GetLastError() == ERROR_ENVVAR_NOT_FOUND) return std::nullopt;
    return std::string();
  }
  if (n >= 1024) return std::string();  // longer than any port name: opens nothing
  std::string utf8;
  if (!Utf16ToUtf8(std::u16string(reinterpret_cast<const char16_t*>(buf), n), utf8)) return std::string();
  return utf8;
}

std::string ResolvePortName(std::u16string_view name, const std::optional<std::string>& given) {
  std::string utf8;
  if (given && !given->empty()) {
    utf8 = *given;
  } else if (!Utf16ToUtf8(name, utf8)) {
    return {};
  }
  if (utf8.size() >= 4 && (utf8[0] == 'C' || utf8[0] == 'c') && (utf8[1] == 'O' || utf8[1] == 'o') &&
      (utf8[2] == 'M' || utf8[2] == 'm')) {
    std::string digits = utf8.substr(3);
    if (!digits.empty() && digits.back() == ':') digits.pop_back();
    bool numeric = !digits.empty() && digits.size() <= 3 && digits[0] != '0';
    for (char c : digits) numeric = numeric && c >= '0' && c <= '9';
    if (numeric) return "\\\\.\\COM" + digits;
  }
  return utf8;
}

}  // namespace fennwick
