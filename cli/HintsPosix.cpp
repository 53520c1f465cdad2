#include <cerrno>
#include <cstring>

#include "Hints.h"

namespace kordel::cli {

namespace {

// For a failure the system gave no error number for.
std::string ConditionHint(int code) {
    switch (code - 1) {
        case CE_OpenFailed:
        case CE_SetStateFailed:
        case CE_SetupComFailed:
        case CE_TimeoutsFailed:
            return "the port's driver refused to set the port up, without giving a reason";
        case CEPortNotOpen:
            return "the port was closed in the middle of the update";
        default:
            return "the port's driver failed without giving a reason: was the adapter unplugged?";
    }
}

std::string SystemText(int error) {
    char buffer[256];
    // The GNU strerror_r returns the text, which need not be in `buffer`.
    return ::strerror_r(error, buffer, sizeof buffer);
}

}  // namespace

std::string HintFor(const EComPort& e) {
    const int error = e.WinCode();
    if (error <= 0) return ConditionHint(e.Code());
    const bool settingUp = e.Code() - 1 == CE_OpenFailed || e.Code() - 1 == CE_SetStateFailed;
    switch (error) {
        case EACCES:
        case EPERM:
            return "permission denied: add your user to the dialout group "
                   "(sudo usermod -aG dialout $USER) and log in again";
        case EBUSY:
            return "device busy: another program holds the port";
        case ENOENT:
        case ENODEV:
        case ENXIO:
            return e.Code() - 1 == CE_OpenFailed
                       ? "no such device: check the name, list the ports with --list"
                       : "the device went away: was it unplugged?";
        case ENOTTY:
            return "not a serial port: check the name, list the ports with --list";
        case EIO:
            return "the device stopped answering the port: was it unplugged?";
        case EINVAL:
            if (settingUp) return "this port or adapter cannot run at 4407315 bit/s";
            return SystemText(error);
        case EOPNOTSUPP:
            if (e.Code() - 1 == CE_EscapeComFailed) {
                return "this adapter cannot send the break that starts an update: "
                       "use another adapter or the instrument's own serial port";
            }
            return SystemText(error);
        default:
            return SystemText(error);
    }
}

}  // namespace kordel::cli
