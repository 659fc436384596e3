#pragma once

// Small helpers shared by the stand-in tools' entry points.

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QStringList>

#include <cstdio>

namespace nimbrel::tools {

inline QStringList argumentList(int argc, char** argv)
{
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments.append(QFile::decodeName(argv[i]));
    return arguments;
}

// One line on standard error, prefixed with the tool's name, as the tools it stands in for do.
inline void complain(const char* tool, const QString& text)
{
    const QByteArray line = QByteArray(tool) + ": " + text.toUtf8() + '\n';
    std::fwrite(line.constData(), 1, static_cast<size_t>(line.size()), stderr);
}

inline void say(const QString& text)
{
    const QByteArray line = text.toUtf8() + '\n';
    std::fwrite(line.constData(), 1, static_cast<size_t>(line.size()), stdout);
}

}  // namespace nimbrel::tools
