#pragma once

#include "settings/PanelMode.h"

#include <QAbstractButton>
#include <QColor>
#include <QFrame>
#include <QIcon>
#include <QLabel>

namespace nimbrel {

// The small line symbols of the menus and the settings window, drawn in one colour so they follow the palette and
// need no icon theme.
enum class Symbol {
    power,
    globe,
    keyboard,
    panels,
    drive,
    cup,
    warning,
    restart,
    bottomPanel,
    leftPanel,
    rightPanel,
    clipboard,
    gear,
    info,
    envelope,
    cursor,
    send,
    download,
    blocked,
    remove,
};
QIcon symbolIcon(Symbol symbol, const QColor& color);

// The picture on the support card's button: a cup and a short invitation on a warm capsule, 150 × 42.
QPixmap supportButtonImage(const QString& text, qreal devicePixelRatio = 1.0);

// A rounded card: padded content on a faint fill of the text colour.
class Card : public QFrame {
    Q_OBJECT
public:
    explicit Card(QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;
};

// A symbol and a title at the leading end of a card's row.
class RowLabel final : public QWidget {
    Q_OBJECT
public:
    RowLabel(Symbol symbol, QWidget* parent = nullptr);
    QLabel* title() const { return m_title; }

protected:
    void changeEvent(QEvent* event) override;

private:
    void updateIcon();
    Symbol m_symbol;
    QLabel* m_icon;
    QLabel* m_title;
};

// An on/off switch: a capsule with a sliding knob, faded while disabled.
class ToggleSwitch final : public QAbstractButton {
    Q_OBJECT
public:
    explicit ToggleSwitch(QWidget* parent = nullptr);
    QSize sizeHint() const override { return {38, 22}; }

protected:
    void changeEvent(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
};

// One of the three placement tiles: a little screen with the panel drawn where it would appear, and the
// placement's name below; highlighted when it is the chosen placement.
class PanelModeTile final : public QAbstractButton {
    Q_OBJECT
public:
    PanelModeTile(PanelMode mode, QWidget* parent = nullptr);

    PanelMode mode() const { return m_mode; }
    bool isSelected() const { return m_selected; }
    void setSelected(bool selected);
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    PanelMode m_mode;
    bool m_selected = false;
};

// Display name key and symbol of each placement.
QString panelModeNameKey(PanelMode mode);
Symbol panelModeSymbol(PanelMode mode);

// A font of the given pixel size and weight, based on the application font.
QFont uiFont(int pixelSize, QFont::Weight weight = QFont::Normal);
// The palette's text colour at reduced strength, for secondary texts.
QColor secondaryColor(const QPalette& palette);

}  // namespace nimbrel
