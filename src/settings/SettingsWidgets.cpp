#include "settings/SettingsWidgets.h"

#include <QApplication>
#include <QEvent>
#include <QFontMetrics>
#include <QHBoxLayout>
#include <QPainter>
#include <QPainterPath>
#include <QStyleOption>
#include <QTransform>

#include <algorithm>

namespace nimbrel {

namespace {

// Draws a symbol on a 24-unit square.
void drawSymbol(QPainter& p, Symbol symbol, const QColor& color)
{
    QPen pen(color, 2.0, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    p.setPen(pen);
    p.setBrush(Qt::NoBrush);
    switch (symbol) {
        case Symbol::power:
            p.drawArc(QRectF(4.5, 5, 15, 15), 120 * 16, 300 * 16);
            p.drawLine(QPointF(12, 3), QPointF(12, 12));
            break;
        case Symbol::globe:
            p.drawEllipse(QRectF(3, 3, 18, 18));
            p.drawEllipse(QRectF(8, 3, 8, 18));
            p.drawLine(QPointF(3.5, 12), QPointF(20.5, 12));
            break;
        case Symbol::keyboard:
            // A keyboard: two rows of keys over a space bar.
            p.drawRoundedRect(QRectF(2.5, 6, 19, 12), 2, 2);
            p.setBrush(color);
            for (int column = 0; column < 5; ++column) {
                p.drawRect(QRectF(5 + column * 3.2, 8.5, 1.4, 1.4));
                p.drawRect(QRectF(5 + column * 3.2, 11.3, 1.4, 1.4));
            }
            p.drawRect(QRectF(8, 14.5, 8, 1.2));
            break;
        case Symbol::panels:
            p.drawRoundedRect(QRectF(3, 5, 18, 14), 2, 2);
            p.drawLine(QPointF(9, 5), QPointF(9, 19));
            p.drawLine(QPointF(15, 5), QPointF(15, 19));
            break;
        case Symbol::drive:
            p.drawRoundedRect(QRectF(3, 7, 18, 10), 2.5, 2.5);
            p.setBrush(color);
            p.drawEllipse(QPointF(16.5, 12), 1, 1);
            break;
        case Symbol::cup: {
            p.setBrush(color);
            QPainterPath cup;
            cup.moveTo(4, 8);
            cup.lineTo(17, 8);
            cup.lineTo(16, 17);
            cup.quadTo(10.5, 19.5, 5, 17);
            cup.closeSubpath();
            p.drawPath(cup);
            p.setBrush(Qt::NoBrush);
            p.drawArc(QRectF(14.5, 9.5, 6, 5), -90 * 16, 180 * 16);
            p.drawLine(QPointF(2.5, 21), QPointF(18.5, 21));
            break;
        }
        case Symbol::warning: {
            p.setBrush(color);
            QPainterPath triangle;
            triangle.moveTo(12, 2.5);
            triangle.lineTo(22, 20.5);
            triangle.lineTo(2, 20.5);
            triangle.closeSubpath();
            p.drawPath(triangle);
            p.setPen(QPen(Qt::white, 2.2, Qt::SolidLine, Qt::RoundCap));
            p.drawLine(QPointF(12, 9), QPointF(12, 14));
            p.drawPoint(QPointF(12, 17.5));
            break;
        }
        case Symbol::restart:
            p.drawArc(QRectF(4, 4, 16, 16), 30 * 16, 150 * 16);
            p.drawArc(QRectF(4, 4, 16, 16), 210 * 16, 150 * 16);
            p.drawLine(QPointF(19, 8), QPointF(19.5, 3.5));
            p.drawLine(QPointF(19, 8), QPointF(14.5, 7.5));
            p.drawLine(QPointF(5, 16), QPointF(4.5, 20.5));
            p.drawLine(QPointF(5, 16), QPointF(9.5, 16.5));
            break;
        case Symbol::clipboard:
            p.drawRoundedRect(QRectF(5, 4.5, 14, 17), 2, 2);
            p.setBrush(color);
            p.drawRoundedRect(QRectF(8.5, 2.5, 7, 4), 1, 1);
            p.setBrush(Qt::NoBrush);
            p.drawLine(QPointF(8.5, 11), QPointF(15.5, 11));
            p.drawLine(QPointF(8.5, 15), QPointF(13.5, 15));
            break;
        case Symbol::gear: {
            QPainterPath teeth;
            for (int i = 0; i < 8; ++i) {
                QTransform turn;
                turn.translate(12, 12);
                turn.rotate(i * 45);
                teeth.addPolygon(turn.map(QPolygonF(QRectF(-1.8, -10, 3.6, 4))));
            }
            p.setBrush(color);
            p.setPen(Qt::NoPen);
            p.drawPath(teeth);
            p.setPen(pen);
            p.setBrush(Qt::NoBrush);
            p.drawEllipse(QPointF(12, 12), 6.2, 6.2);
            p.drawEllipse(QPointF(12, 12), 2.4, 2.4);
            break;
        }
        case Symbol::info:
            p.drawEllipse(QRectF(3, 3, 18, 18));
            p.drawLine(QPointF(12, 11), QPointF(12, 16.5));
            p.drawPoint(QPointF(12, 7.5));
            break;
        case Symbol::cursor: {
            // A text cursor beside a selected stretch of text.
            QColor faint = color;
            faint.setAlphaF(0.35);
            p.fillRect(QRectF(3, 8, 12, 8), faint);
            p.drawLine(QPointF(18, 4), QPointF(18, 20));
            p.drawLine(QPointF(15.5, 4), QPointF(20.5, 4));
            p.drawLine(QPointF(15.5, 20), QPointF(20.5, 20));
            break;
        }
        case Symbol::send:
            // A paper plane: what leaves the machine.
            p.drawPolygon(QPolygonF({QPointF(3, 11), QPointF(21, 3.5), QPointF(15, 20.5), QPointF(11, 13)}));
            p.drawLine(QPointF(11, 13), QPointF(21, 3.5));
            break;
        case Symbol::download:
            // An arrow into a tray: what is fetched.
            p.drawLine(QPointF(12, 3), QPointF(12, 14.5));
            p.drawPolyline(QPolygonF({QPointF(7.5, 10), QPointF(12, 14.5), QPointF(16.5, 10)}));
            p.drawPolyline(QPolygonF({QPointF(3.5, 15), QPointF(3.5, 20), QPointF(20.5, 20), QPointF(20.5, 15)}));
            break;
        case Symbol::blocked:
            // A no-entry sign: what is kept out.
            p.drawEllipse(QRectF(3, 3, 18, 18));
            p.drawLine(QPointF(6.5, 17.5), QPointF(17.5, 6.5));
            break;
        case Symbol::remove:
            p.drawLine(QPointF(7, 7), QPointF(17, 17));
            p.drawLine(QPointF(17, 7), QPointF(7, 17));
            break;
        case Symbol::envelope:
            p.drawRoundedRect(QRectF(3, 6, 18, 13), 2, 2);
            p.drawPolyline(QPolygonF({QPointF(3.5, 7), QPointF(12, 13.5), QPointF(20.5, 7)}));
            break;
        case Symbol::bottomPanel:
        case Symbol::leftPanel:
        case Symbol::rightPanel: {
            p.drawRoundedRect(QRectF(3, 4, 18, 16), 2, 2);
            p.setPen(Qt::NoPen);
            p.setBrush(color);
            if (symbol == Symbol::bottomPanel)
                p.drawRoundedRect(QRectF(6, 14, 12, 3), 1, 1);
            else if (symbol == Symbol::leftPanel)
                p.drawRoundedRect(QRectF(6, 7, 3, 10), 1, 1);
            else
                p.drawRoundedRect(QRectF(15, 7, 3, 10), 1, 1);
            break;
        }
    }
}

}  // namespace

QIcon symbolIcon(Symbol symbol, const QColor& color)
{
    QIcon icon;
    for (const int size : {16, 24, 32, 48}) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter p(&pixmap);
        p.setRenderHint(QPainter::Antialiasing);
        p.scale(size / 24.0, size / 24.0);
        drawSymbol(p, symbol, color);
        p.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

QPixmap supportButtonImage(const QString& text, qreal devicePixelRatio)
{
    const QFont font = uiFont(12, QFont::DemiBold);
    // Wide enough for the text in any language, never narrower than the usual capsule.
    const int textWidth = QFontMetrics(font).horizontalAdvance(text);
    const QSizeF size(std::max(150, 36 + textWidth + 18), 42);
    QPixmap pixmap((size * devicePixelRatio).toSize());
    pixmap.setDevicePixelRatio(devicePixelRatio);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF capsule(1, 1, size.width() - 2, size.height() - 2);
    p.setPen(QPen(QColor(0x2b, 0x2f, 0x3a), 1.5));
    p.setBrush(QColor(0xff, 0xdd, 0x55));
    p.drawRoundedRect(capsule, capsule.height() / 2, capsule.height() / 2);
    p.save();
    p.translate(11, 10);
    p.scale(0.9, 0.9);
    drawSymbol(p, Symbol::cup, QColor(0x2b, 0x2f, 0x3a));
    p.restore();
    p.setFont(font);
    p.setPen(QColor(0x2b, 0x2f, 0x3a));
    p.drawText(QRectF(36, 0, size.width() - 42, size.height()), Qt::AlignVCenter | Qt::AlignHCenter, text);
    return pixmap;
}

QFont uiFont(int pixelSize, QFont::Weight weight)
{
    QFont font = QApplication::font();
    font.setPixelSize(pixelSize);
    font.setWeight(weight);
    return font;
}

QColor secondaryColor(const QPalette& palette)
{
    QColor color = palette.color(QPalette::WindowText);
    color.setAlphaF(0.6);
    return color;
}

Card::Card(QWidget* parent) : QFrame(parent)
{
    setContentsMargins(12, 12, 12, 12);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
}

void Card::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    QColor fill = palette().color(QPalette::WindowText);
    fill.setAlphaF(0.035);
    p.setPen(Qt::NoPen);
    p.setBrush(fill);
    p.drawRoundedRect(QRectF(rect()), 10, 10);
}

RowLabel::RowLabel(Symbol symbol, QWidget* parent) : QWidget(parent), m_symbol(symbol)
{
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(8);
    m_icon = new QLabel(this);
    m_icon->setFixedSize(18, 18);
    m_title = new QLabel(this);
    m_title->setFont(uiFont(13, QFont::Medium));
    layout->addWidget(m_icon);
    layout->addWidget(m_title);
    updateIcon();
}

void RowLabel::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::PaletteChange)
        updateIcon();
    QWidget::changeEvent(event);
}

