#include "ctl/CtlOptions.h"

#include "ctl/RemoteFiles.h"
#include "ctl/StoreAdmin.h"

#include "startup/AppPaths.h"
#include "startup/IniFile.h"
#include "startup/IniValue.h"

#include <QDir>
#include <QFileInfo>
#include <QHostAddress>
#include <QNetworkInterface>

namespace nodalis::ctl {

CtlOptions CtlOptions::Parse(const QStringList& args)
{
    CtlOptions o;
    auto value = [&](int& i, const QString& name) -> QString {
        if (i + 1 >= args.size()) {
            o.error = name + QStringLiteral(" needs a value");
            return {};
        }
        return args[++i];
    };
    for (int i = 1; i < args.size() && o.error.isEmpty(); ++i) {
        const QString& a = args[i];
        // The store commands take options of their own.
        const bool store =
            (o.command == QLatin1String("store") || o.command == QLatin1String("config") ||
             (o.command == QLatin1String("receive") &&
              (a == QLatin1String("--folder") || a == QLatin1String("--concat") ||
               o.arguments.value(o.arguments.size() - 1) == QLatin1String("--folder")))) &&
            a != QLatin1String("--base");
        if (!o.command.isEmpty() && (store || !a.startsWith(QLatin1String("--")))) {
            o.arguments.append(a);
        } else if (a == QLatin1String("--host")) {
            o.host = value(i, a);
        } else if (a == QLatin1String("--port")) {
            bool ok = false;
            o.port = value(i, a).toInt(&ok);
            if (o.error.isEmpty() && (!ok || o.port < 1 || o.port > 65535))
                o.error = QStringLiteral("--port takes a port number");
        } else if (a == QLatin1String("--base")) {
            o.baseFolder = value(i, a);
        } else if (a == QLatin1String("--timeout")) {
            bool ok = false;
            o.timeout = value(i, a).toDouble(&ok);
            if (o.error.isEmpty() && (!ok || o.timeout < 0))
                o.error = QStringLiteral("--timeout takes seconds");
        } else if (a == QLatin1String("--raw")) {
            o.raw = true;
        } else if (a == QLatin1String("--until")) {
            o.until = value(i, a);
        } else if (a == QLatin1String("--help") || a == QLatin1String("-h")) {
            o.command = QStringLiteral("help");
        } else if (a.startsWith(QLatin1String("--"))) {
            o.error = QStringLiteral("unknown option ") + a;
        } else {
            o.command = a;
        }
    }
    if (!o.error.isEmpty())
        return o;
    static const QStringList commands = {QStringLiteral("ping"),   QStringLiteral("stop"),
                                         QStringLiteral("watch"),  QStringLiteral("send"),
                                         QStringLiteral("store"),  QStringLiteral("ports"),
                                         QStringLiteral("config"), QStringLiteral("help")};
    const bool remote = IsRemoteCommand(o.command);
    if (remote) {
        const QString bad = BuildRemoteRequest(o.command, o.arguments).error;
        if (!bad.isEmpty())
            o.error = bad;
        return o;
    }
    if (o.command.isEmpty())
        o.error = QStringLiteral("no command given");
    else if (!commands.contains(o.command))
        o.error = QStringLiteral("unknown command ") + o.command;
    else if (o.command == QLatin1String("send") && o.arguments.isEmpty())
        o.error = QStringLiteral("send needs a keyword");
    else if (o.command == QLatin1String("store") && o.arguments.isEmpty())
        o.error = QStringLiteral("store needs init, add, list or show");
    else if (o.command == QLatin1String("config") &&
             o.arguments != QStringList{QStringLiteral("keys")} &&
             o.arguments != QStringList{QStringLiteral("keys"), QStringLiteral("--markdown")})
        o.error = QStringLiteral("config takes keys [--markdown]");
    else if (o.command != QLatin1String("send") && o.command != QLatin1String("store") &&
             o.command != QLatin1String("config") && !o.arguments.isEmpty())
        o.error = QStringLiteral("%1 takes no arguments").arg(o.command);
    return o;
}

bool CtlOptions::resolveServer()
{
    if (!baseFolder.isEmpty() && (host.isEmpty() || port < 0)) {
        const QString ini = QDir(baseFolder).filePath(QStringLiteral("Nodalis.ini"));
        if (!QFileInfo(ini).isFile()) {
            error = QStringLiteral("no Nodalis.ini in %1").arg(baseFolder);
            return false;
        }
        const QByteArray section = QByteArrayLiteral("NODALIS");
        if (host.isEmpty()) {
            host = QString::fromLatin1(TrimSpaces(FNReadIni(ini, section, "IPserver")));
            // A server on this host is reached through loopback, which an
            // allow-list of 127.0.0.1 lets in; its network address may not be.
            if (QNetworkInterface::allAddresses().contains(QHostAddress(host)))
                host = QStringLiteral("127.0.0.1");
        }
        if (port < 0) {
            const int published = int(LeadingNumber(TrimSpaces(FNReadIni(ini, section, "Socket"))));
            if (published < 1 || published > 65535) {
                error = QStringLiteral("%1 publishes no control port (key Socket): is the server "
                                       "running in mode 0 or 2?")
                            .arg(ini);
                return false;
            }
            port = published;
        }
    }
    if (host.isEmpty())
        host = QStringLiteral("127.0.0.1");
    if (port < 0) {
        error = QStringLiteral("give --port or --base");
        return false;
    }
    return true;
}

QString CtlOptions::Usage()
{
    return QStringLiteral(
               "Usage: nodalisctl [--host H] [--port P | --base DIR] [--timeout S] "
               "[--raw] COMMAND\n"
               "\n"
               "Commands:\n"
               "  ping                       check that the server answers\n"
               "  stop                       stop the server (command E)\n"
               "  ls [FOLDER]                a networked machine's folder (.. goes up)\n"
               "  cd FOLDER                  moves into that folder and lists it\n"
               "  get NAME [DEST]            fetch a file: examined, or kept in DEST (method 19)\n"
               "  preview NAME               fetch a file for a look; prints its path\n"
               "  put FILE...                send files under their own names\n"
               "  receive NAME... [--folder F] [--concat]\n"
               "                             fetch files and a folder (--concat: as one)\n"
               "  rm NAME, rmdir FOLDER, mv OLD NEW, mkdir FOLDER, mktxt NAME [TEXT]\n"
               "  ftp-list                   list the FTP folder with the server's own client\n"
               "  ports                      list this PC's serial devices (PortName), "
               "free or busy\n"
               "  config keys [--markdown]   every key of Nodalis.ini: section, type, "
               "default, meaning\n"
               "  watch                      print every notification until the server "
               "closes the link\n"
               "  send KEYWORD [ARG...]      send Info:KEYWORD|Arg:a0<>a1<>| and print "
               "the replies\n"
               "                             (until the server has handled it, or "
               "--until TAG arrives)\n") +
           StoreUsageText() +
           QStringLiteral(
               "\n"
               "  --base DIR    the server's folder: its address and port (IPserver, Socket), its "
               "store\n"
               "  --timeout S   seconds to wait for the server (default 10; 0: no limit)\n"
               "  --raw         print the lines as received\n"
               "\n"
               "Exit status: 0 done, 1 store command failed, 2 server unreachable, 3 no answer in "
               "time,\n"
               "4 refused by the server (ControlAllowFrom), 5 a failure event came back,\n"
               "64 bad command line.\n");
}

} // namespace nodalis::ctl
