#include "LineSettingsLinux.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>

#include <cerrno>
#include <cstdlib>

namespace kordel::linux_tty {

namespace {

tcflag_t SizeFlag(int dataBits) {
    switch (dataBits) {
        case 5:
            return CS5;
        case 6:
            return CS6;
        case 7:
            return CS7;
        default:
            return CS8;
    }
}

// Drivers round the rate to what their divisor allows; a UART tolerates a few per
// cent, so only a rate that is far off counts as refused.
bool CloseEnough(std::uint32_t wanted, std::uint32_t actual) {
    const auto diff =
        static_cast<std::uint64_t>(std::llabs(static_cast<long long>(wanted) - actual));
    return diff * 100 <= static_cast<std::uint64_t>(wanted) * 3;
}

}  // namespace

int ApplyLineSettings(int fd, const TLineSettings& s) {
    if (s.baud == 0 || s.stopBits == TStopBits::sbOne5StopBits) return EINVAL;
    struct termios2 tio {};
    if (ioctl(fd, TCGETS2, &tio) != 0) return errno;

    tio.c_iflag &= ~(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON | IXOFF |
                     IXANY | INPCK | IGNPAR);
    tio.c_oflag &= ~OPOST;
    tio.c_lflag &= ~(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    tio.c_cflag &= ~(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS | HUPCL | CBAUD | CIBAUD);
    tio.c_cflag |= SizeFlag(s.dataBits) | CLOCAL | CREAD | BOTHER | (BOTHER << IBSHIFT);

    switch (s.parity) {
        case TParityBits::prNone:
            break;
        case TParityBits::prOdd:
            tio.c_cflag |= PARENB | PARODD;
            break;
        case TParityBits::prEven:
            tio.c_cflag |= PARENB;
            break;
        case TParityBits::prMark:
            tio.c_cflag |= PARENB | CMSPAR | PARODD;
            break;
        case TParityBits::prSpace:
            tio.c_cflag |= PARENB | CMSPAR;
            break;
    }
    if (s.parityCheck) tio.c_iflag |= INPCK;
    if (s.stopBits == TStopBits::sbTwoStopBits) tio.c_cflag |= CSTOPB;
    if (s.outCTSFlow || s.controlRTS == TRTSFlowControl::rtsHandshake) tio.c_cflag |= CRTSCTS;
    if (s.xonXoffOut) tio.c_iflag |= IXON;
    if (s.xonXoffIn) tio.c_iflag |= IXOFF;
    tio.c_cc[VSTART] = s.xonChar;
    tio.c_cc[VSTOP] = s.xoffChar;
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    tio.c_ospeed = s.baud;
    tio.c_ispeed = s.baud;

    if (ioctl(fd, TCSETS2, &tio) != 0) return errno;
    struct termios2 back {};
    if (ioctl(fd, TCGETS2, &back) != 0) return errno;
    return CloseEnough(s.baud, back.c_ospeed) ? 0 : EINVAL;
}

int LeaveAtB0(int fd) {
    struct termios2 tio {};
    if (ioctl(fd, TCGETS2, &tio) != 0) return errno;
    tio.c_cflag &= ~(CBAUD | CIBAUD);
    tio.c_cflag |= B0;
    tio.c_ospeed = tio.c_ispeed = 0;
    return ioctl(fd, TCSETS2, &tio) != 0 ? errno : 0;
}

}  // namespace kordel::linux_tty
