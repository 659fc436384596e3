// Rich text from other applications' clipboard contents.
#include "history/RtfText.h"

#include "FuzzInput.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::optional<QString> text = nimbrel::plainTextFromRtf(nimbrel::fuzz::bytes(data, size));
    // Every character comes from at least one byte of the document.
    if (text)
        nimbrel::fuzz::require(text->size() <= qsizetype(size), "the text is no longer than the document");
    return 0;
}
