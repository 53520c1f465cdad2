// Programming a Linux tty through termios2, which takes any line speed (BOTHER).
// <asm/termbits.h> clashes with <termios.h>, so this lives in a translation unit of
// its own and speaks plain types.
#pragma once

#include <cstdint>

#include "ComPort.h"

namespace kordel::linux_tty {

// Raw mode plus the given line settings; returns 0 or errno, EINVAL too when the
// output rate the driver reports afterwards is far from the one asked for.
int ApplyLineSettings(int fd, const TLineSettings& s);

// Sets the line speed to B0 (which drops DTR and RTS) and leaves the rest as it is; the
// tty keeps it for the next open, which then raises neither line. Returns 0 or errno.
int LeaveAtB0(int fd);

}  // namespace kordel::linux_tty
