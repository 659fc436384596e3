#pragma once

#include "settings/PanelMode.h"

#include <QWidget>

#include <optional>

namespace nimbrel {

// The floating panel window: frameless, translucent, above other windows, and never activated, so
// the application in front keeps the focus and receives the paste. The content paints its own rounded
// background and shadow.
class ClipPanel final : public QWidget {
    Q_OBJECT
public:
    ClipPanel();

    // The placement this panel was built for; none right after construction.
    std::optional<PanelMode> cachedMode;

    // Replaces the content (the panel takes ownership).
    void setContent(QWidget* content);
    QWidget* content() const { return m_content; }

private:
    QWidget* m_content = nullptr;
};

// The large preview of an image record beside the pointer: above everything, takes neither the focus
// nor clicks (they pass through to what lies beneath).
class ImagePreviewWindow final : public QWidget {
    Q_OBJECT
public:
    ImagePreviewWindow();
    void setImage(const QImage& image);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QImage m_image;
};

}  // namespace nimbrel
