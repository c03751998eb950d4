#include "dnc/ReceptionFile.h"

#include "dnc/EventMessages.h"
#include "dnc/UploadStorage.h"
#include "platform/AnsiText.h"
#include "platform/Clock.h"
#include "platform/FileSync.h"
#include "startup/AppPaths.h"
#include "store/FileUtils.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>

namespace nodalis {

namespace {

constexpr int kReceptionFailed = 713;

class FileSink : public TextSink
{
public:
    bool open(const QString& path)
    {
        m_file.setFileName(path);
        return checked(m_file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    }
    bool write(QByteArrayView bytes) override
    {
        return checked(m_file.write(bytes.data(), bytes.size()) == bytes.size());
    }
    bool flush() override { return checked(m_file.flush()); }
    bool close() override
    {
        const bool synced = checked(SyncToDisk(m_file));
        m_file.close();
        return synced && checked(m_file.error() == QFileDevice::NoError);
    }
    QString error() const override { return m_error; }

private:
    // The system's own words for a failure ("No space left on device"),
    // taken before anything else can change them.
    bool checked(bool ok)
    {
        if (!ok && m_error.isEmpty()) {
            const int code = errno;
            m_error = code != 0 ? qt_error_string(code) : m_file.errorString();
        }
        return ok;
    }

    QFile m_file;
    QString m_error;
};

TextSinkOpener& sinkOpener()
{
    static TextSinkOpener opener;
    return opener;
}

// Set while reception files cannot be written, so that the fault is told
// once and not at every cycle that finds it still there.
bool& faultReported()
{
    static bool reported = false;
    return reported;
}

QString markerPath()
{
    return Paths().receptionFile + QStringLiteral(".open");
}

void reportFault(const QString& reason)
{
    if (faultReported())
        return;
    faultReported() = true;
    SetStatusWithReason(kReceptionFailed, toAnsi(reason));
}

// An earlier reception nobody examined moves aside under its dated name.
// False when it is still in the way (it could not be moved).
bool keepUnexamined()
{
    const QString& reception = Paths().receptionFile;
    if (!QFile::exists(markerPath()) || QFileInfo(reception).size() <= 0)
        return true;
    QString kept = StorageName(ReceptionCopyPath, 0, QFileInfo(reception).lastModified());
    while (QFile::exists(kept))
        kept = NextVersionName(kept);
    if (!QFile::rename(reception, kept))
        return false;
    SetStatusWithReason(kReceptionFailed,
                        toAnsi(QStringLiteral("réception interrompue, conservée dans ") +
                               QDir::toNativeSeparators(kept)));
    return true;
}

} // namespace

std::unique_ptr<TextSink> OpenFileSink(const QString& path, QString& error)
{
    auto sink = std::make_unique<FileSink>();
    if (sink->open(path))
        return sink;
    error = sink->error();
    return nullptr;
}

void SetReceptionSinkOpener(TextSinkOpener opener)
{
    sinkOpener() = std::move(opener);
}

ReceptionFile::~ReceptionFile()
{
    close();
}

bool ReceptionFile::open()
{
    close();
    m_failed = false;
    const QString& path = Paths().receptionFile;
    MakeFolders(QFileInfo(path).absolutePath());
    if (!keepUnexamined()) {
        reportFault(
            QDir::toNativeSeparators(path) +
            QStringLiteral(" : réception précédente non examinée, impossible de la déplacer"));
        return false;
    }
    if (QFile::exists(path)) {
        QFile::remove(path);
        Pause(100);
    }
    QString error;
    QFile marker(markerPath());
    if (!marker.open(QIODevice::WriteOnly))
        error = marker.errorString();
    else if (sinkOpener())
        m_sink = sinkOpener()(path, error);
    else
        m_sink = OpenFileSink(path, error);
    if (!m_sink) {
        reportFault(QDir::toNativeSeparators(path) + QStringLiteral(" : ") + error);
        return false;
    }
    faultReported() = false;
    return true;
}

void ReceptionFile::write(QByteArrayView bytes)
{
    if (m_sink && !m_failed && !m_sink->write(bytes))
        fail(m_sink->error());
}

void ReceptionFile::flush()
{
    if (m_sink && !m_failed && !m_sink->flush())
        fail(m_sink->error());
}

bool ReceptionFile::close()
{
    if (!m_sink)
        return !m_failed;
    if (!m_sink->close() && !m_failed)
        fail(m_sink->error());
    m_sink.reset();
    return !m_failed;
}

void ReceptionFile::fail(const QString& reason)
{
    m_failed = true;
    reportFault(QDir::toNativeSeparators(Paths().receptionFile) + QStringLiteral(" : ") + reason);
}

void ReceptionFile::Examined()
{
    QFile::remove(markerPath());
}

void ReceptionFile::KeepInterrupted()
{
    if (keepUnexamined())
        QFile::remove(markerPath());
}

} // namespace nodalis
