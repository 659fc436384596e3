#pragma once

#include <QByteArray>
#include <QtGlobal>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace nimbrel::fuzz {

// The fuzzer's bytes as the owned, terminated array the program itself would hold after a read.
inline QByteArray bytes(const uint8_t* data, size_t size)
{
    return QByteArray(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
}

// A broken promise of the code under test is a finding like a crash: libFuzzer keeps the input.
inline void require(bool condition, const char* promise)
{
    if (!condition)
        std::fprintf(stderr, "broken promise: %s\n", promise), std::abort();
}

// The image plugins warn about every damaged input; image targets call this from LLVMFuzzerInitialize.
inline int quietImagePlugins()
{
    qputenv("QT_LOGGING_RULES", "qt.gui.imageio*=false");
    return 0;
}

}  // namespace nimbrel::fuzz
