#pragma once
// The serial device and the file system of the system that this build is for.
#include "platform/file.h"
#include "platform/port_name.h"
#include "platform/system_serial.h"
