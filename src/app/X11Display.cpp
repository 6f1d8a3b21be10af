#include "app/X11Display.h"

#include <QGuiApplication>

namespace velmora {

std::optional<X11Display> x11Display() {
    const auto *x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    xcb_connection_t *connection = x11 ? x11->connection() : nullptr;
    if (!connection)
        return std::nullopt;
    const xcb_screen_t *screen = xcb_setup_roots_iterator(xcb_get_setup(connection)).data;
    if (!screen)
        return std::nullopt;
    return X11Display{connection, screen->root};
}

} // namespace velmora
