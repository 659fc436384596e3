#pragma once

#include "history/HistoryStore.h"

#include <functional>
#include <memory>

namespace nimbrel {

class Console;
class FileLocations;

// How the store is opened; tests replace these to make either step fail.
struct StoreOpeners {
    std::function<Result<std::unique_ptr<HistoryStore>>(const QString& path)> openFile = &HistoryStore::openFile;
    std::function<Result<std::unique_ptr<HistoryStore>>()> openInMemory = &HistoryStore::openInMemory;
};

// Opens the history store "Nimbrel/Nimbrel.store" under the application-support folder, falling back
// to a store in memory, and to none. Each fallback writes its diagnostic line.
std::unique_ptr<HistoryStore> openHistoryStore(const FileLocations& locations, Console& console,
                                                 const StoreOpeners& openers = {});

}  // namespace nimbrel
