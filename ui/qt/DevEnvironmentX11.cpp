// Looks for a top-level window by its window class (WM_CLASS) on the X11 display.
#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "TMain.h"

namespace kordel::qt {

namespace {

// WM_CLASS holds "instance\0class\0"; either part matching counts.
bool HasClass(xcb_connection_t* c, xcb_window_t w, const char* windowClass) {
    auto cookie = xcb_get_property(c, 0, w, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 0, 256);
    std::unique_ptr<xcb_get_property_reply_t, decltype(&std::free)> reply(
        xcb_get_property_reply(c, cookie, nullptr), &std::free);
    if (!reply) return false;
    const char* value = static_cast<const char*>(xcb_get_property_value(reply.get()));
    const int length = xcb_get_property_value_length(reply.get());
    for (int start = 0; start < length;) {
        const std::string part(value + start, strnlen(value + start, length - start));
        if (part == windowClass) return true;
        start += static_cast<int>(part.size()) + 1;
    }
    return false;
}

// Top-level windows are the root's children, or their children under a window
// manager that puts a frame around each client.
bool Search(xcb_connection_t* c, xcb_window_t parent, const char* windowClass, int depth) {
    std::unique_ptr<xcb_query_tree_reply_t, decltype(&std::free)> tree(
        xcb_query_tree_reply(c, xcb_query_tree(c, parent), nullptr), &std::free);
    if (!tree) return false;
    const xcb_window_t* children = xcb_query_tree_children(tree.get());
    const int count = xcb_query_tree_children_length(tree.get());
    for (int i = 0; i < count; ++i) {
        if (HasClass(c, children[i], windowClass)) return true;
        if (depth > 1 && Search(c, children[i], windowClass, depth - 1)) return true;
    }
    return false;
}

}  // namespace

bool TopLevelWindowOfClassExists(const char* windowClass) {
    std::unique_ptr<xcb_connection_t, decltype(&xcb_disconnect)> c(xcb_connect(nullptr, nullptr),
                                                                   &xcb_disconnect);
    if (!c || xcb_connection_has_error(c.get())) return false;
    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c.get())).data;
    return screen && Search(c.get(), screen->root, windowClass, 2);
}

}  // namespace kordel::qt
