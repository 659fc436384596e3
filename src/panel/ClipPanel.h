#pragma once

#include "settings/PanelMode.h"

#include <QWidget>

#include <optional>

namespace nimbrel {

// The floating panel window: frameless, translucent, above other windows, and never activated, so
// the application in front keeps the focus and receives the paste. The content paints its own rounded
// background and shadow. `layered`: the window is placed on a layer of the desktop (Wayland's layer
// shell) rather than managed as a window, and has the keyboard while it is shown.
class ClipPanel final : public QWidget {
    Q_OBJECT
public:
    // `closesWhenLeft`: an ordinary window that has the keyboard (Wayland without layers) says when it loses
    // it, the one sign there of a click elsewhere.
    explicit ClipPanel(bool layered = false, bool closesWhenLeft = false);

    // The placement this panel was built for; none right after construction.
    std::optional<PanelMode> cachedMode;

    // Replaces the content (the panel takes ownership).
    void setContent(QWidget* content);
    QWidget* content() const { return m_content; }

Q_SIGNALS:
    // The panel had the keyboard and lost it to another window.
    void left();
    // The panel was hidden, whichever way (by Nimbrel or by the window manager).
    void hidden();

protected:
    bool event(QEvent* event) override;

private:
    QWidget* m_content = nullptr;
    bool m_closesWhenLeft = false;
    bool m_wasActive = false;
};

// The large preview of an image record beside the pointer: above everything, takes neither the focus
// nor clicks (they pass through to what lies beneath).
class ImagePreviewWindow final : public QWidget {
    Q_OBJECT
public:
    explicit ImagePreviewWindow(bool layered = false);
    void setImage(const QImage& image);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QImage m_image;
};

// Where the panel is on a layer of its own, clicks elsewhere cannot be watched: this transparent window
// spans the output under the panel and takes them instead, each one closing the panel.
class ClickCatcher final : public QWidget {
    Q_OBJECT
public:
    ClickCatcher();

Q_SIGNALS:
    void clicked();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
};

}  // namespace nimbrel
