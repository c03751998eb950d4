#include "dnc/MazakWatch.h"

#include "dnc/WorkGate.h"

#include "dnc/CallResolution.h"
#include "dnc/CharLists.h"
#include "dnc/EventMessages.h"
#include "dnc/InfoNotifier.h"
#include "dnc/MazakTable.h"
#include "dnc/PortEngine.h"
#include "dnc/PortState.h"
#include "platform/AnsiText.h"
#include "platform/Clock.h"
#include "startup/AppPaths.h"
#include "startup/IniValue.h"
#include "startup/Settings.h"
#include "store/FileUtils.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>

namespace nodalis {

bool IsMazakFusion()
{
    return SpecificiteName(Config().Port.Specificite) == "MAZAK FUSION";
}

MazakWatch::MazakWatch(PortEngine& engine, CallResolution& calls, QObject* parent)
    : QObject(parent), m_engine(engine), m_calls(calls)
{
    connect(&m_timSpecific, &QTimer::timeout, this, [this] { Gate().run([this] { Tick(); }); });
    PortMethod method;
    method.listen = [this] {
        if (IsMazakFusion())
            Listen();
    };
    method.close = [this] { stop(); };
    m_engine.methods().plug({6}, method);
}

void MazakWatch::Listen()
{
    Channel().channelState = ChannelListening;
    SendInfoMessage("{a}3", 0);
    SetStatus(364);
    m_timSpecific.start(Clock::realMs(IntervalMs));
}

void MazakWatch::Tick()
{
    const QDir folder(fromAnsi(TrimSpaces(Config().DefaultDirHostReceiv)));
    const QString table = folder.filePath(QStringLiteral("Index.tbl"));
    const QString seen = QFileInfo(table).lastModified().toString(QStringLiteral("hh:mm:ss"));
    if (seen == m_lastSeen)
        return;
    m_lastSeen = seen;
    const MazakRequest request = ReadMazakTable(table);
    if (request.isEmpty())
        return;
    QString name = fromAnsi(request.FileName);
    if (!name.endsWith(QLatin1String(".MAZ"), Qt::CaseInsensitive))
        name += QStringLiteral(".MAZ");
    const QString source = folder.filePath(name);
    if (!QFileInfo(source).isFile()) {
        SetStatus(365);
        return;
    }
    MakeFolders(QFileInfo(Paths().receptionFile).absolutePath());
    if (!CopyFile(source, Paths().receptionFile))
        return;
    m_timSpecific.stop();
    Pause(1000);
    // The call text came from the table, not from the file's lines.
    m_calls.setTableCall(request.CallText);
    m_calls.ExamineReceivedData();
}

} // namespace nodalis
