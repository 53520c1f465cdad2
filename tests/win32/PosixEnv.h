// setenv/unsetenv for tests shared with Linux, over the Windows C runtime.
#pragma once

#include <cstdlib>

inline int setenv(const char* name, const char* value, int /*overwrite*/) {
    return _putenv_s(name, value);
}
inline int unsetenv(const char* name) {
    return _putenv_s(name, "");
}
