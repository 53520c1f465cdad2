#include "LineParamsLinux.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>

#include <cerrno>

namespace kordel::sim {

int ReadLineParams(int fd, LineParams& out) {
    struct termios2 tio {};
    if (ioctl(fd, TCGETS2, &tio) != 0) return errno;
    out.outputBaud = tio.c_ospeed;
    out.inputBaud = tio.c_ispeed;
    switch (tio.c_cflag & CSIZE) {
        case CS5:
            out.dataBits = 5;
            break;
        case CS6:
            out.dataBits = 6;
            break;
        case CS7:
            out.dataBits = 7;
            break;
        default:
            out.dataBits = 8;
            break;
    }
    out.parity = (tio.c_cflag & PARENB) != 0;
    out.twoStopBits = (tio.c_cflag & CSTOPB) != 0;
    out.rtsCtsFlow = (tio.c_cflag & CRTSCTS) != 0;
    out.xonXoff = (tio.c_iflag & (IXON | IXOFF)) != 0;
    out.raw = (tio.c_lflag & (ECHO | ICANON | ISIG)) == 0 && (tio.c_oflag & OPOST) == 0;
    return 0;
}

}  // namespace kordel::sim
