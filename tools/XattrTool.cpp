// Stand-in for the extended-attribute tool. Downloads on Linux carry no quarantine mark, so there is
// nothing to clear; the tool checks its arguments and that the files exist, as the original does.
//
//   xattr -dr <attribute> <path>…
//
// Exit status 0, or 1 when a path does not exist or the arguments are wrong.

#include "ToolSupport.h"

#include <sys/stat.h>

using namespace nimbrel::tools;

int main(int argc, char** argv)
{
    const QStringList arguments = argumentList(argc, argv);
    bool remove = false;
    QStringList operands;
    for (const QString& argument : arguments) {
        if (argument.startsWith(QLatin1Char('-')) && operands.isEmpty()) {
            remove = remove || argument.contains(QLatin1Char('d'));
            continue;
        }
        operands.append(argument);
    }
    // With -d the first operand is the attribute's name.
    if (remove && !operands.isEmpty())
        operands.removeFirst();
    if (operands.isEmpty()) {
        complain("xattr", QStringLiteral("usage: xattr -dr <attribute> <path>…"));
        return 1;
    }
    int status = 0;
    for (const QString& path : operands) {
        struct stat info {};
        if (::lstat(QFile::encodeName(path).constData(), &info) != 0) {
            complain("xattr", QStringLiteral("No such file: %1").arg(path));
            status = 1;
        }
    }
    return status;
}
