#pragma once

#include "dnc/ReceptionFile.h"

#include <QFile>

namespace nodalis::test {

// A file on a disk that fills up: it takes `capacity` bytes (what fits is
// really written), then refuses every write; with failOnClose it takes
// everything and fails when the bytes are put on the disk.
class FailingSink : public TextSink
{
public:
    FailingSink(const QString& path, qint64 capacity, bool failOnClose)
        : m_capacity(capacity), m_failOnClose(failOnClose)
    {
        m_file.setFileName(path);
        m_file.open(QIODevice::WriteOnly | QIODevice::Truncate);
    }
    bool write(QByteArrayView bytes) override
    {
        const qint64 room = qMax<qint64>(0, m_capacity - m_file.size());
        m_file.write(bytes.data(), qMin<qint64>(room, bytes.size()));
        m_file.flush();
        return room >= bytes.size();
    }
    bool flush() override { return m_file.flush(); }
    bool close() override
    {
        m_file.close();
        return !m_failOnClose && m_file.size() <= m_capacity;
    }
    QString error() const override { return QStringLiteral("No space left on device"); }

    // Installs reception files that fail this way; capacity < 0: none can
    // even be created.
    static void install(qint64 capacity, bool failOnClose = false)
    {
        SetReceptionSinkOpener(
            [=](const QString& path, QString& error) -> std::unique_ptr<TextSink> {
                if (capacity < 0) {
                    error = QStringLiteral("Permission denied");
                    return nullptr;
                }
                return std::make_unique<FailingSink>(path, capacity, failOnClose);
            });
    }

private:
    QFile m_file;
    qint64 m_capacity;
    bool m_failOnClose;
};

} // namespace nodalis::test
