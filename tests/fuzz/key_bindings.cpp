// The desktop's key bindings: gsettings output and KDE's kglobalshortcutsrc, both written by other programs.
#include "platform/linux/DesktopKeyBindings.h"

#include "FuzzInput.h"

namespace {

// A fixed keyboard: most keysyms have a key, some do not, so both outcomes are reached.
std::optional<int> keyCodeFromKeysym(quint32 keysym)
{
    if (keysym % 7 == 0)
        return std::nullopt;
    return static_cast<int>(keysym % 128);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using namespace nimbrel::native;
    const QByteArray input = nimbrel::fuzz::bytes(data, size);
    const QString text = QString::fromUtf8(input);
    const KeysymToKeyCode lookup = keyCodeFromKeysym;

    parseGsettingsListing(text, lookup);
    customKeybindingPaths(text);
    parseKdeShortcutFile(input, lookup);
    // The single values too, as a whole: a line of a listing or a file is only one way to reach them.
    parseGvariantStrings(text);
    parseGnomeAccelerator(text, lookup);
    parseKdeShortcut(text, lookup);
    bindingSourcesFor(text);
    return 0;
}
