#include "FuzzSupport.h"

#include "platform/Clock.h"
#include "startup/AppPaths.h"
#include "startup/Settings.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <cstdio>
#include <cstdlib>

namespace nodalis::fuzz {

QByteArray FuzzInput::bytes(size_t n)
{
    n = std::min(n, m_size - m_pos);
    QByteArray out(reinterpret_cast<const char*>(m_data + m_pos), qsizetype(n));
    m_pos += n;
    return out;
}

const QString& ScratchFolder()
{
    static const QString folder = [] {
        const QFileInfo shm(QStringLiteral("/dev/shm"));
        const QString parent = shm.isDir() && shm.isWritable() ? shm.filePath() : QDir::tempPath();
        // Removed at a normal exit; a crash leaves it for a look.
        static QTemporaryDir dir(parent + QStringLiteral("/nodalis-fuzz-XXXXXX"));
        if (!dir.isValid()) {
            std::fprintf(stderr, "fuzz: no scratch folder under %s\n", qPrintable(parent));
            std::abort();
        }
        return dir.path();
    }();
    return folder;
}

void ResetServer()
{
    Config() = Settings();
    Paths() = AppPaths();
    Paths().setBaseFolder(ScratchFolder());
}

bool WriteBytes(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

QByteArray ReadBytes(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
}

QByteArray Escaped(const QByteArray& bytes)
{
    QByteArray out;
    for (const char c : bytes.left(300)) {
        const auto u = static_cast<unsigned char>(c);
        if (u >= 32 && u < 127 && c != '\\')
            out += c;
        else
            out += "\\x" + QByteArray::number(u, 16).rightJustified(2, '0');
    }
    return '"' + out + (bytes.size() > 300 ? "\"..." : "\"");
}

void Fail(const char* condition, const QByteArray& detail, const char* file, int line)
{
    std::fprintf(stderr, "\n%s:%d: property broken: %s\n%s\n", file, line, condition,
                 detail.constData());
    std::fflush(stderr);
    std::abort();
}

} // namespace nodalis::fuzz

// Qt is built without frame pointers: beyond two frames the fast unwinder
// reads junk, every allocation stack is new and the stack store grows until
// the run crawls. A report's own stack is unwound in full all the same; for
// the allocation's, replay with ASAN_OPTIONS=malloc_context_size=30:fast_unwind_on_malloc=0.
// Filling each new block with a pattern only helps a debugger; it took a
// quarter of every run.
extern "C" const char* __asan_default_options()
{
    return "malloc_context_size=2:max_malloc_fill_size=0";
}

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    (void)argc;
    // Qt is given only the program name: libFuzzer's own options are not its.
    static int qtArgc = 1;
    static char* qtArgv[] = {(*argv)[0], nullptr};
    new QCoreApplication(qtArgc, qtArgv); // kept for the whole run
    // The filters pause around each file they replace: as short as the clock allows.
    nodalis::Clock::setScale(1e-6);
    nodalis::fuzz::ResetServer();
    return 0;
}
