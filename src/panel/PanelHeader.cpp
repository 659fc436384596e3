#include "panel/PanelHeader.h"

#include "panel/KindStyle.h"

#include <QFontMetricsF>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPainter>

#include <cmath>

namespace nimbrel {

namespace {

constexpr int chipHeight = 28;
constexpr qreal chipSymbol = 14;
constexpr qreal chipSymbolSpacing = 5;

QFont pixelFont(const QFont& base, int pixels, QFont::Weight weight)
{
    QFont font = base;
    font.setPixelSize(pixels);
    font.setWeight(weight);
    return font;
}

// The magnifying glass in front of the text field.
class SearchGlyph final : public QWidget {
public:
    explicit SearchGlyph(QWidget* parent) : QWidget(parent) { setFixedSize(13, 13); }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        paintGlyph(painter, Glyph::magnifyingGlass, rect(), PanelColors::from(palette()).secondary,
                   GlyphWeight::medium);
    }
};

}  // namespace

// The round cross that empties the search field.
class ClearButton final : public QAbstractButton {
public:
    explicit ClearButton(QWidget* parent) : QAbstractButton(parent)
    {
        setFixedSize(14, 14);
        setFocusPolicy(Qt::NoFocus);
        setCursor(Qt::ArrowCursor);
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        const PanelColors colors = PanelColors::from(palette());
        paintGlyph(painter, Glyph::clearMark, rect(), isDown() ? colors.secondary : colors.tertiary);
    }
};

SearchField::SearchField(QWidget* parent) : QWidget(parent), m_edit(new QLineEdit(this)), m_clear(new ClearButton(this))
{
    setFixedHeight(fieldHeight);
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(10, 0, 10, 0);
    row->setSpacing(8);
    row->addWidget(new SearchGlyph(this));
    row->addWidget(m_edit, 1);
    row->addWidget(m_clear);

    m_edit->setFrame(false);
    m_edit->setFont(pixelFont(font(), 13, QFont::Normal));
    m_edit->setAttribute(Qt::WA_MacShowFocusRect, false);
    QPalette transparentBase = m_edit->palette();
    transparentBase.setColor(QPalette::Base, Qt::transparent);
    m_edit->setPalette(transparentBase);
    // Only a click or the presentation reset puts the focus here; Tab moves between the field and
    // the panel.
    m_edit->setFocusPolicy(Qt::StrongFocus);

    m_clear->setVisible(false);
    connect(m_edit, &QLineEdit::textChanged, this,
            [this](const QString& text) { m_clear->setVisible(!text.isEmpty()); });
    connect(m_clear, &QAbstractButton::clicked, m_edit, &QLineEdit::clear);
}

QAbstractButton* SearchField::clearButton() const
{
    return m_clear;
}

void SearchField::setPlaceholder(const QString& text)
{
    m_edit->setPlaceholderText(text);
}

void SearchField::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const PanelColors colors = PanelColors::from(palette());
    const QRectF capsule = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    painter.setPen(QPen(faded(colors.primary, 0.05), 1));
    painter.setBrush(faded(colors.primary, 0.06));
    painter.drawRoundedRect(capsule, capsule.height() / 2, capsule.height() / 2);
}

FilterChip::FilterChip(ListFilter filter, QWidget* parent) : QAbstractButton(parent), m_filter(filter)
{
    setCheckable(true);
    setFocusPolicy(Qt::NoFocus);
    setFont(pixelFont(font(), 12, QFont::Medium));
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

QSize FilterChip::sizeHint() const
{
    const qreal label = QFontMetricsF(font()).horizontalAdvance(text());
    return QSize(static_cast<int>(std::ceil(10 + chipSymbol + chipSymbolSpacing + label + 10)), chipHeight);
}

void FilterChip::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);
    const PanelColors colors = PanelColors::from(palette());
    const QColor fill = isChecked() ? faded(filterTint(m_filter, palette()), 0.92) : faded(colors.primary, 0.06);
    const QColor content = isChecked() ? QColor(Qt::white) : faded(colors.primary, 0.75);

    const QRectF capsule(rect());
    painter.setPen(Qt::NoPen);
    painter.setBrush(isDown() ? fill.darker(110) : fill);
    painter.drawRoundedRect(capsule, capsule.height() / 2, capsule.height() / 2);
    // The symbol is drawn at 10 points inside its 14-point frame.
    const QRectF frame(10, (height() - chipSymbol) / 2, chipSymbol, chipSymbol);
    paintGlyph(painter, filterStyle(m_filter).glyph, frame.adjusted(2, 2, -2, -2), content, GlyphWeight::semibold);
    painter.setPen(content);
    painter.setFont(font());
    painter.drawText(
        QRectF(frame.right() + chipSymbolSpacing, 0, width() - frame.right() - chipSymbolSpacing - 10 + 1, height()),
        Qt::AlignLeft | Qt::AlignVCenter, text());
}

}  // namespace nimbrel
