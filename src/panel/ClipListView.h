#pragma once

#include "history/ClipItem.h"
#include "panel/KindStyle.h"
#include "settings/PanelMode.h"

#include <QImage>
#include <QList>
#include <QMargins>
#include <QWidget>

#include <functional>
#include <optional>

class QKeyEvent;
class QLineEdit;

namespace nimbrel {

class AppIconCache;
class CardDelegate;
class ClipResultsView;
class Clock;
class FilterChip;
class HistoryStore;
class ResultsModel;
class SearchField;
class SettingsStore;
class ThumbnailCache;

// The whole content of the clip panel: a translucent rounded background with its stroke and shadow, the
// search field and filters, and the cards of the matching records. Drives the list from the keyboard
// while the search field keeps the typing: arrows move the highlight, Return (or keypad Enter) chooses,
// Ctrl+Backspace deletes, Ctrl+Z brings the deleted record back, Ctrl+P pins or unpins. Main thread only.
class ClipListView final : public QWidget {
    Q_OBJECT
public:
    ClipListView(HistoryStore& store, SettingsStore& settings, ThumbnailCache& thumbnails, AppIconCache& icons,
                 const Clock& clock, PanelMode mode, QWidget* parent = nullptr);
    ~ClipListView() override;

    // The room around the rounded panel that its shadow is painted into; the window is transparent there.
    static QMargins shadowMargins();

    PanelMode mode() const { return m_mode; }

    // A showing of the panel with the coordinator's presentation counter. A new counter (after the first
    // showing) clears the search, selects all kinds, highlights the newest record and puts the keyboard
    // focus in the search field. The first showing starts from the same clean state but leaves the focus
    // outside the field, so that Return chooses at once.
    void present(qint64 presentToken);

    // The search field has the keyboard focus of the panel's window (whether or not the window is active).
    bool isSearchFocused() const;
    std::optional<ClipKind> selectedKind() const;
    const ListFilter& selectedFilter() const;
    // Chooses a kind filter, as a click on its chip does.
    void selectKind(std::optional<ClipKind> kind);
    // Chooses a filter (a kind, or the pinned records), as a click on its chip does.
    void selectFilter(const ListFilter& filter);

    // Who pins and unpins records; while there is none, cards have no pin control and Ctrl+P does nothing.
    void setPinner(std::function<void(const QUuid&, bool pinned)> pinner);

    ResultsModel& results() const { return *m_model; }
    ClipResultsView* resultsView() const { return m_results; }
    QLineEdit* searchEdit() const;
    SearchField* searchField() const { return m_search; }
    const QList<FilterChip*>& filterChips() const { return m_chips; }

Q_SIGNALS:
    // The user chose a record (a click on its card, or Return).
    void selected(const nimbrel::ClipItem& item);
    // An image record's preview is wanted (an image) or no longer wanted (none).
    void imageHover(const std::optional<QImage>& image);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    // The results are queried only while the panel shows.
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    QWidget* makeHeader();
    bool handleKey(QKeyEvent* event);
    void retranslate();
    void updateEmptyText();

    PanelMode m_mode;
    SettingsStore& m_settings;
    ResultsModel* m_model;
    CardDelegate* m_delegate;
    ClipResultsView* m_results;
    SearchField* m_search;
    QList<FilterChip*> m_chips;
    bool m_presented = false;
};

}  // namespace nimbrel
