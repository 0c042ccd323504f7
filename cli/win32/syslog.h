#pragma once
// Windows has no system log of this kind: --syslog is refused before any run there, so
// these are never reached.
#define LOG_PID 0x01
#define LOG_USER (1 << 3)
#define LOG_ERR 3
#define LOG_INFO 6
inline void openlog(const char*, int, int) {}
inline void syslog(int, const char*, ...) {}