void RowLabel::updateIcon()
{
    m_icon->setPixmap(symbolIcon(m_symbol, palette().color(QPalette::Highlight)).pixmap(18, 18));
}

ToggleSwitch::ToggleSwitch(QWidget* parent) : QAbstractButton(parent)
{
    setCheckable(true);
    setCursor(Qt::PointingHandCursor);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

void ToggleSwitch::changeEvent(QEvent* event)
{
    // A switch that cannot be flipped does not invite a click.
    if (event->type() == QEvent::EnabledChange)
        setCursor(isEnabled() ? Qt::PointingHandCursor : Qt::ArrowCursor);
    QAbstractButton::changeEvent(event);
}

void ToggleSwitch::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    if (!isEnabled())
        p.setOpacity(0.45);
    const QRectF track = QRectF(rect()).adjusted(1, 1, -1, -1);
    QColor off = palette().color(QPalette::WindowText);
    off.setAlphaF(0.2);
    p.setPen(Qt::NoPen);
    p.setBrush(isChecked() ? palette().color(QPalette::Highlight) : off);
    p.drawRoundedRect(track, track.height() / 2, track.height() / 2);
    const qreal knob = track.height() - 4;
    const qreal x = isChecked() ? track.right() - 2 - knob : track.left() + 2;
    p.setBrush(Qt::white);
    p.drawEllipse(QRectF(x, track.top() + 2, knob, knob));
    if (hasFocus()) {
        p.setBrush(Qt::NoBrush);
        p.setPen(QPen(palette().color(QPalette::Highlight), 1));
        p.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), height() / 2.0, height() / 2.0);
    }
}

