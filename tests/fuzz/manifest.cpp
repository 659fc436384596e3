// A folder's manifest is read before its signature is known to be good.
#include "update/InstallManifest.h"

#include "FuzzInput.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using namespace nimbrel;
    const QByteArray input = fuzz::bytes(data, size);
    const Result<InstallManifest> manifest = decodeManifest(input);
    if (manifest)
        fuzz::require(encodeManifest(*manifest) == input, "only the canonical form of a manifest decodes");
    return 0;
}
