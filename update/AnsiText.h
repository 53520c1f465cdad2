// Texts in the platform's default 8-bit ("ANSI") code page: the code page of GetACP on
// Windows, Windows-1252 elsewhere. One implementation per platform.
#pragma once

#include <string>

namespace kordel {

std::string AnsiToUtf8(const std::string& bytes);
// Characters that the code page lacks become "?".
std::string Utf8ToAnsi(const std::string& utf8);

}  // namespace kordel
