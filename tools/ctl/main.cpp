// nodalisctl: command-line client of the Nodalis control link.

#include "ctl/ConfigKeys.h"
#include "ctl/CtlOptions.h"
#include "ctl/Notification.h"
#include "ctl/RemoteFiles.h"
#include "ctl/SerialPorts.h"
#include "ctl/StoreAdmin.h"

#include "dnc/ControlProtocol.h"
#include "platform/AnsiText.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTcpSocket>
#include <QTextStream>

#include <algorithm>
#include <cstdio>
#include <unistd.h>

using namespace nodalis;
using namespace nodalis::ctl;

namespace {

constexpr int ExitUnreachable = 2;
constexpr int ExitNoAnswer = 3;
constexpr int ExitRefused = 4;
constexpr int ExitFailed = 5;
constexpr int ExitUsage = 64;

class Session
{
public:
    explicit Session(const CtlOptions& o) : m_options(o), m_tty(::isatty(1) != 0) {}

    int connect()
    {
        m_socket.connectToHost(m_options.host, quint16(m_options.port));
        if (!m_socket.waitForConnected(waitMs())) {
            std::fprintf(stderr, "nodalisctl: cannot reach the server at %s:%d: %s\n",
                         qPrintable(m_options.host), m_options.port,
                         qPrintable(m_socket.errorString()));
            return ExitUnreachable;
        }
        return 0;
    }

    void send(const QByteArray& message)
    {
        m_socket.write(message + "\r\n");
        m_socket.flush();
    }

    // Reads lines until one whose tag is wanted (true), the connection ends
    // (closed set) or the time-out passes. Every line but the wanted one is
    // printed unless quiet.
    bool readUntil(const QByteArray& wanted, bool limited, bool printWanted = false)
    {
        QElapsedTimer timer;
        timer.start();
        for (;;) {
            while (m_socket.canReadLine()) {
                heardFrom = true;
                QByteArray line = m_socket.readLine();
                line.chop(line.endsWith("\r\n") ? 2 : (line.endsWith('\n') ? 1 : 0));
                const Notification n = Decode(line);
                if (n.tag == "{i}" && IsFailureStatus(n.status))
                    failed = true;
                const bool ends = n.tag == "{i}" &&
                                  std::any_of(endEvents.cbegin(), endEvents.cend(),
                                              [&](int code) { return IsStatusOf(n.status, code); });
                if (ends) {
                    if (!quiet)
                        print(line, n);
                    return true;
                }
                const bool match = !wanted.isEmpty() && n.tag == wanted;
                if ((!match || printWanted) && !quiet)
                    print(line, n);
                if (match)
                    return true;
            }
            if (m_socket.state() != QAbstractSocket::ConnectedState) {
                closed = true;
                return false;
            }
            int left = -1;
            if (limited && m_options.timeout > 0) {
                left = waitMs() - int(timer.elapsed());
                if (left <= 0)
                    return false;
            }
            if (!m_socket.waitForReadyRead(left < 0 ? 1000 : qMin(left, 1000)) &&
                m_socket.state() != QAbstractSocket::ConnectedState) {
                closed = true;
                return false;
            }
        }
    }

    void finish()
    {
        if (m_barShown)
            std::printf("\n");
        std::fflush(stdout);
    }

    bool closed = false;
    bool heardFrom = false; // the server said something
    bool failed = false;    // a failure event came back
    bool quiet = false;     // nothing more is printed
    QList<int> endEvents;   // a status of one of these ends a wait too

private:
    int waitMs() const { return m_options.timeout > 0 ? int(m_options.timeout * 1000) : -1; }

    void print(const QByteArray& line, const Notification& n)
    {
        if (m_options.raw) {
            std::printf("%s\n", fromAnsi(line).toLocal8Bit().constData());
        } else if (n.progress >= 0 && m_tty) {
            const int filled = n.progress / 5;
            const QString bar =
                QString(filled, QLatin1Char('#')) + QString(20 - filled, QLatin1Char('.'));
            std::printf("\rprogress  [%s] %3d%%", qPrintable(bar), n.progress);
            m_barShown = true;
        } else {
            if (m_barShown)
                std::printf("\n");
            m_barShown = false;
            std::printf("%s\n", n.text.toLocal8Bit().constData());
        }
        std::fflush(stdout);
    }

