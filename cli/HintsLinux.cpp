#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

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

std::string UserName(uid_t uid) {
    passwd entry{}, *found = nullptr;
    char buffer[1024];
    if (::getpwuid_r(uid, &entry, buffer, sizeof buffer, &found) == 0 && found)
        return found->pw_name;
    return std::to_string(uid);
}

std::string GroupName(gid_t gid) {
    group entry{}, *found = nullptr;
    char buffer[4096];
    if (::getgrgid_r(gid, &entry, buffer, sizeof buffer, &found) == 0 && found)
        return found->gr_name;
    return std::to_string(gid);
}

bool ThisProcessIsInGroup(gid_t gid) {
    if (::getegid() == gid) return true;
    const int count = ::getgroups(0, nullptr);
    std::vector<gid_t> groups(static_cast<std::size_t>(std::max(count, 0)));
    const int n = ::getgroups(count, groups.data());
    for (int i = 0; i < n; ++i) {
        if (groups[static_cast<std::size_t>(i)] == gid) return true;
    }
    return false;
}

// The device's owner, group and mode say who may open it; the dialout group is the
// answer only where the device's group may read and write it.
std::string PermissionHint(const std::string& port) {
    struct stat st {};
    if (port.empty() || ::stat(port.c_str(), &st) != 0) {
        return "permission denied: ask whoever runs this machine for access to the port";
    }
    char mode[8];
    std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(st.st_mode & 07777));
    const std::string group = GroupName(st.st_gid);
    const std::string text = "permission denied: " + port + " belongs to " + UserName(st.st_uid) +
                             ":" + group + " with mode " + mode;
    constexpr mode_t GroupReadWrite = S_IRGRP | S_IWGRP;
    if ((st.st_mode & GroupReadWrite) != GroupReadWrite) {
        return text +
               ", so its group may not use it: ask whoever runs this machine for access "
               "(a udev rule can give the device a group that may)";
    }
    if (ThisProcessIsInGroup(st.st_gid)) {
        return text + ", and this program runs in the group " + group +
               ": something else refuses it (an access list or a security module)";
    }
    return text + ": add your user to the " + group + " group (sudo usermod -aG " + group +
           " $USER) and log in again";
}

}  // namespace

std::string HintFor(const EComPort& e, const std::string& port) {
    const int error = e.WinCode();
    if (error <= 0) return ConditionHint(e.Code());
    const bool settingUp = e.Code() - 1 == CE_OpenFailed || e.Code() - 1 == CE_SetStateFailed;
    switch (error) {
        case EACCES:
        case EPERM:
            // Only the open asks for the device's permissions; an open port that
            // refuses a write or a setting has lost its device (a driver unbound).
            if (e.Code() - 1 == CE_OpenFailed) return PermissionHint(port);
            return "the port refused it (" + SystemText(error) +
                   "): was the device unplugged or its driver unbound?";
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
