#include "platform/ProgramSwitch.h"

#include <process.h>
#include <windows.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace nodalis {

QByteArray RunInstead(const char* name, int argc, char** argv)
{
    char self[MAX_PATH];
    const DWORD n = GetModuleFileNameA(nullptr, self, MAX_PATH);
    QByteArray program(self, int(n));
    program = program.left(program.lastIndexOf('\\') + 1) + name + ".exe";
    std::vector<char*> args(argv, argv + argc);
    args.push_back(nullptr);
    // Windows has no exec: the window program runs as a child and this
    // process ends with its exit code.
    const intptr_t code = _spawnv(_P_WAIT, program.constData(), args.data());
    if (code == -1)
        return program + ": " + std::strerror(errno);
    std::exit(int(code));
}

} // namespace nodalis
