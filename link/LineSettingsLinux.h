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
