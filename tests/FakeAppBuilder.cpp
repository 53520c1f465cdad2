// Shows an empty top-level window whose window class is TAPPBUILDER, as the development
// environment's main window has, until it is killed.
#include <unistd.h>
#include <xcb/xcb.h>

#include <cstdio>

int main() {
    xcb_connection_t* c = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(c)) {
        std::fprintf(stderr, "fake-appbuilder: no X display\n");
        return 1;
    }
    xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
    const xcb_window_t w = xcb_generate_id(c);
    xcb_create_window(c, XCB_COPY_FROM_PARENT, w, screen->root, 400, 300, 100, 100, 0,
                      XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual, 0, nullptr);
    static const char wmClass[] = "appbuilder\0TAPPBUILDER";
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, w, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 8,
                        sizeof wmClass, wmClass);
    xcb_map_window(c, w);
    xcb_flush(c);
    std::puts("ready");
    std::fflush(stdout);
    pause();
    return 0;
}
