#include "KeyboardShortcuts/Recorder.h"

#include <QHBoxLayout>

namespace nimbrel::KeyboardShortcuts {

Recorder::Recorder(const Name& name, RecorderEnvironment environment, ShortcutField::OnChange onChange, QWidget* label,
                   QWidget* parent)
    : QWidget(parent), m_label(label)
{
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    m_control = new ShortcutField(name, std::move(environment), std::move(onChange), this);
    if (m_label) {
        layout->addWidget(m_label);
        layout->addStretch(1);
    }
    layout->addWidget(m_control);
}

void Recorder::setName(const Name& name)
{
    if (!(name == m_control->shortcutName()))
        m_control->setShortcutName(name);
}

}  // namespace nimbrel::KeyboardShortcuts
