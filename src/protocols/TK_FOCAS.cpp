#include "protocols/TK_FOCAS.h"

#include "dnc/ControlProtocol.h"
#include "dnc/EventMessages.h"
#include "dnc/InfoNotifier.h"
#include "dnc/ProcessState.h"
#include "dnc/ServerView.h"
#include "platform/AnsiText.h"
#include "platform/Clock.h"
#include "platform/CncLibrary.h"
#include "platform/FileSync.h"
#include "startup/IniValue.h"
#include "startup/Settings.h"

#include <QElapsedTimer>
#include <QFile>
#include <QSaveFile>

#include <cstdio>
#include <cstring>

namespace nodalis {

using namespace focas;

namespace {

// Upload blocks, as the library hands them.
constexpr long kBlock = 256;
// How often events run during a transfer or a listing.
constexpr qint64 kEventsEveryMs = 10;
// How far ahead the block display looks for the next line's end.
constexpr qsizetype kBlockDisplayReach = 4096;
// The control link's usual port when none is configured.
constexpr unsigned short kDefaultPort = 8193;
constexpr int kTimeOutSeconds = 3;

bool stopRequested()
{
    return State().stopRequested;
}

// A fixed field of the library's records, up to its first NUL.
QByteArray field(const char* text, qsizetype size)
{
    return QByteArray(text, qstrnlen(text, size_t(size)));
}

void progress(int percent)
{
    SendInfoMessage(BuildInfoMessage("{%}", {QByteArray::number(percent)}), 0);
}

// Runs events now and then, not at every library call: a 10 MB program is
// 40,000 of them.
class EventPacer
{
public:
    EventPacer() { m_since.start(); }
    bool due()
    {
        if (m_since.elapsed() < kEventsEveryMs)
            return false;
        DoEvents();
        m_since.restart();
        return true;
    }

private:
    QElapsedTimer m_since;
};

// Code 10 is "call again" for at most BusyLimitMs in a row.
class BusyBudget
{
public:
    bool exhausted()
    {
        if (m_since < 0)
            m_since = Clock::nowMs();
        if (Clock::nowMs() - m_since > TK_FOCAS::BusyLimitMs)
            return true;
        WaitForEvents(1);
        return false;
    }
    void reset() { m_since = -1; }

private:
    qint64 m_since = -1;
};

} // namespace

TK_FOCAS::TK_FOCAS(std::unique_ptr<CncLibrary> library) : m_library(std::move(library)) {}

TK_FOCAS::~TK_FOCAS()
{
    disconnect();
}

long TK_FOCAS::ProgramNumber(const QString& name)
{
    const QString text = name.trimmed();
    bool whole = false;
    const long value = text.toLong(&whole);
    if (whole)
        return value >= 0 ? value : -1;
    const QString rest = !text.isEmpty() && !text.front().isDigit() ? text.mid(1) : text;
    qsizetype digits = 0;
    while (digits < rest.size() && digits < 9 && rest.at(digits).isDigit())
        ++digits;
    return digits == 0 ? -1 : rest.left(digits).toLong();
}

QByteArray TK_FOCAS::ParentFolder(const QByteArray& folder)
{
    const qsizetype slash = folder.lastIndexOf('/', folder.size() - 2);
    return slash <= 0 ? folder : folder.left(slash) + '/';
}

bool TK_FOCAS::failed(const QString& why)
{
    m_lastError = why;
    return false;
}

bool TK_FOCAS::connect()
{
    const Settings& s = Config();
    if (!m_library) {
        QString why;
        m_library = LoadCncLibrary(fromAnsi(s.FocasLibrary), &why);
        if (!why.isEmpty()) {
            m_missing = why;
            LogLine(toAnsi(why));
            std::fprintf(stderr, "nodalis: %s\n", qPrintable(why));
        }
    }
    if (!m_missing.isEmpty())
        return failed(m_missing);
    disconnect();
    const long port = long(LeadingNumber(s.RemotePort));
    unsigned short handle = 0;
    const short rc = m_library->cnc_allclibhndl3(
        s.RemoteHost.trimmed(), port > 0 ? quint16(port) : kDefaultPort, kTimeOutSeconds, &handle);
    m_handle = handle;
    ODBSYS info{};
    m_library->cnc_sysinfo(m_handle, &info);
    // " 0" is 0, letters are nothing.
    const QByteArray type = QByteArray(info.cnc_type, 2).trimmed();
    bool numeric = false;
    const int kind = type.toInt(&numeric);
    m_folderMode = !numeric || kind == 0 || kind >= 30;
    m_folder.clear();
    m_connected = rc == EW_OK;
    if (!m_connected)
        return failed(QStringLiteral("connexion à la commande %1 refusée (code %2)")
                          .arg(fromAnsi(s.RemoteHost.trimmed()))
                          .arg(rc));
    return true;
}

void TK_FOCAS::disconnect()
{
    if (m_connected && m_library)
        m_library->cnc_freelibhndl(m_handle);
    m_connected = false;
    m_folder.clear();
}

bool TK_FOCAS::ready()
{
    return m_connected || connect();
}

bool TK_FOCAS::fits(const QString& name, int size)
{
    if (name.contains(QChar(0)) || toAnsi(name).size() >= size)
        return failed(QStringLiteral("nom refusé (trop long pour la commande) : ") + name);
    return true;
}

QByteArray TK_FOCAS::readCurrentFolder()
{
    char dir[PathField] = {};
    m_library->cnc_rdpdf_curdir(m_handle, 2, dir);
    return field(dir, PathField);
}

bool TK_FOCAS::list(const QString& folder, RemoteListing& listing)
{
    listing.entries.clear();
    if (!ready())
        return false;
    if (!m_folderMode)
        return listPrograms(listing);
    QByteArray next;
    if (m_folder.isEmpty() || folder.isEmpty() || folder == QLatin1String("."))
        next = readCurrentFolder();
    else if (folder == QLatin1String(".."))
        next = ParentFolder(m_folder);
    else if (fits(folder, NameField))
        next = m_folder + toAnsi(folder) + '/';
    else
        return false;
    if (next.size() >= PathField)
        return failed(QStringLiteral("chemin trop long pour la commande : ") + fromAnsi(next));
    if (const short rc = m_library->cnc_wrpdf_curdir(m_handle, 2, next); rc != EW_OK)
        return failed(QStringLiteral("dossier %1 refusé par la commande (code %2)")
                          .arg(fromAnsi(next))
                          .arg(rc));
    m_folder = next;
    return listFolder(listing);
}

bool TK_FOCAS::listPrograms(RemoteListing& listing)
{
    EventPacer events;
    short top = 0;
    for (;;) {
        short count = 1;
        PRGDIR2 entry{};
        const short rc = m_library->cnc_rdprogdir2(m_handle, 2, &top, &count, &entry);
        if (rc != EW_OK || count < 1) {
            if (rc == EW_SOCKET || rc == EW_HANDLE) {
                m_connected = false;
                return failed(QStringLiteral("liaison perdue avec la commande (code %1)").arg(rc));
            }
            return true;
        }
        listing.entries.append(
            {RemoteEntry::File,
             QLatin1Char('O') + QString::number(entry.number).rightJustified(4, QLatin1Char('0')),
             qint64(entry.length), fromAnsi(field(entry.comment, sizeof entry.comment))});
        if (top >= 32767 || listing.entries.size() > 50000 || stopRequested())
            return true;
        top = short(top + 1);
        events.due();
    }
}

bool TK_FOCAS::listFolder(RemoteListing& listing)
{
    const QByteArray folder = readCurrentFolder();
    ODBPDFNFIL counts{};
    if (const short rc = m_library->cnc_rdpdf_subdirn(m_handle, folder, &counts); rc != EW_OK)
        return failed(
            QStringLiteral("dossier %1 illisible (code %2)").arg(fromAnsi(folder)).arg(rc));
    listing.entries.append({RemoteEntry::Folder, QStringLiteral(".."), 0, {}});
    EventPacer events;
    const int total = qMax(0, int(counts.dir_num)) + qMax(0, int(counts.file_num));
    for (int i = 0; i < total && !stopRequested(); ++i) {
        IDBPDFADIR request{};
        std::memcpy(request.path, folder.constData(),
                    size_t(qMin<qsizetype>(folder.size(), PathField - 1)));
        request.req_num = short(i);
        request.size_kind = 1;
        request.type = 1;
        ODBPDFADIR entry{};
        short count = 1;
        // An entry the control cannot give is left out.
        if (m_library->cnc_rdpdf_alldir(m_handle, &count, &request, &entry) != EW_OK)
            continue;
        listing.entries.append({entry.data_kind == 0 ? RemoteEntry::Folder : RemoteEntry::File,
                                fromAnsi(field(entry.d_f, sizeof entry.d_f)), qint64(entry.size),
                                fromAnsi(field(entry.comment, sizeof entry.comment))});
        events.due();
    }
    return true;
}

bool TK_FOCAS::get(const QString& name, const QString& localPath, const Progress& report)
{
    if (!ready())
        return false;
    if (m_folderMode) {
        if (!fits(name, NameField))
            return false;
        m_library->cnc_upstart4(m_handle, 0, toAnsi(name));
    } else {
        const long number = ProgramNumber(name);
        if (number < 0)
            return failed(QStringLiteral("pas de numéro de programme dans ") + name);
        m_library->cnc_upstart3(m_handle, 0, number, number);
    }
    QByteArray text;
    EventPacer events;
    BusyBudget busy;
    QString why;
    for (;;) {
        if (stopRequested()) {
            why = QStringLiteral("réception de %1 arrêtée").arg(name);
            break;
        }
        char block[kBlock] = {};
        long length = kBlock;
        const short rc = m_folderMode ? m_library->cnc_upload4(m_handle, &length, block)
                                      : m_library->cnc_upload3(m_handle, &length, block);
        if (rc == EW_BUSY) {
            if (busy.exhausted()) {
                why = QStringLiteral("la commande ne répond plus (code 10)");
                break;
            }
            continue;
        }
        busy.reset();
        if (rc == EW_OK || rc == EW_LENGTH)
            text.append(block, qBound<long>(0, length, kBlock)); // no NUL padding
        else if (rc == EW_DATA || rc == EW_RESET)
            break; // the end of the program
        else {
            why = QStringLiteral("réception de %1 interrompue (code %2)").arg(name).arg(rc);
            if (rc == EW_SOCKET)
                m_connected = false;
            break;
        }
        if (events.due() && report)
            report(text.size());
    }
    const short end =
        m_folderMode ? m_library->cnc_upend4(m_handle) : m_library->cnc_upend3(m_handle);
    if (!why.isEmpty())
        return failed(why);
    QSaveFile file(localPath);
    if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size() || !CommitWhole(file))
        return failed(localPath + QStringLiteral(" : ") + file.errorString());
    if (end != EW_OK)
        return failed(
            QStringLiteral("fin de réception de %1 refusée (code %2)").arg(name).arg(end));
    return true;
}

