#pragma once

#include "platform/LayerShell.h"

#include <QHash>

#include <memory>

struct wl_display;
struct wl_event_queue;
struct zwlr_layer_shell_v1;
struct zwlr_layer_surface_v1;

namespace nimbrel::native {

// The layer shell (zwlr_layer_shell_v1) on Qt's own Wayland connection: the role is given to the surface
// of a window that Qt leaves without one (QT_WAYLAND_USE_BYPASSWINDOWMANAGERHINT and the window's
// Qt::BypassWindowManagerHint), right after it is shown and before Qt draws its first frame. Qt 6.4 has no
// public API for its shell integrations; this needs only the window's surface and Qt's display.
class WaylandLayerShell final : public LayerShell {
public:
    // Unavailable unless Qt runs on Wayland and the compositor offers the layer shell.
    WaylandLayerShell();
    ~WaylandLayerShell() override;

    bool isAvailable() const { return m_shell != nullptr; }
    bool attach(QWindow* window, const Placement& placement, std::function<void()> closed = {}) override;
    void detach(QWindow* window) override;

    struct Surface;

private:
    wl_display* m_display = nullptr;
    wl_event_queue* m_queue = nullptr;
    zwlr_layer_shell_v1* m_shell = nullptr;
    QHash<QWindow*, Surface*> m_surfaces;
};

}  // namespace nimbrel::native
