#include "shell/StoreOpening.h"

#include "platform/Console.h"
#include "platform/FileLocations.h"

#include <filesystem>
#include <system_error>

namespace nimbrel {

std::unique_ptr<HistoryStore> openHistoryStore(const FileLocations& locations, Console& console,
                                                 const StoreOpeners& openers)
{
    std::optional<Error> fileError;
    std::error_code ec;
    const std::filesystem::path directory = locations.dataDirectory().toStdString();
    std::filesystem::create_directories(directory, ec);
    if (ec) {
        fileError = Error{QStringLiteral("cannot create the folder %1: %2")
                              .arg(locations.dataDirectory(), QString::fromStdString(ec.message()))};
    } else {
        auto opened = openers.openFile(locations.storeFile());
        if (opened)
            return std::move(opened).value();
        fileError = opened.error();
    }

    console.line(QStringLiteral("[Nimbrel] History store init failed, using in-memory store: ") + fileError->description);
    auto inMemory = openers.openInMemory();
    if (inMemory)
        return std::move(inMemory).value();
    console.line(QStringLiteral("[Nimbrel] In-memory history store init failed: ") + inMemory.error().description);
    return nullptr;
}

}  // namespace nimbrel