bool TK_FOCAS::put(const QString& localPath, const QString&)
{
    if (!ready())
        return false;
    QFile file(localPath);
    if (!file.open(QIODevice::ReadOnly))
        return failed(localPath + QStringLiteral(" : ") + file.errorString());
    const QByteArray text = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return failed(localPath + QStringLiteral(" : ") + file.errorString());
    const qsizetype total = text.size();
    progress(0);
    if (m_folderMode)
        m_library->cnc_dwnstart4(m_handle, 0, QByteArray());
    else
        m_library->cnc_dwnstart3(m_handle, 0);
    // The whole rest is offered at each call; the control takes what it can.
    qsizetype sent = 0;
    int shown = 0;
    EventPacer events;
    BusyBudget busy;
    QString why;
    while (sent < total) {
        if (stopRequested()) {
            why = QStringLiteral("envoi arrêté");
            break;
        }
        long length = long(qMin<qsizetype>(total - sent, 0x7FFFFFFF));
        const char* rest = text.constData() + sent;
        const short rc = m_folderMode ? m_library->cnc_download4(m_handle, &length, rest)
                                      : m_library->cnc_download3(m_handle, &length, rest);
        if (rc == EW_BUSY || (rc == EW_OK && length <= 0)) {
            if (busy.exhausted()) {
                why = QStringLiteral("la commande ne prend plus rien (code %1)").arg(rc);
                break;
            }
            continue;
        }
        busy.reset();
        if (rc != EW_OK || length > total - sent) {
            why = QStringLiteral("envoi interrompu par la commande (code %1)").arg(rc);
            if (rc == EW_SOCKET)
                m_connected = false;
            break;
        }
        sent += length;
        if (events.due()) {
            const int percent = int((1.0 - double(total - sent) / double(total)) * 100);
            if (percent != shown)
                progress(shown = percent);
            // The next line, looked for near here only: a program without
            // CR LF must not be searched to its end at each look.
            const QByteArrayView ahead =
                QByteArrayView(text).sliced(sent, qMin(kBlockDisplayReach, total - sent));
            const qsizetype eol = ahead.indexOf("\r\n");
            View().setBlockDisplay(eol < 0 ? QByteArray() : ahead.first(eol + 1).toByteArray());
        }
    }
    progress(0);
    const short end =
        m_folderMode ? m_library->cnc_dwnend4(m_handle) : m_library->cnc_dwnend3(m_handle);
    View().setBlockDisplay({});
    if (!why.isEmpty())
        return failed(why);
    if (end != EW_OK)
        return failed(QStringLiteral("la commande a refusé le programme (code %1)").arg(end));
    return true;
}

