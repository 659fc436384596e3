// Desktop entries are files any package or the user may install.
#include "platform/linux/DesktopEntries.h"

#include "FuzzInput.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using namespace nimbrel::native;
    const std::optional<DesktopEntry> entry =
        DesktopEntries::parse(QStringLiteral("org.example.App"), nimbrel::fuzz::bytes(data, size));
    if (entry) {
        entry->localizedName({QStringLiteral("de_AT.UTF-8"), QStringLiteral("ja-JP"), QStringLiteral("zh_Hant")});
        entry->localizedName({});
    }
    return 0;
}