    const CtlOptions& m_options;
    QTcpSocket m_socket;
    bool m_tty;
    bool m_barShown = false;
};

QByteArray commandMessage(const QStringList& words)
{
    QList<QByteArray> args;
    for (int i = 1; i < words.size(); ++i)
        args.append(toAnsi(words[i]));
    return BuildInfoMessage(toAnsi(words.first()), args);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    CtlOptions o = CtlOptions::Parse(QCoreApplication::arguments());
    if (o.command == QLatin1String("help")) {
        std::printf("%s", qPrintable(CtlOptions::Usage()));
        return 0;
    }
    if (o.error.isEmpty() && o.command == QLatin1String("ports")) {
        QTextStream out(stdout);
        return ListSerialPorts(out);
    }
    if (o.error.isEmpty() && o.command == QLatin1String("config")) {
        QTextStream out(stdout);
        return PrintConfigKeys(out, o.arguments.contains(QStringLiteral("--markdown")));
    }
    if (o.error.isEmpty() && o.command == QLatin1String("store")) {
        QTextStream out(stdout);
        QTextStream err(stderr);
        return RunStoreCommand(o.baseFolder, o.arguments, out, err);
    }
    if (!o.error.isEmpty() || !o.resolveServer()) {
        std::fprintf(stderr, "nodalisctl: %s\n\n%s", qPrintable(o.error),
                     qPrintable(CtlOptions::Usage()));
        return ExitUsage;
    }

    Session session(o);
    if (const int rc = session.connect())
        return rc;

    int rc = 0;
    const auto refused = [&] {
        // Accepted, then closed before a word: the server's allow-list.
        if (!session.closed || session.heardFrom)
            return false;
        std::fprintf(stderr, "nodalisctl: %s:%d: refused by the server (ControlAllowFrom?)\n",
                     qPrintable(o.host), o.port);
        rc = ExitRefused;
        return true;
    };
    if (o.command == QLatin1String("ping")) {
        QElapsedTimer t;
        t.start();
        session.send(BuildInfoMessage("PING"));
        if (session.readUntil("OK", true))
            std::printf("pong from %s:%d in %.1f ms\n", qPrintable(o.host), o.port,
                        double(t.nsecsElapsed()) / 1e6);
        else if (!refused()) {
            std::fprintf(stderr, "nodalisctl: no answer to PING from %s:%d within %g s\n",
                         qPrintable(o.host), o.port, o.timeout);
            rc = ExitNoAnswer;
        }
    } else if (o.command == QLatin1String("stop")) {
        session.send(BuildInfoMessage("E"));
        session.readUntil({}, true);
        if (!refused() && !session.closed) {
            std::fprintf(stderr, "nodalisctl: the server did not stop within %g s\n", o.timeout);
            rc = ExitNoAnswer;
        }
    } else if (o.command == QLatin1String("watch")) {
        session.send(BuildInfoMessage("CONNECT"));
        session.readUntil({}, false);
        refused();
    } else if (IsRemoteCommand(o.command)) {
        const RemoteRequest request = BuildRemoteRequest(o.command, o.arguments);
        session.endEvents = request.endEvents;
        for (const QByteArray& line : request.lines)
            session.send(line);
        const bool byEvent = !request.endEvents.isEmpty();
        if (request.until.isEmpty() && !byEvent)
            session.send(BuildInfoMessage("PING", {"order"}));
        const QByteArray until = !request.until.isEmpty() ? request.until
                                 : byEvent                ? QByteArray()
                                                          : QByteArray("OK");
        bool answered = session.readUntil(until, true, !request.until.isEmpty());
        for (int n = 1; answered && n < request.answers; ++n) {
            session.quiet = true;
            answered = session.readUntil(until, true);
        }
        if (!answered && !refused()) {
            std::fprintf(stderr, "nodalisctl: no answer within %g s\n", o.timeout);
            rc = ExitNoAnswer;
        } else if (session.failed) {
            rc = ExitFailed;
        }
    } else {
        session.send(commandMessage(o.arguments));
        bool done;
        if (!o.until.isEmpty()) {
            done = session.readUntil(o.until.toLatin1(), true, true);
        } else {
            // The server handles a client's lines in order: the answer to a
            // PING with an argument (it waits its turn, unlike a bare one)
            // sent behind the command marks the command as handled.
            session.send(BuildInfoMessage("PING", {"order"}));
            done = session.readUntil("OK", true);
        }
        if (!done && !refused() && !session.closed) {
            std::fprintf(stderr, "nodalisctl: no answer within %g s\n", o.timeout);
            rc = ExitNoAnswer;
        }
    }
    session.finish();
    return rc;
}
