// Window-manager hints that Qt does not set itself, for X11 displays.
#include <xcb/xcb.h>

#include <QGuiApplication>
#include <QWidget>
#include <QWindow>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "Widgets.h"

namespace kordel::qt {

namespace {

// The Motif window-manager hints (_MOTIF_WM_HINTS), five 32-bit fields.
constexpr std::uint32_t MwmHintsFunctions = 1u << 0;
constexpr std::uint32_t MwmHintsDecorations = 1u << 1;
constexpr std::uint32_t MwmFuncMove = 1u << 2;
constexpr std::uint32_t MwmFuncClose = 1u << 5;
constexpr std::uint32_t MwmDecorBorder = 1u << 1;
constexpr std::uint32_t MwmDecorTitle = 1u << 3;

xcb_atom_t Atom(xcb_connection_t* c, const char* name) {
    const auto cookie = xcb_intern_atom(c, 0, static_cast<std::uint16_t>(std::strlen(name)), name);
    std::unique_ptr<xcb_intern_atom_reply_t, decltype(&std::free)> reply(
        xcb_intern_atom_reply(c, cookie, nullptr), &std::free);
    return reply ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
}

}  // namespace

// Qt writes the function hints for a caption without buttons but leaves the
// decorations to the window manager, which then draws all its buttons.
void SetCaptionOnlyDecorations(QWidget* window) {
    if (QGuiApplication::platformName() != "xcb") return;
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    if (!x11 || !window->windowHandle()) return;
    xcb_connection_t* c = x11->connection();
    const xcb_atom_t hints = Atom(c, "_MOTIF_WM_HINTS");
    if (hints == XCB_ATOM_NONE) return;
    const std::array<std::uint32_t, 5> value{MwmHintsFunctions | MwmHintsDecorations,
                                             MwmFuncMove | MwmFuncClose,
                                             MwmDecorBorder | MwmDecorTitle, 0, 0};
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, static_cast<xcb_window_t>(window->winId()), hints,
                        hints, 32, static_cast<std::uint32_t>(value.size()), value.data());
    xcb_flush(c);
}

}  // namespace kordel::qt
