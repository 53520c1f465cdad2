// The message dialog's types and its layout arithmetic, apart from any toolkit.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kordel {

enum TMsgDlgType : std::uint8_t { mtWarning, mtError, mtInformation, mtConfirmation, mtCustom };
enum TMsgDlgBtn : std::uint8_t { mbYes, mbNo, mbOK, mbClose, mbIgnore, mbAbort };

// A set of TMsgDlgBtn: bit n stands for the member with ordinal n.
class TMsgBut {
  public:
    constexpr TMsgBut() = default;
    constexpr TMsgBut(std::initializer_list<TMsgDlgBtn> members) {
        for (auto m : members) bits_ |= static_cast<std::uint8_t>(1u << m);
    }
    constexpr bool Contains(TMsgDlgBtn m) const { return (bits_ >> m) & 1u; }
    constexpr std::uint8_t Bits() const { return bits_; }

  private:
    std::uint8_t bits_ = 0;
};

// Dialog result codes.
inline constexpr int mrNone = 0;
inline constexpr int mrOk = 1;
inline constexpr int mrCancel = 2;
inline constexpr int mrAbort = 3;
inline constexpr int mrIgnore = 5;
inline constexpr int mrYes = 6;
inline constexpr int mrNo = 7;

struct TMsgButtonSpec {
    std::string name;     // But1, But2, ...
    std::string caption;  // German, UTF-8
    int result = mrNone;
    int left = 0;
    int top = 0;
    int width = 75;
    int height = 25;
};

struct TMsgBoxLayout {
    std::string caption;
    int iconIndex = -1;  // -1: no picture
    bool imageVisible = false;
    int labelLeft = 0;
    int labelTop = 8;
    int outerWidth = 0;   // frame included
    int outerHeight = 0;  // frame and caption included
    std::vector<TMsgButtonSpec> buttons;
};

inline constexpr int MsgImageLeft = 16;
inline constexpr int MsgImageTop = 16;
inline constexpr int MsgImageSize = 32;

// Lays the dialog out for a label of the given size (the size its text takes).
TMsgBoxLayout LayoutMsgBox(TMsgDlgType type, const std::string& captionTitle, TMsgBut buttons,
                           int labelWidth, int labelHeight);

}  // namespace kordel
