#include "FormStorage.h"

#include <limits>
#include <optional>

namespace kordel {

namespace {

// Another group of show commands means no state was saved.
std::optional<TWindowState> MapShowCmd(int cmd) {
    switch (cmd) {
        case 1:
        case 5:
        case 9:
            return TWindowState::Normal;
        case 2:
        case 6:
        case 7:
            return TWindowState::Minimized;
        case 3:
            return TWindowState::Maximized;
        default:
            return std::nullopt;
    }
}

// The frame moved to left/top with its own size, or nothing when a corner (or the last
// pixel inside it) lies beyond the range of coordinates: a hand-edited position that no
// monitor can have.
std::optional<TRect> MovedTo(const TRect& frame, int left, int top) {
    const long long width = static_cast<long long>(frame.right) - frame.left;
    const long long height = static_cast<long long>(frame.bottom) - frame.top;
    const long long right = left + width, bottom = top + height;
    const auto fits = [](long long v) {
        return v >= std::numeric_limits<int>::min() && v <= std::numeric_limits<int>::max();
    };
    if (!fits(right) || !fits(bottom) || !fits(right - 1) || !fits(bottom - 1)) return std::nullopt;
    return TRect{left, top, static_cast<int>(right), static_cast<int>(bottom)};
}

}  // namespace

TFormStorage::TFormStorage(TIniFile& store, TPlacementWindow& window, std::string formName)
    : store_(store), window_(window), section_(std::move(formName)) {}

std::string TFormStorage::DesktopKey(const std::string& key) {
    const TPoint size = window_.VirtualDesktopSize();
    return key + "(" + std::to_string(size.x) + "x" + std::to_string(size.y) + ")";
}

std::string TFormStorage::ReadPositionText(const std::string& key) {
    const std::string suffixed = Path(DesktopKey(key));
    return store_.ValueExists(suffixed) ? store_.ReadString(suffixed, "")
                                        : store_.ReadString(Path(key), "");
}

void TFormStorage::RestoreFormPlacement() {
    const TPoint border = window_.ThinBorder();
    maxPosition_ = {-border.x, -border.y};
    store_.BeginUpdate();
    try {
        if (store_.ReadInteger(Path("FormVersion"), 0) >= Version) RestorePlacement();
    } catch (...) {
        // What was applied stays applied; the placement counts as not restored.
        store_.EndUpdate();
        throw;
    }
    store_.EndUpdate();
    restored_ = true;
}

void TFormStorage::RestorePlacement() {
    TWindowPlacement placement = window_.GetPlacement();
    placement.showCmd = ShowCmdHide;
    placement.flags = store_.ReadInteger(Path("Flags"), placement.flags);
    bool found = false;
    const std::string minMax = ReadPositionText("MinMaxPos");
    if (!minMax.empty()) {
        found = true;
        const auto v = ParseIntegerList(minMax, {0, 0, 0, 0});
        placement.minPosition = {v[0], v[1]};
    }
    const std::string norm = ReadPositionText("NormPos");
    bool representable = true;
    if (!norm.empty()) {
        found = true;
        TRect& r = placement.normalPosition;
        const auto v = ParseIntegerList(norm, {r.left, r.top, 0, 0});
        const auto moved = MovedTo(r, v[0], v[1]);
        representable = moved.has_value();
        if (moved) r = *moved;
    }
    const int ppi = store_.ReadInteger(Path("PixelsPerInch"), window_.ScreenPixelsPerInch());
    const TRect& r = placement.normalPosition;
    const bool positioned = found && representable && ppi == window_.ScreenPixelsPerInch() &&
                            r.right > r.left && window_.PointOnMonitor({r.left, r.top}) &&
                            window_.PointOnMonitor({r.right - 1, r.bottom - 1});
    if (positioned) {
        window_.UseOwnPosition();
        window_.SetPlacement(placement);
    }
    const TWindowState fallback = positioned ? TWindowState::Normal : TWindowState::Maximized;
    const int cmd = store_.ReadInteger(Path("ShowCmd"), ShowCmdNormal);
    const TWindowState state = MapShowCmd(cmd).value_or(fallback);
    if (state == TWindowState::Minimized) {
        window_.SetWindowState(TWindowState::Normal);
        window_.PostMinimize();
    } else {
        window_.SetWindowState(state);
    }
}

void TFormStorage::SaveFormPlacement() {
    saved_ = true;
    store_.BeginUpdate();
    store_.WriteInteger(Path("FormVersion"), Version);
    if (restored_) {
        TWindowPlacement p = window_.GetPlacement();
        if (window_.ApplicationMinimized()) p.showCmd = ShowCmdMinimized;
        p.maxPosition = maxPosition_;
        const std::string minMax =
            FormatIntegerList({p.minPosition.x, p.minPosition.y, p.maxPosition.x, p.maxPosition.y});
        const TRect& r = p.normalPosition;
        const std::string norm = FormatIntegerList({r.left, r.top, r.right, r.bottom});
        store_.WriteInteger(Path("ShowCmd"), p.showCmd);
        store_.WriteInteger(Path("Flags"), p.flags);
        store_.WriteInteger(Path("PixelsPerInch"), window_.ScreenPixelsPerInch());
        store_.WriteString(Path(DesktopKey("MinMaxPos")), minMax);
        store_.WriteString(Path("MinMaxPos"), minMax);
        store_.WriteString(Path(DesktopKey("NormPos")), norm);
        store_.WriteString(Path("NormPos"), norm);
    }
    store_.EndUpdate();
}

}  // namespace kordel
