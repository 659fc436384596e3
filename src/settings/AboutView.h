#pragma once

#include <QWidget>

namespace nimbrel {

class Translations;

// The content of the about window: the icon, the name and the version. Its texts stay in the language
// Nimbrel started in; switching the interface language shows here from the next start.
class AboutView final : public QWidget {
    Q_OBJECT
public:
    // `version` is the release's short version; empty shows "1.0".
    AboutView(const Translations& translations, const QString& version, QWidget* parent = nullptr);

    QString versionText() const;

private:
    QString m_versionText;
};

}  // namespace nimbrel
