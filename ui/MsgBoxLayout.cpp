#include "MsgBoxLayout.h"

#include <algorithm>

namespace kordel {

namespace {

struct ButtonKind {
    TMsgDlgBtn member;
    const char* caption;
    int result;
};

// The fixed order of the row, whatever the order of the set.
constexpr ButtonKind ButtonOrder[] = {
    {mbClose,
     "Schlie\xC3\x9F"
     "en",
     mrCancel},
    {mbYes, "Ja", mrYes},
    {mbNo, "Nein", mrNo},
    {mbOK, "Ok", mrOk},
    {mbIgnore, "Ignorieren", mrIgnore},
    {mbAbort, "Abbruch", mrAbort},
};

constexpr int ButtonWidth = 75;
constexpr int ButtonGap = 10;

// Appends a button and centres the whole row again; "div" truncates toward zero.
void AddButton(TMsgBoxLayout& layout, const char* caption, int result) {
    TMsgButtonSpec b;
    b.caption = caption;
    b.result = result;
    b.top = layout.outerHeight - 55;
    layout.buttons.push_back(b);
    const int count = static_cast<int>(layout.buttons.size());
    layout.buttons.back().name = "But" + std::to_string(count);
    const int rowWidth = ButtonWidth * count + ButtonGap * (count - 1);
    int x = layout.outerWidth / 2 - rowWidth / 2;
    for (auto& button : layout.buttons) {
        button.left = x;
        x += ButtonWidth + ButtonGap;
    }
}

}  // namespace

TMsgBoxLayout LayoutMsgBox(TMsgDlgType type, const std::string& captionTitle, TMsgBut buttons,
                           int labelWidth, int labelHeight) {
    static const char* const captions[] = {"Warning", "Error", "Information", "Confirmation",
                                           "Message"};
    TMsgBoxLayout layout;
    layout.iconIndex = type == mtCustom ? -1 : static_cast<int>(type);
    layout.imageVisible = layout.iconIndex >= 0;
    layout.labelLeft = layout.imageVisible ? MsgImageLeft + MsgImageSize + 20 : 20;
    layout.caption = captionTitle.empty() ? captions[std::min<int>(type, mtCustom)] : captionTitle;
    layout.outerWidth = std::max(280, layout.labelLeft + labelWidth + 20);
    layout.outerHeight = std::max(120, labelHeight + 75);
    for (const auto& kind : ButtonOrder) {
        if (buttons.Contains(kind.member)) AddButton(layout, kind.caption, kind.result);
    }
    return layout;
}

}  // namespace kordel
