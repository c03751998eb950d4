// Program names from a machine, looked up in a program folder holding links
// that lead out of it: whatever the name, what is found lies inside the
// folder (on its canonical form), and the text of the error program that
// answers a refused name cannot end a comment or start a block.

#include "FuzzSupport.h"

#include "dnc/CallResolution.h"
#include "dnc/PortEngine.h"
#include "dnc/ProgramSender.h"
#include "dnc/SendPreparation.h"
#include "platform/SerialControl.h"
#include "startup/Settings.h"
#include "store/FileUtils.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

using namespace nodalis;
using namespace nodalis::fuzz;

namespace {

QString at(const QString& relative)
{
    return ScratchFolder() + QStringLiteral("/") + relative;
}

// prog/ holds programs, a sub-folder, a link to a file outside and a link to
// a folder outside; outside/ holds what must never be found.
struct Tree
{
    QString programs = at(QStringLiteral("prog"));
    QString outside = at(QStringLiteral("outside"));

    Tree()
    {
        QDir().mkpath(programs + QStringLiteral("/sub"));
        QDir().mkpath(outside);
        WriteBytes(programs + QStringLiteral("/O1000.nc"), "%\r\nO1000\r\nM30\r\n%\r\n");
        WriteBytes(programs + QStringLiteral("/sub/O2000"), "%\r\nO2000\r\nM30\r\n%\r\n");
        WriteBytes(outside + QStringLiteral("/SECRET"), "SECRET\r\n");
        QFile::link(outside + QStringLiteral("/SECRET"), programs + QStringLiteral("/LINK"));
        QFile::link(outside, programs + QStringLiteral("/OUT"));
        QFile::link(outside + QStringLiteral("/SECRET"),
                    programs + QStringLiteral("/sub/SECRET.nc"));
    }
};

CallResolution& resolution()
{
    static SerialControl* com = new SerialControl;
    static PortEngine* engine = new PortEngine(*com);
    static ProgramSender* sender = new ProgramSender(*engine);
    static CallResolution* calls = new CallResolution(*engine, *sender);
    return *calls;
}

bool inside(const QString& path, const QString& folder)
{
    const QString canonical = QFileInfo(path).canonicalFilePath();
    return canonical.startsWith(QFileInfo(folder).canonicalFilePath() + QLatin1Char('/'));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const Tree tree;
    FuzzInput in(data, size);
    const bool indexed = in.byte() % 4 == 0;
    QByteArray name = in.piece(200);
    // Names that often hit the tree, with whatever the input adds.
    static const QByteArray stems[] = {"",     "O1000",       "LINK",  "OUT/",
                                       "sub/", "../outside/", "SECRET"};
    name = stems[in.byte() % std::size(stems)] + name;

    ResetServer();
    Config().PathFileProgOpen = tree.programs + QLatin1Char('/');
    Config().ProgIndice = indexed;
    Config().Port.EOB = in.piece(2);

    const QString found = ConfinedPath(tree.programs, QString::fromLatin1(name));
    FUZZ_CHECK(found.isEmpty() || (inside(found, tree.programs) && QFileInfo(found).isFile()),
               Escaped(name) + " -> " + found.toLatin1());

    QString path;
    int error = 0;
    if (resolution().FindCalledProgramFile(name, path, error)) {
        FUZZ_CHECK(inside(path, tree.programs) && !ReadBytes(path).contains("SECRET"),
                   Escaped(name) + " -> " + path.toLatin1());
    } else {
        FUZZ_CHECK(error != 0, Escaped(name));
    }

    const QByteArray safe = ProgramSafeText(name);
    FUZZ_CHECK(safe.size() == name.size(), Escaped(name));
    for (const char c : safe) {
        const auto u = static_cast<unsigned char>(c);
        // Replaced characters become blanks, whatever the end of block.
        FUZZ_CHECK(c == ' ' || (u >= 32 && u != 127 && c != '(' && c != ')' && c != '%' &&
                                c != ';' && !Config().Port.EOB.contains(c)),
                   Escaped(name) + " -> " + Escaped(safe));
    }
    return 0;
}
