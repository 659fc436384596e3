#pragma once

#include <xcb/xcb.h>

namespace nimbrel::native {

// Qt's own X11 connection; null on a session that is not X11, so every X11 service can report itself
// unavailable instead of failing.
xcb_connection_t* x11Connection();
xcb_window_t x11RootWindow(xcb_connection_t* connection);
// The atom of that name, XCB_ATOM_NONE when it cannot be had.
xcb_atom_t x11Atom(xcb_connection_t* connection, const char* name, bool onlyIfExists = false);

}  // namespace nimbrel::native
