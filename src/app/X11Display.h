#pragma once

#include <xcb/xcb.h>

#include <cstdlib>
#include <memory>
#include <optional>

namespace velmora {

// The program's own connection to the X display, with the root window of its screen; none away
// from X (Wayland, the offscreen platform).
struct X11Display {
    xcb_connection_t *connection;
    xcb_window_t root;
};
std::optional<X11Display> x11Display();

// A reply of the display, freed as xcb asks.
template <typename Reply> using XcbReply = std::unique_ptr<Reply, decltype(&std::free)>;
template <typename Reply> XcbReply<Reply> xcbReply(Reply *reply) {
    return XcbReply<Reply>(reply, &std::free);
}

} // namespace velmora
