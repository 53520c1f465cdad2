// The lines of the debug log, apart from the window that shows them.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace kordel {

class TDebugLog {
  public:
    // Receives each appended line; `clear` empties the view.
    std::function<void(const std::string& line)> append;
    std::function<void()> clear;

    void C();
    void S(const std::string& s1);
    void D(std::int32_t n);
    void H(std::int32_t n);
    void L(char16_t c);
    void TH(const std::string& txt, std::int32_t n);
    // "Anzahl: N" and the dump of the first N bytes; anz -1 dumps the whole array.
    void DUMP(const std::vector<std::uint8_t>& arr, std::int32_t anz);
    void BUFF(const std::uint8_t* buf, std::int32_t anz);

  private:
    void Append(const std::string& line) {
        if (append) append(line);
    }
};

std::string Hex8(std::int32_t n);

}  // namespace kordel
