#include "panel/ClipPanel.h"

#include <QGuiApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QVBoxLayout>

namespace nimbrel {

namespace {
constexpr qreal previewCornerRadius = 8;
}

namespace {

// On X11 the panel never takes the focus: it holds the keyboard with a grab while the application behind stays
// active. A Wayland compositor gives the keyboard only to the window it activates, so there the panel is
// activated, and the focus goes back to the application when it hides.
bool takesFocus()
{
    return QGuiApplication::platformName().startsWith(QLatin1String("wayland"));
}

}  // namespace

// A window on a layer of the desktop: Qt gives it no shell role of its own (with
// QT_WAYLAND_USE_BYPASSWINDOWMANAGERHINT set), so the layer shell can give it one.
constexpr Qt::WindowFlags layeredFlags =
    Qt::Window | Qt::FramelessWindowHint | Qt::BypassWindowManagerHint | Qt::NoDropShadowWindowHint;

ClipPanel::ClipPanel(bool layered)
    : QWidget(nullptr, layered ? layeredFlags
                               : Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                                     Qt::NoDropShadowWindowHint |
                                     (takesFocus() ? Qt::WindowFlags() : Qt::WindowDoesNotAcceptFocus))
{
    setAttribute(Qt::WA_ShowWithoutActivating, !layered && !takesFocus());
    setAttribute(Qt::WA_TranslucentBackground);
    setWindowTitle(QStringLiteral("Nimbrel"));
    resize(800, 240);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
}

void ClipPanel::setContent(QWidget* content)
{
    delete m_content;
    m_content = content;
    layout()->addWidget(content);
}

ImagePreviewWindow::ImagePreviewWindow(bool layered)
    : QWidget(nullptr, layered ? layeredFlags | Qt::WindowTransparentForInput | Qt::WindowDoesNotAcceptFocus
                               : Qt::ToolTip | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                                     Qt::WindowTransparentForInput | Qt::WindowDoesNotAcceptFocus |
                                     Qt::NoDropShadowWindowHint)
{
    setAttribute(Qt::WA_ShowWithoutActivating);
    setAttribute(Qt::WA_TranslucentBackground);
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

void ImagePreviewWindow::setImage(const QImage& image)
{
    m_image = image;
    update();
}

void ImagePreviewWindow::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    QPainterPath clip;
    clip.addRoundedRect(QRectF(rect()), previewCornerRadius, previewCornerRadius);
    painter.setClipPath(clip);
    painter.drawImage(QRectF(rect()), m_image);
}

ClickCatcher::ClickCatcher() : QWidget(nullptr, layeredFlags | Qt::WindowDoesNotAcceptFocus)
{
    setAttribute(Qt::WA_TranslucentBackground);
    setAttribute(Qt::WA_ShowWithoutActivating);
    setWindowTitle(QStringLiteral("Nimbrel"));
}

void ClickCatcher::mousePressEvent(QMouseEvent* event)
{
    event->accept();
    Q_EMIT clicked();
}

void ClickCatcher::paintEvent(QPaintEvent*)
{
    // Fully transparent: what lies beneath shows through, only the click is taken.
    QPainter painter(this);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.fillRect(rect(), Qt::transparent);
}

}  // namespace nimbrel
