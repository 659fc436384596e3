#include "shell/AppIcon.h"

#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace nimbrel {

QImage appIconImage(int size)
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
    p.setBrush(QColor(0xe2, 0x4a, 0x5a));
    p.drawPath(heart);
    p.end();
    return image;
}

QIcon appIcon()
{
    QIcon icon;
    for (const int size : {16, 22, 24, 32, 48, 64, 128, 256})
        icon.addPixmap(QPixmap::fromImage(appIconImage(size)));
    return icon;
}

}  // namespace nimbrel
