#pragma once

#include <QByteArray>
#include <QtGlobal>

namespace nodalis {

// What is left of a TCP connection whose peer has stopped sending (a
// half-close). The socket layer closes such a connection at once; a
// duplicate of its descriptor keeps it open so that the commands that came
// before the end still get their answers. Closed when destroyed.
class ClosingConnection
{
public:
    // Duplicates a connected descriptor; invalid when the system gives none.
    explicit ClosingConnection(qintptr descriptor);
    ~ClosingConnection();
    ClosingConnection(const ClosingConnection&) = delete;
    ClosingConnection& operator=(const ClosingConnection&) = delete;

    bool isValid() const { return m_descriptor >= 0; }
    // Writes all of data, waiting a short while for room; false when the
    // peer has gone altogether.
    bool write(const QByteArray& data);

private:
    qintptr m_descriptor = -1;
};

} // namespace nodalis
