// The line settings of a tty as its driver holds them, read through termios2 so that
// any line speed shows (BOTHER). <asm/termbits.h> clashes with <termios.h>, so the
// reading lives in a translation unit of its own and speaks plain types.
#pragma once

#include <cstdint>

namespace kordel::sim {

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

// Fills `out` from the tty `fd` (either side of a pseudo-terminal); returns 0 or errno.
int ReadLineParams(int fd, LineParams& out);

}  // namespace kordel::sim
