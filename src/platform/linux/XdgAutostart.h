#pragma once

#include "platform/LoginItemService.h"

#include <QString>

namespace nimbrel::native {

// Login item as an XDG autostart entry (~/.config/autostart/org.nimbrel.Nimbrel.desktop). Enabled means
// the entry exists and is neither Hidden nor switched off; register writes it, unregister removes it.
class XdgAutostart final : public LoginItemService {
public:
    XdgAutostart(QString autostartDirectory, QString executable);

    LoginItemStatus status() const override;
    Result<void> registerItem() override;
    Result<void> unregisterItem() override;

    QString entryPath() const;
    // The Exec value for a program path, quoted as the desktop entry format requires.
    static QString execValue(const QString& executable);

private:
    QString m_directory;
    QString m_executable;
};

}  // namespace nimbrel::native
