#pragma once

#include "KeyboardShortcuts/ShortcutField.h"

#include <QWidget>

namespace nimbrel::KeyboardShortcuts {

// A labelled row holding a shortcut recorder at its trailing end, or the recorder alone when it has no
// label. The recorder is made once; giving the row another name re-targets it.
class Recorder final : public QWidget {
    Q_OBJECT
public:
    // `label` (may be null) becomes the row's child.
    Recorder(const Name& name, RecorderEnvironment environment, ShortcutField::OnChange onChange = {},
             QWidget* label = nullptr, QWidget* parent = nullptr);

    bool hasLabel() const { return m_label != nullptr; }
    QWidget* label() const { return m_label; }
    ShortcutField* control() const { return m_control; }
    void setName(const Name& name);

private:
    QWidget* m_label = nullptr;
    ShortcutField* m_control = nullptr;
};

}  // namespace nimbrel::KeyboardShortcuts
