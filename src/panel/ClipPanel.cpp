#include "panel/ClipPanel.h"

#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QVBoxLayout>

namespace nimbrel {

namespace {

constexpr qreal previewCornerRadius = 8;

// A window on a layer of the desktop: Qt gives it no shell role of its own (with
// QT_WAYLAND_USE_BYPASSWINDOWMANAGERHINT set), so the layer shell can give it one.
constexpr Qt::WindowFlags layeredFlags =
    Qt::Window | Qt::FramelessWindowHint | Qt::BypassWindowManagerHint | Qt::NoDropShadowWindowHint;

}  // namespace

ClipPanel::ClipPanel(bool layered, bool closesWhenLeft)
    : QWidget(nullptr, layered ? layeredFlags
                               : Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                                     Qt::NoDropShadowWindowHint |
                                     (closesWhenLeft ? Qt::WindowFlags() : Qt::WindowDoesNotAcceptFocus))
{
    // On X11 the panel never takes the focus: it holds the keyboard with a grab while the application behind
    // stays active. A Wayland compositor gives the keyboard only to the window it activates.
    setAttribute(Qt::WA_ShowWithoutActivating, !layered && !closesWhenLeft);
    m_closesWhenLeft = closesWhenLeft;
    // The application in front stays active on X11: the pin control's tooltip must show all the same.
    setAttribute(Qt::WA_AlwaysShowToolTips);
    setAttribute(Qt::WA_TranslucentBackground);
    setWindowTitle(QStringLiteral("Nimbrel"));
    resize(800, 240);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
}

bool ClipPanel::event(QEvent* event)
{
    if (event->type() == QEvent::WindowActivate) {
        m_wasActive = true;
    } else if (event->type() == QEvent::WindowDeactivate && m_wasActive) {
        m_wasActive = false;
        if (m_closesWhenLeft && isVisible())
            Q_EMIT left();
    } else if (event->type() == QEvent::Hide) {
        m_wasActive = false;
        const bool handled = QWidget::event(event);
        Q_EMIT hidden();
        return handled;
    }
    return QWidget::event(event);
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
