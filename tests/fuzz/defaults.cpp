// The settings file is the user's to edit, and may be left half-written by a crash of the desktop.
#include "platform/linux/JsonFileDefaults.h"

#include "FuzzInput.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using namespace nimbrel;
    const Result<QJsonObject> values = native::parseDefaultsFile(fuzz::bytes(data, size));
    if (!values) {
        fuzz::require(!values.error().description.isEmpty(), "a refused file says why");
        return 0;
    }
    for (auto it = values->constBegin(); it != values->constEnd(); ++it) {
        const QVariant value = native::defaultsValue(*it);
        fuzz::require(value.isValid() == !it->isNull(), "only null reads as absent");
        // What the typed reads look at.
        value.toString();
        value.toLongLong();
        value.toStringList();
    }
    return 0;
}
