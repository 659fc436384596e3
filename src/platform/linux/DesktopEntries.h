#pragma once

#include <QHash>
#include <QString>
#include <QStringList>

#include <optional>

namespace nimbrel::native {

// What Nimbrel needs of one installed application's desktop entry.
struct DesktopEntry {
    QString id;  // the file id without ".desktop", e.g. "org.gnome.TextEditor"
    QHash<QString, QString> names;  // "" for Name, "ja" for Name[ja], …
    QString icon;
    QString startupWMClass;
    QString executable;  // the base name of Exec's program
    QStringList categories;  // "System", "TerminalEmulator", …

    // Name[lang] for the most specific of the languages given ("de_AT" tries de_AT, then de), else Name.
    std::optional<QString> localizedName(const QStringList& languages) const;
};

// The applications installed in the XDG data folders (applications/*.desktop, subfolders giving
// "-"-joined ids; earlier folders win), looked up by id, window class or executable.
class DesktopEntries {
public:
    explicit DesktopEntries(QStringList applicationFolders);
    // The folders of the XDG base directories, user's first.
    static QStringList standardFolders();

    std::optional<DesktopEntry> byId(const QString& id) const;
    // The entry that names this window class (StartupWMClass, else the id or its last component,
    // compared without case), else the entry whose program is `executable`.
    std::optional<DesktopEntry> forWindow(const QString& windowClass, const QString& instance,
                                          const QString& executable) const;

    static std::optional<DesktopEntry> parse(const QString& id, const QByteArray& contents);

private:
    void scan();

    QStringList m_folders;
    QHash<QString, DesktopEntry> m_byId;
    QHash<QString, QString> m_idByKey;  // lower-cased window class or id component → id
    QHash<QString, QString> m_idByExecutable;
};

}  // namespace nimbrel::native
