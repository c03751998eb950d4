#pragma once

#include "dnc/EventMessages.h"
#include "startup/AppPaths.h"
#include "startup/Settings.h"
#include "support/ProcessReset.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace nodalis::testing {

// The bytes of a literal, NULs included.
template <qsizetype N> QByteArray raw(const char (&text)[N])
{
    return QByteArray(text, N - 1);
}

// A fresh base folder, default settings and no event for each test.
class ProgramTextFixture
{
public:
    void reset()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
        ResetProcessState(m_dir->path());
    }

    QString path(const QString& name) const { return m_dir->filePath(name); }

    QString write(const QString& name, const QByteArray& bytes) const
    {
        const QString p = path(name);
        QDir().mkpath(QFileInfo(p).absolutePath());
        QFile f(p);
        if (f.open(QIODevice::WriteOnly))
            f.write(bytes);
        return p;
    }

    static QByteArray read(const QString& path)
    {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
    }

    // The event codes of the day's event log, in the order they were logged.
    QList<int> loggedEvents() const
    {
        QList<int> codes;
        const QDir logs(Paths().logFolder);
        const QRegularExpression code(QStringLiteral("---Code(\\d+)---"));
        for (const QString& name : logs.entryList(QDir::Files)) {
            const QString text = QString::fromLatin1(read(logs.filePath(name)));
            for (const auto& m : code.globalMatch(text))
                codes.append(m.captured(1).toInt());
        }
        return codes;
    }

private:
    std::unique_ptr<QTemporaryDir> m_dir;
};

} // namespace nodalis::testing