QString panelModeNameKey(PanelMode mode)
{
    switch (mode) {
        case PanelMode::bottom:
            return QStringLiteral("底部");
        case PanelMode::left:
            return QStringLiteral("左侧竖排");
        case PanelMode::right:
            return QStringLiteral("右侧竖排");
    }
    return {};
}

Symbol panelModeSymbol(PanelMode mode)
{
    switch (mode) {
        case PanelMode::bottom:
            return Symbol::bottomPanel;
        case PanelMode::left:
            return Symbol::leftPanel;
        case PanelMode::right:
            return Symbol::rightPanel;
    }
    return Symbol::bottomPanel;
}

PanelModeTile::PanelModeTile(PanelMode mode, QWidget* parent) : QAbstractButton(parent), m_mode(mode)
{
    setCursor(Qt::PointingHandCursor);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setFont(uiFont(11, QFont::Medium));
}

void PanelModeTile::setSelected(bool selected)
{
    if (selected == m_selected)
        return;
    m_selected = selected;
    update();
}

QSize PanelModeTile::sizeHint() const
{
    // Preview, 6 between preview and name, the name, padded 6 all round.
    return {80 + 12, 6 + 50 + 6 + fontMetrics().height() + 6};
}

void PanelModeTile::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QColor accent = palette().color(QPalette::Highlight);
    const QRectF bounds = QRectF(rect()).adjusted(1, 1, -1, -1);
    if (m_selected) {
        QColor fill = accent;
        fill.setAlphaF(0.15);
        p.setBrush(fill);
        p.setPen(QPen(accent, 1.5));
        p.drawRoundedRect(bounds, 8, 8);
    }

    // The little screen.
    const QRectF preview(bounds.center().x() - 40, bounds.top() + 6, 80, 50);
    QColor outline = palette().color(QPalette::WindowText);
    outline.setAlphaF(0.2);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(outline, 1));
    p.drawRoundedRect(preview, 6, 6);

    // Where the panel sits on it.
    QSizeF indicator(12, 34);
    QPointF offset(0, 0);
    switch (m_mode) {
        case PanelMode::bottom:
            indicator = QSizeF(64, 12);
            offset = QPointF(0, 14);
            break;
        case PanelMode::left:
            offset = QPointF(-28, 0);
            break;
        case PanelMode::right:
            offset = QPointF(28, 0);
            break;
    }
    QColor fill = accent;
    fill.setAlphaF(0.8);
    p.setPen(Qt::NoPen);
    p.setBrush(fill);
    const QPointF center = preview.center() + offset;
    p.drawRoundedRect(QRectF(center.x() - indicator.width() / 2, center.y() - indicator.height() / 2, indicator.width(),
                             indicator.height()),
                      3, 3);

    p.setPen(m_selected ? palette().color(QPalette::WindowText) : secondaryColor(palette()));
    p.setFont(font());
    p.drawText(QRectF(bounds.left(), preview.bottom() + 6, bounds.width(), fontMetrics().height()),
               Qt::AlignHCenter | Qt::AlignTop, text());
    if (hasFocus()) {
        p.setBrush(Qt::NoBrush);
        p.setPen(QPen(accent, 1, Qt::DotLine));
        p.drawRoundedRect(bounds.adjusted(1, 1, -1, -1), 7, 7);
    }
}

}  // namespace nimbrel
