#pragma once

#include <QString>

namespace nimbrel::test {

// The temporary folder that HOME and the XDG variables point at for this test process, and a fresh, empty
// folder below it, unique per call.
QString homeDirectory();
QString freshDirectory();

}  // namespace nimbrel::test
