#include "platform/ProgramSwitch.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <unistd.h>
#include <vector>

namespace nodalis {

namespace {

// This program's folder, with its trailing slash; empty when unknown.
QByteArray ownFolder(const char* argv0)
{
    char self[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
    QByteArray path = n > 0 ? QByteArray(self, n) : QByteArray(argv0 ? argv0 : "");
    return path.left(path.lastIndexOf('/') + 1);
}

} // namespace

QByteArray RunInstead(const char* name, int argc, char** argv)
{
    const QByteArray folder = ownFolder(argc > 0 ? argv[0] : nullptr);
    if (folder.isEmpty())
        return QByteArray("cannot tell this program's folder for ") + name;
    const QByteArray program = folder + name;
    std::vector<char*> args(argv, argv + argc);
    args.push_back(nullptr);
    ::execv(program.constData(), args.data());
    return program + ": " + std::strerror(errno);
}

} // namespace nodalis
