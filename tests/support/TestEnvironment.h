#pragma once

#include <QByteArray>
#include <QImage>
#include <QString>

namespace nimbrel::test {

// The temporary folder that HOME and the XDG variables point at for this test process, and a fresh, empty
// folder below it, unique per call.
QString homeDirectory();
QString freshDirectory();

// A file's whole contents, empty when it cannot be read; written whole, its folder made, a failure reported.
QByteArray readFile(const QString& path);
void writeFile(const QString& path, const QByteArray& bytes);
// The image as a file of that format would hold it.
QByteArray encoded(const QImage& image, const char* format = "png");

}  // namespace nimbrel::test
