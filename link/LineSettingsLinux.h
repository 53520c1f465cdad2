// Programming a Linux tty through termios2, which takes any line speed (BOTHER).
// <asm/termbits.h> clashes with <termios.h>, so this lives in a translation unit of
// its own and speaks plain types.
#pragma once

#include <cstdint>

#include "ComPort.h"

namespace kordel::linux_tty {

// Raw mode plus the given line settings; returns 0 or errno. `actualBaud` is the
// output rate the driver reports afterwards.
int ApplyLineSettings(int fd, const TLineSettings& s, std::uint32_t& actualBaud);

// Sets the line speed to B0 (which drops DTR and RTS) and leaves the rest as it is; the
// tty keeps it for the next open, which then raises neither line. Returns 0 or errno.
int LeaveAtB0(int fd);

// The line as the driver has it now.
struct LineParams {
    std::uint32_t outputBaud = 0;
    std::uint32_t inputBaud = 0;
    int dataBits = 0;
    bool parity = false;
    bool twoStopBits = false;
    bool rtsCtsFlow = false;
    bool xonXoff = false;
    bool raw = false;  // no echo, no canonical input, no output processing
};
int ReadLineParams(int fd, LineParams& out);

}  // namespace kordel::linux_tty
