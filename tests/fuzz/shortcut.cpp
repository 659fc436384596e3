// A stored shortcut is read from the settings file, which the user may edit.
#include "KeyboardShortcuts/Shortcut.h"

#include "FuzzInput.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using nimbrel::KeyboardShortcuts::Shortcut;
    const std::optional<Shortcut> shortcut = Shortcut::fromJson(QString::fromUtf8(nimbrel::fuzz::bytes(data, size)));
    if (shortcut) {
        nimbrel::fuzz::require(Shortcut::fromJson(shortcut->toJson()) == shortcut, "a shortcut reads back as stored");
        shortcut->modifiers();
    }
    return 0;
}
