// Asks the window manager to act on a window, as a task bar does:
//   wm-message close WINDOW     _NET_CLOSE_WINDOW (the window gets WM_DELETE_WINDOW)
//   wm-message maximize WINDOW  _NET_WM_STATE add both maximised states
//   wm-message restore WINDOW   _NET_ACTIVE_WINDOW (a minimised window comes back)
#include <xcb/xcb.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

namespace {

xcb_atom_t Atom(xcb_connection_t* c, const char* name) {
    const auto cookie = xcb_intern_atom(c, 0, static_cast<std::uint16_t>(std::strlen(name)), name);
    std::unique_ptr<xcb_intern_atom_reply_t, decltype(&std::free)> reply(
        xcb_intern_atom_reply(c, cookie, nullptr), &std::free);
    return reply ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
}

void Send(xcb_connection_t* c, xcb_window_t root, xcb_window_t w, xcb_atom_t type, std::uint32_t d0,
          std::uint32_t d1 = 0, std::uint32_t d2 = 0) {
    xcb_client_message_event_t e{};
    e.response_type = XCB_CLIENT_MESSAGE;
    e.format = 32;
    e.window = w;
    e.type = type;
    e.data.data32[0] = d0;
    e.data.data32[1] = d1;
    e.data.data32[2] = d2;
    e.data.data32[3] = 1;  // source: an application
    xcb_send_event(c, 0, root,
                   XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                   reinterpret_cast<const char*>(&e));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: wm-message close|maximize|restore WINDOW\n");
        return 2;
    }
    const std::string action = argv[1];
    const auto window = static_cast<xcb_window_t>(std::strtoul(argv[2], nullptr, 0));
    xcb_connection_t* c = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(c)) {
        std::fprintf(stderr, "wm-message: no X display\n");
        return 1;
    }
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
    if (action == "close") {
        Send(c, root, window, Atom(c, "_NET_CLOSE_WINDOW"), XCB_CURRENT_TIME, 2);
    } else if (action == "maximize") {
        Send(c, root, window, Atom(c, "_NET_WM_STATE"), 1, Atom(c, "_NET_WM_STATE_MAXIMIZED_VERT"),
             Atom(c, "_NET_WM_STATE_MAXIMIZED_HORZ"));
    } else if (action == "restore") {
        Send(c, root, window, Atom(c, "_NET_ACTIVE_WINDOW"), 2, XCB_CURRENT_TIME);
    } else {
        std::fprintf(stderr, "wm-message: unknown action '%s'\n", argv[1]);
        xcb_disconnect(c);
        return 2;
    }
    xcb_flush(c);
    xcb_disconnect(c);
    return 0;
}
