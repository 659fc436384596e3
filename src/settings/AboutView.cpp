#include "settings/AboutView.h"

#include "settings/SettingsWidgets.h"
#include "settings/Translations.h"
#include "shell/AppIcon.h"

#include <QLabel>
#include <QVBoxLayout>

namespace nimbrel {

AboutView::AboutView(const Translations& translations, const QString& version, QWidget* parent) : QWidget(parent)
{
    m_versionText = translations.translateMain(QStringLiteral("版本 %1")).arg(version.isEmpty() ? QStringLiteral("1.0") : version);

    auto* layout = new QVBoxLayout(this);
    // 28 at the sides; above and below, whatever the 200-high window leaves once the 96-pixel icon and
    // the two lines have their room (the texts are taller than their point sizes on this platform).
    layout->setContentsMargins(28, 8, 28, 8);
    layout->setSpacing(12);
    layout->setAlignment(Qt::AlignCenter);

    auto* icon = new QLabel(this);
    icon->setPixmap(appIcon().pixmap(96, 96));
    icon->setAlignment(Qt::AlignCenter);
    auto* name = new QLabel(translations.translateMain(QStringLiteral("Nimbrel")), this);
    name->setObjectName(QStringLiteral("name"));
    name->setFont(uiFont(19, QFont::DemiBold));
    name->setAlignment(Qt::AlignCenter);
    auto* versionLine = new QLabel(m_versionText, this);
    versionLine->setObjectName(QStringLiteral("version"));
    versionLine->setFont(uiFont(12));
    versionLine->setAlignment(Qt::AlignCenter);
    QPalette palette = versionLine->palette();
    palette.setColor(QPalette::WindowText, secondaryColor(palette));
    versionLine->setPalette(palette);
    for (QLabel* label : {icon, name, versionLine})
        layout->addWidget(label, 0, Qt::AlignHCenter);
    setFixedWidth(240);
}

QString AboutView::versionText() const
{
    return m_versionText;
}

}  // namespace nimbrel
