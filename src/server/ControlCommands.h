#pragma once

#include <QByteArray>
#include <QHash>

#include <functional>

namespace nodalis {

class ServerHost;

// The commands the program-management application sends over the control
// link, by keyword (compared exactly). Unknown keywords are ignored.
class ControlCommands
{
public:
    explicit ControlCommands(ServerHost& host);

    void run(const QByteArray& keyword, const QByteArray& arguments, int k);

private:
    using Command = std::function<void(const QByteArray& arguments, int k)>;

    void Connect(int k);
    void Refresh();
    void Reinit();

    ServerHost& m_host;
    QHash<QByteArray, Command> m_table;
};

} // namespace nodalis
