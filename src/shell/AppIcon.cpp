#include "shell/AppIcon.h"

#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace nimbrel {

QImage appIconImage(int size, bool paused)
{
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    const qreal s = size;

    // The board.
    const QRectF board(s * 0.16, s * 0.12, s * 0.68, s * 0.82);
    p.setPen(QPen(QColor(0x2b, 0x2f, 0x3a), qMax(1.0, s * 0.06)));
    p.setBrush(QColor(0xf4, 0xf1, 0xea));
    p.drawRoundedRect(board, s * 0.1, s * 0.1);

    // The clip.
    const QRectF clip(s * 0.34, s * 0.05, s * 0.32, s * 0.16);
    p.setBrush(QColor(0x2b, 0x2f, 0x3a));
    p.setPen(Qt::NoPen);
    p.drawRoundedRect(clip, s * 0.05, s * 0.05);

    // The heart.
    const qreal cx = s * 0.5;
    const qreal cy = s * 0.58;
    const qreal r = s * 0.2;
    QPainterPath heart;
    heart.moveTo(cx, cy + r * 0.95);
    heart.cubicTo(cx - r * 1.6, cy - r * 0.1, cx - r * 0.8, cy - r * 1.3, cx, cy - r * 0.5);
    heart.cubicTo(cx + r * 0.8, cy - r * 1.3, cx + r * 1.6, cy - r * 0.1, cx, cy + r * 0.95);
    p.setBrush(paused ? QColor(0x9a, 0x9c, 0xa3) : QColor(0xe2, 0x4a, 0x5a));
    p.drawPath(heart);

    if (paused) {
        // The pause sign: two bars on a dark disc in the lower right corner.
        const QRectF disc(s * 0.52, s * 0.52, s * 0.46, s * 0.46);
        p.setBrush(QColor(0x2b, 0x2f, 0x3a));
        p.drawEllipse(disc);
        p.setBrush(QColor(0xf4, 0xf1, 0xea));
        const qreal barWidth = disc.width() * 0.16;
        const qreal barHeight = disc.height() * 0.46;
        const qreal top = disc.center().y() - barHeight / 2;
        p.drawRect(QRectF(disc.center().x() - barWidth * 1.5, top, barWidth, barHeight));
        p.drawRect(QRectF(disc.center().x() + barWidth * 0.5, top, barWidth, barHeight));
    }
    p.end();
    return image;
}

QIcon appIcon(bool paused)
{
    QIcon icon;
    for (const int size : {16, 22, 24, 32, 48, 64, 128, 256})
        icon.addPixmap(QPixmap::fromImage(appIconImage(size, paused)));
    return icon;
}

}  // namespace nimbrel