bool TK_FOCAS::deleteFile(const QString& name)
{
    if (!ready())
        return false;
    short rc = EW_OK;
    if (m_folderMode) {
        if (!fits(name, NameField))
            return false;
        rc = m_library->cnc_pdf_del(m_handle, readCurrentFolder() + toAnsi(name));
    } else {
        const long number = ProgramNumber(name);
        if (number < 0 || number > 32767)
            return failed(QStringLiteral("pas de numéro de programme dans ") + name);
        rc = m_library->cnc_delete(m_handle, short(number));
    }
    return rc == EW_OK || failed(QStringLiteral("suppression refusée (code %1)").arg(rc));
}

bool TK_FOCAS::rename(const QString& from, const QString& to)
{
    if (!ready())
        return false;
    short rc = EW_OK;
    if (m_folderMode) {
        if (!fits(from, NameField) || !fits(to, NameField))
            return false;
        rc = m_library->cnc_pdf_rename(m_handle, readCurrentFolder() + toAnsi(from) + '\0',
                                       toAnsi(to) + '\0');
    } else {
        const long a = ProgramNumber(from), b = ProgramNumber(to);
        if (a < 0 || b < 0)
            return failed(QStringLiteral("pas de numéro de programme"));
        rc = m_library->cnc_renameprog(m_handle, a, b);
    }
    return rc == EW_OK || failed(QStringLiteral("renommage refusé (code %1)").arg(rc));
}

bool TK_FOCAS::createFolder(const QString& name)
{
    return onFolder(name, &CncLibrary::cnc_pdf_add, QStringLiteral("dossier refusé"));
}

bool TK_FOCAS::deleteFolder(const QString& name)
{
    return onFolder(name, &CncLibrary::cnc_pdf_del,
                    QStringLiteral("suppression du dossier refusée"));
}

bool TK_FOCAS::onFolder(const QString& name, FolderCall call, const QString& refused)
{
    if (!ready())
        return false;
    if (!m_folderMode)
        return failed(QStringLiteral("cette commande n'a pas de dossiers"));
    if (!fits(name, NameField))
        return false;
    const short rc = (m_library.get()->*call)(m_handle, readCurrentFolder() + toAnsi(name) + '/');
    return rc == EW_OK || failed(refused + QStringLiteral(" (code %1)").arg(rc));
}

bool TK_FOCAS::createTextFile(const QString&)
{
    return failed(QStringLiteral("une commande FANUC ne prend que des programmes"));
}

} // namespace nodalis
