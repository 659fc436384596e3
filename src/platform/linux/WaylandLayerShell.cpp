#include "platform/linux/WaylandLayerShell.h"

#include <qpa/qplatformnativeinterface.h>
#include <QGuiApplication>
#include <QPointer>
#include <QWindow>

#include <wayland-client.h>
// The generated header names a parameter `namespace`.
#define namespace layer_namespace
#include <wlr-layer-shell-unstable-v1-client-protocol.h>
#undef namespace

#include <algorithm>
#include <cstring>

namespace nimbrel::native {

struct WaylandLayerShell::Surface {
    zwlr_layer_surface_v1* layer = nullptr;
    QPointer<QWindow> window;
    std::function<void()> closed;
    bool configured = false;
};

namespace {

void announce(void* data, wl_registry* registry, uint32_t name, const char* interface, uint32_t version)
{
    if (std::strcmp(interface, zwlr_layer_shell_v1_interface.name) == 0)
        *static_cast<zwlr_layer_shell_v1**>(data) = static_cast<zwlr_layer_shell_v1*>(
            wl_registry_bind(registry, name, &zwlr_layer_shell_v1_interface, std::min<uint32_t>(version, 4)));
}

void forget(void*, wl_registry*, uint32_t)
{
}

const wl_registry_listener registryListener{announce, forget};

void configure(void* data, zwlr_layer_surface_v1* layer, uint32_t serial, uint32_t width, uint32_t height)
{
    auto* surface = static_cast<WaylandLayerShell::Surface*>(data);
    zwlr_layer_surface_v1_ack_configure(layer, serial);
    surface->configured = true;
    // A spanned direction gets the output's size: the window takes it before it draws.
    if (surface->window && width > 0 && height > 0 && surface->window->size() != QSize(int(width), int(height)))
        surface->window->resize(int(width), int(height));
}

void closed(void* data, zwlr_layer_surface_v1*)
{
    auto* surface = static_cast<WaylandLayerShell::Surface*>(data);
    if (surface->closed)
        surface->closed();
}

const zwlr_layer_surface_v1_listener layerListener{configure, closed};

}  // namespace

WaylandLayerShell::WaylandLayerShell()
{
    if (!QGuiApplication::platformName().startsWith(QLatin1String("wayland")))
        return;
    QPlatformNativeInterface* native = QGuiApplication::platformNativeInterface();
    m_display = native ? static_cast<wl_display*>(native->nativeResourceForIntegration("wl_display")) : nullptr;
    if (!m_display)
        return;
    // Nimbrel's own queue, so the first configure can be waited for without dispatching Qt's events.
    m_queue = wl_display_create_queue(m_display);
    auto* display = static_cast<wl_display*>(wl_proxy_create_wrapper(m_display));
    wl_proxy_set_queue(reinterpret_cast<wl_proxy*>(display), m_queue);
    wl_registry* registry = wl_display_get_registry(display);
    wl_registry_add_listener(registry, &registryListener, &m_shell);
    wl_display_roundtrip_queue(m_display, m_queue);
    wl_registry_destroy(registry);
    wl_proxy_wrapper_destroy(display);
}

WaylandLayerShell::~WaylandLayerShell()
{
    for (QWindow* window : m_surfaces.keys())
        detach(window);
    if (m_shell)
        zwlr_layer_shell_v1_destroy(m_shell);
    if (m_queue)
        wl_event_queue_destroy(m_queue);
}

bool WaylandLayerShell::attach(QWindow* window, const Placement& placement, std::function<void()> closedHandler)
{
    if (!m_shell || !window)
        return false;
    detach(window);
    QPlatformNativeInterface* native = QGuiApplication::platformNativeInterface();
    auto* surface = static_cast<wl_surface*>(native->nativeResourceForWindow("surface", window));
    if (!surface)
        return false;

    auto* placed = new Surface{nullptr, window, std::move(closedHandler)};
    // A null output: the compositor picks the one the user works on (the focused one).
    placed->layer = zwlr_layer_shell_v1_get_layer_surface(
        m_shell, surface, nullptr,
        placement.overlay ? ZWLR_LAYER_SHELL_V1_LAYER_OVERLAY : ZWLR_LAYER_SHELL_V1_LAYER_TOP, "nimbrel");
    zwlr_layer_surface_v1_add_listener(placed->layer, &layerListener, placed);
    uint32_t anchors = 0;
    if (placement.edges & top)
        anchors |= ZWLR_LAYER_SURFACE_V1_ANCHOR_TOP;
    if (placement.edges & bottom)
        anchors |= ZWLR_LAYER_SURFACE_V1_ANCHOR_BOTTOM;
    if (placement.edges & left)
        anchors |= ZWLR_LAYER_SURFACE_V1_ANCHOR_LEFT;
    if (placement.edges & right)
        anchors |= ZWLR_LAYER_SURFACE_V1_ANCHOR_RIGHT;
    const bool spansWidth = (placement.edges & left) && (placement.edges & right);
    const bool spansHeight = (placement.edges & top) && (placement.edges & bottom);
    zwlr_layer_surface_v1_set_size(placed->layer, spansWidth ? 0 : uint32_t(window->width()),
                                   spansHeight ? 0 : uint32_t(window->height()));
    zwlr_layer_surface_v1_set_anchor(placed->layer, anchors);
    const QMargins& m = placement.margins;
    zwlr_layer_surface_v1_set_margin(placed->layer, m.top(), m.right(), m.bottom(), m.left());
    // A spanning catcher covers bars too; the panel keeps clear of them.
    zwlr_layer_surface_v1_set_exclusive_zone(placed->layer, spansWidth && spansHeight ? -1 : 0);
    zwlr_layer_surface_v1_set_keyboard_interactivity(placed->layer, placement.keyboard ? 1 : 0);
    wl_surface_commit(surface);
    // The first configure comes before Qt draws the first frame: a buffer before it is a protocol error.
    while (!placed->configured && wl_display_roundtrip_queue(m_display, m_queue) >= 0) {
    }
    if (!placed->configured) {
        zwlr_layer_surface_v1_destroy(placed->layer);
        delete placed;
        return false;
    }
    // Later configures (an output that changes size) and the closing come with Qt's own events.
    wl_proxy_set_queue(reinterpret_cast<wl_proxy*>(placed->layer), nullptr);
    m_surfaces.insert(window, placed);
    return true;
}

void WaylandLayerShell::detach(QWindow* window)
{
    Surface* placed = m_surfaces.take(window);
    if (!placed)
        return;
    zwlr_layer_surface_v1_destroy(placed->layer);
    delete placed;
    // Once the compositor has taken the place away, the keyboard is back with the window behind: keys
    // typed for a paste from now on, over another connection, reach that window and not the panel.
    wl_display_roundtrip_queue(m_display, m_queue);
}

}  // namespace nimbrel::native
