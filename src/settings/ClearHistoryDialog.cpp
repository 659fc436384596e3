#include "settings/ClearHistoryDialog.h"

#include "settings/SettingsStore.h"

#include <QCheckBox>
#include <QMessageBox>
#include <QPushButton>

namespace nimbrel {

QString formattedSize(const SettingsStore& settings, qint64 bytes)
{
    return settings.locale().formattedDataSize(bytes, 1, QLocale::DataSizeTraditionalFormat);
}

std::optional<bool> askToClearHistory(QWidget* parent, const SettingsStore& settings, const HistoryUsage& usage)
{
    const QLocale locale = settings.locale();
    QMessageBox box(parent);
    box.setObjectName(QStringLiteral("clearHistoryDialog"));
    box.setIcon(QMessageBox::Warning);
    box.setWindowTitle(settings.localized(QStringLiteral("清除历史记录")));
    box.setText(settings.localized(QStringLiteral("要清除剪贴板历史吗？")));
    // One record is said apart: the languages with a plural tell it from several.
    const QString held = usage.records == 1
                             ? settings.localized(QStringLiteral("历史中有 1 条记录，占用 %1。"))
                                   .arg(formattedSize(settings, usage.bytes))
                             : settings.localized(QStringLiteral("历史中有 %1 条记录，占用 %2。"))
                                   .arg(locale.toString(usage.records), formattedSize(settings, usage.bytes));
    box.setInformativeText(held + QLatin1Char('\n') + settings.localized(QStringLiteral("此操作无法撤销。")));

    QCheckBox* pinned = nullptr;
    if (usage.pinnedRecords > 0) {
        const QString offer =
            usage.pinnedRecords == 1
                ? settings.localized(QStringLiteral("同时删除 1 条置顶记录（%1）"))
                      .arg(formattedSize(settings, usage.pinnedBytes))
                : settings.localized(QStringLiteral("同时删除 %1 条置顶记录（%2）"))
                      .arg(locale.toString(usage.pinnedRecords), formattedSize(settings, usage.pinnedBytes));
        pinned = new QCheckBox(offer, &box);
        pinned->setObjectName(QStringLiteral("includePinned"));
        box.setCheckBox(pinned);
    }

    QPushButton* clear = box.addButton(settings.localized(QStringLiteral("清除")), QMessageBox::DestructiveRole);
    clear->setObjectName(QStringLiteral("clear"));
    QPushButton* cancel = box.addButton(settings.localized(QStringLiteral("取消")), QMessageBox::RejectRole);
    cancel->setObjectName(QStringLiteral("cancel"));
    // Nothing is lost to a stray Return.
    box.setDefaultButton(cancel);
    box.setEscapeButton(cancel);
    box.exec();
    if (box.clickedButton() != clear)
        return std::nullopt;
    return pinned && pinned->isChecked();
}

}  // namespace nimbrel
