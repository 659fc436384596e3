// The apply-update helper's record is read at the next start, whatever state the helper left it in.
#include "update/UpdateLog.h"

#include "FuzzInput.h"

#include <cmath>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using namespace nimbrel;
    const std::optional<UpdateLog> record = decodeUpdateLog(fuzz::bytes(data, size));
    if (record && std::isfinite(record->timestamp))
        fuzz::require(decodeUpdateLog(encodeUpdateLog(*record)) == record, "a record reads back as written");
    return 0;
}
