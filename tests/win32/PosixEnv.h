// The few POSIX calls that tests shared with Linux use, over the Windows C runtime.
#pragma once

#include <direct.h>
#include <io.h>

#include <cstdlib>
#include <cstring>

inline int setenv(const char* name, const char* value, int /*overwrite*/) {
    return _putenv_s(name, value);
}
inline int unsetenv(const char* name) {
    return _putenv_s(name, "");
}

inline char* mkdtemp(char* pattern) {
    if (_mktemp_s(pattern, std::strlen(pattern) + 1) != 0) return nullptr;
    return _mkdir(pattern) == 0 ? pattern : nullptr;
}
