#include "panel/ClipPanel.h"

#include <QGuiApplication>
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

ClipPanel::ClipPanel()
    : QWidget(nullptr, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::NoDropShadowWindowHint |
                           (takesFocus() ? Qt::WindowFlags() : Qt::WindowDoesNotAcceptFocus))
{
    setAttribute(Qt::WA_ShowWithoutActivating, !takesFocus());
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

ImagePreviewWindow::ImagePreviewWindow()
    : QWidget(nullptr, Qt::ToolTip | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                           Qt::WindowTransparentForInput | Qt::WindowDoesNotAcceptFocus | Qt::NoDropShadowWindowHint)
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

}  // namespace nimbrel
