// The update feed's document arrives from the network.
#include "update/Release.h"

#include "FuzzInput.h"

#include <algorithm>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using namespace nimbrel;
    const QByteArray input = fuzz::bytes(data, size);
    const Result<Release> release = decodeRelease(input);
    if (release) {
        fuzz::require(release->url.isValid() && !release->url.isRelative(), "a decoded release has an absolute URL");
        // The version text is shown, and build numbers are read from text elsewhere.
        parseBuildNumber(release->version);
    } else {
        fuzz::require(!release.error().description.isEmpty(), "a refused feed says why");
    }
    parseBuildNumber(QString::fromUtf8(input));

    // Every build number, the extremes included, reads back from its decimal text.
    qint64 number = 0;
    std::memcpy(&number, data, std::min(size, sizeof number));
    fuzz::require(parseBuildNumber(QString::number(number)) == number, "a build number reads back from its text");
    return 0;
}
