// Telegrams and AGIE commands as a hostile control could send them: a text
// framed and taken out again is itself without NULs and outer spaces, every
// block sent holds whole lines and stays under 100 characters unless it is
// one line, and an upload never lands outside its folder.

#include "FuzzSupport.h"

#include "protocols/ClsAGIE.h"
#include "protocols/ClsLSV2.h"
#include "startup/Settings.h"

#include <QDir>
#include <QFileInfo>

using namespace nodalis;
using namespace nodalis::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    ResetServer();
    FuzzInput in(data, size);
    const QString folder = ScratchFolder() + QStringLiteral("/up/");
    Config().PathFileProgOpen = folder;
    const QByteArray program = in.piece(255);
    const QString programPath = ScratchFolder() + QStringLiteral("/program.txt");
    WriteBytes(programPath, program);

    ClsAGIE agie;
    bool bad = false;
    agie.setAnswerSink([&bad](const QByteArray& text) {
        if (!text.startsWith("R PP"))
            return;
        const QByteArray block = text.mid(4);
        const qsizetype lines = block.count("\r\n");
        bad = bad || !block.endsWith("\r\n") || (lines > 1 && block.size() >= ClsAGIE::BlockLimit);
    });
    QObject::connect(&agie, &ClsAGIE::FindThisProg,
                     [&](const QByteArray&) { agie.SendProg(programPath); });
    // Bursts separated by ETX bytes of the input, each framed as a telegram
    // would be on the line.
    for (const QByteArray& text : in.rest().split('\x03')) {
        const QByteArray command = ClsLSV2::ExtractCmd(ClsLSV2::MakeTelegram(text));
        FUZZ_CHECK(!command.contains('\0') && !command.startsWith(' ') && !command.endsWith(' '),
                   Escaped(text));
        agie.Interpret(command);
        FUZZ_CHECK(!bad, Escaped(program) + " / " + Escaped(text));
    }
    for (const QFileInfo& f :
         QDir(ScratchFolder()).entryInfoList(QDir::Files | QDir::NoDotAndDotDot))
        FUZZ_CHECK(f.fileName() == QStringLiteral("program.txt") || f.isDir(),
                   QFile::encodeName(f.fileName()));
    QDir(folder).removeRecursively();
    return 0;
}
