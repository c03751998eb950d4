#pragma once

#include <QString>
#include <QtGlobal>

#include <memory>

class QLockFile;

namespace nodalis {

// One running server per base folder. The lock lives in the system's
// temporary folder, keyed on the base folder's canonical path, so that a
// read-only base folder can still be served and a refused second start
// writes nothing into it.
class SingleInstance
{
public:
    explicit SingleInstance(const QString& baseFolder);
    ~SingleInstance();

    // True when this process now holds the folder; false when another
    // running instance does.
    bool acquire();

    QString lockPath() const;
    // The process that holds the folder, after a refused acquire (0: unknown).
    qint64 holder() const { return m_holder; }

private:
    QString m_lockPath;
    qint64 m_holder = 0;
    std::unique_ptr<QLockFile> m_lock;
};

} // namespace nodalis
