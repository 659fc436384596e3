// A request line on the running Nimbrel's socket, which any program of the user may write to, and the
// command line that makes one.
#include "shell/EditCommand.h"

#include "FuzzInput.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using namespace nimbrel;
    const QString text = QString::fromUtf8(fuzz::bytes(data, size));
    if (const std::optional<EditCommand> command = commandFromRequest(text))
        fuzz::require(commandFromRequest(requestLine(*command)) == command, "a request reads back as it was made");
    const auto parsed = parseEditCommand(text.split(QLatin1Char(' ')));
    if (const EditCommand* command = std::get_if<EditCommand>(&parsed))
        fuzz::require(commandFromRequest(requestLine(*command)) == *command, "a command travels intact");
    return 0;
}
