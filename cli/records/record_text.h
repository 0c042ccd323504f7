#pragma once
// How a run's values are written into the log-file records and the system log so that no
// value can pass for a line or a field of its own: UTF-8 text, one escape for every byte
// that could end a line, hide itself or is not UTF-8.
#include <string>
#include <string_view>

namespace fennwick {

// `text` with backslash as "\\", LF "\n", CR "\r", TAB "\t", and "\xHH" (two upper-case
// hex digits) for every other control byte (C0, DEL, the two bytes of a C1 control) and
// every byte that is not part of well-formed UTF-8. `quote`: '"' too, as "\"".
std::string RecordEscaped(std::string_view text, bool quote);
// `text` escaped and in double quotes: "\"SN-7 result=ok\"".
std::string RecordQuoted(std::string_view text);
// As RecordQuoted, but every byte from 0x80 as "\xHH" too: a file's bytes, whatever their
// code page, shown as they are.
std::string AsciiQuoted(std::string_view text);
// Text from outside (a name from the environment, a device's own strings) as a terminal
// shows it: as RecordEscaped, but a backslash and '"' stand for themselves (a Windows path
// stays readable). For display only; it is not meant to be read back.
std::string ShownText(std::string_view text);
// The inverse of RecordEscaped, RecordQuoted and AsciiQuoted (quotes already taken off): the
// original bytes, or false for a malformed escape.
bool RecordUnescape(std::string_view text, std::string& out);

// Device text (the log, the MCU's replies: the device's 8-bit code page with CR LF) as
// UTF-8 with LF.
std::string DeviceTextUtf8(std::string_view cp1252);

}  // namespace fennwick
