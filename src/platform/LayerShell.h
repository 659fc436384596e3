#pragma once

#include <QMargins>
#include <QtGlobal>

#include <functional>

class QWindow;

namespace nimbrel {

// Puts windows on the desktop's own layers where it has them (Wayland's layer shell): the panel over
// every window, anchored to an edge of the output the user works on, with the keyboard to itself while
// it is shown; under it, a transparent catcher of clicks elsewhere.
class LayerShell {
public:
    LayerShell() = default;
    virtual ~LayerShell() = default;
    LayerShell(const LayerShell&) = delete;
    LayerShell& operator=(const LayerShell&) = delete;

    enum Edge : quint8 { top = 1, bottom = 2, left = 4, right = 8 };
    struct Placement {
        // The edges the window is anchored to; a window anchored to two opposite edges spans the output
        // between them, and its size in that direction is the output's.
        quint8 edges = 0;
        // Distances from the anchored edges.
        QMargins margins;
        // Over everything (the panel), or only over ordinary windows (the click catcher under the panel).
        bool overlay = true;
        // Takes the keyboard from every other window while mapped.
        bool keyboard = false;
    };

    // Gives a shown window (made with Qt::BypassWindowManagerHint, so Qt gives it no role of its own) its
    // place on a layer, sized to the window where not spanned; false when that cannot be done. `closed`
    // is called when the desktop takes the place away (its output went).
    virtual bool attach(QWindow* window, const Placement& placement, std::function<void()> closed = {}) = 0;
    // Takes the place away again, before the window is hidden; returns once the desktop has done so.
    virtual void detach(QWindow* window) = 0;
};

}  // namespace nimbrel
