#pragma once

#include "history/ClipKind.h"
#include "panel/KindStyle.h"

#include <QAbstractButton>
#include <QWidget>

#include <optional>

class QLineEdit;

namespace nimbrel {

class ClearButton;

// The search field: a magnifying glass, a borderless text field and, while there is text, a button
// that clears it, on a faint capsule.
class SearchField final : public QWidget {
    Q_OBJECT
public:
    static constexpr int fieldHeight = 28;

    explicit SearchField(QWidget* parent = nullptr);

    QLineEdit* lineEdit() const { return m_edit; }
    QAbstractButton* clearButton() const;
    void setPlaceholder(const QString& text);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QLineEdit* m_edit;
    ClearButton* m_clear;
};

// One filter entry (a kind, all kinds, or the pinned records) as a capsule button: symbol and label,
// filled with the entry's tint when it is the selected filter.
class FilterChip final : public QAbstractButton {
    Q_OBJECT
public:
    FilterChip(ListFilter filter, QWidget* parent = nullptr);

    const ListFilter& filter() const { return m_filter; }
    std::optional<ClipKind> kind() const { return m_filter.kind; }
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    ListFilter m_filter;
};

}  // namespace nimbrel
