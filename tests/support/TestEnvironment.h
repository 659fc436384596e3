#pragma once

#include <QString>

namespace nimbrel::test {

// The temporary folder that HOME and the XDG variables point at for this test process.
QString homeDirectory();
// A fresh, empty folder below the temporary home, unique per call.
QString freshDirectory();

}  // namespace nimbrel::test
