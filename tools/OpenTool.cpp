// Stand-in for the launcher: starts the executable of a Nimbrel.app bundle ("bin/nimbrel" inside it) in
// a session of its own, detached from the caller, with the caller's environment, and returns at once.
//
//   open <bundle>
//
// Exit status 0 when the program was started, 1 otherwise.

#include "ToolSupport.h"

#include <QDir>

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <unistd.h>

extern char** environ;

using namespace nimbrel::tools;

int main(int argc, char** argv)
{
    const QStringList arguments = argumentList(argc, argv);
    if (arguments.size() != 1 || arguments.front().isEmpty()) {
        complain("open", QStringLiteral("usage: open <bundle>"));
        return 1;
    }
    const QString bundle = QDir::cleanPath(QDir::current().absoluteFilePath(arguments.front()));
    const QByteArray executable = QFile::encodeName(bundle + QStringLiteral("/bin/nimbrel"));
    struct stat info {};
    if (::stat(executable.constData(), &info) != 0 || !S_ISREG(info.st_mode) ||
        ::access(executable.constData(), X_OK) != 0) {
        complain("open", QStringLiteral("%1 holds no program to start").arg(bundle));
        return 1;
    }

    posix_spawnattr_t attributes;
    posix_spawn_file_actions_t actions;
    if (posix_spawnattr_init(&attributes) != 0)
        return 1;
    bool ready =
        posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID) == 0 && posix_spawn_file_actions_init(&actions) == 0;
    // The program outlives this tool: it keeps no descriptor or folder of the caller.
    ready = ready && posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0) == 0 &&
            posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0) == 0 &&
            posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0) == 0 &&
            posix_spawn_file_actions_addchdir_np(&actions, "/") == 0;
    pid_t child = 0;
    char* childArguments[] = {const_cast<char*>(executable.constData()), nullptr};
    const bool started =
        ready && posix_spawn(&child, executable.constData(), &actions, &attributes, childArguments, environ) == 0;
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    if (!started) {
        complain("open", QStringLiteral("cannot start %1").arg(QFile::decodeName(executable)));
        return 1;
    }
    return 0;
}
