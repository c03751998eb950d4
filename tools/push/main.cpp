// nodalis-push: pushes one program file down a serial line, then exits.
//
// The server runs it as a child process for the push-box method and
// cancels a push by terminating it; it opens the line through the same
// serial-port control as the server, so line settings and flow control
// behave alike. It writes no logs: a failure is one line on stderr, which
// the server logs with its failure event.

#include "dnc/SerialLine.h"
#include "platform/SerialControl.h"
#include "platform/SerialDevice.h"

#include <QAbstractEventDispatcher>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QRegularExpression>
#include <QTimer>

#include <cstdio>

using namespace nodalis;
using namespace Qt::StringLiterals;

namespace {

enum ExitCode : int
{
    Pushed = 0,
    BadUsage = 2,
    FileFailure = 3,
    PortFailure = 4,
    LineLost = 5,
};

// Pieces read from the file and handed to the control; the control is
// topped up whenever it holds less than kQueued.
constexpr qint64 kPiece = 64 * 1024;
constexpr qint64 kQueued = 4 * kPiece;
// Longest wait between two looks at the driver's queue while it drains.
constexpr int kDrainStepMs = 50;

void complain(const QString& text)
{
    std::fprintf(stderr, "nodalis-push: %s\n", text.toLocal8Bit().constData());
    std::fflush(stderr);
}

struct Line
{
    int portNumber = 0;
    QByteArray device; // empty: the port number's device
    int baud = 0;
    int flow = 0;
    char parity = 'N';
    int dataBits = 8;
    int stopBits = 1;

    // Bits on the wire per byte, to pace the drain.
    int bitsPerByte() const { return 1 + dataBits + (parity == 'N' ? 0 : 1) + stopBits; }
    QString settings() const
    {
        return u"%1,%2,%3,%4"_s.arg(baud).arg(QLatin1Char(parity)).arg(dataBits).arg(stopBits);
    }
};

// Reads the positional arguments into the line; an empty string when they
// make sense, else what is wrong with them.
QString parseLine(const QStringList& args, Line& line)
{
    static const QRegularExpression comPort(u"^COM([0-9]{1,5})$"_s,
                                            QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch port = comPort.match(args[0]);
    line.portNumber = port.hasMatch() ? port.captured(1).toInt() : -1;
    // A named device stands for the port: its number then maps to nothing.
    const int lowest = line.device.isEmpty() ? 1 : 0;
    if (line.portNumber < lowest || line.portNumber > 16383)
        return u"bad port name '%1' (COM1 to COM16383)"_s.arg(args[0]);

    bool ok = false;
    line.baud = args[1].toInt(&ok);
    if (!ok || line.baud <= 0)
        return u"bad speed '%1'"_s.arg(args[1]);
    line.flow = args[2].toInt(&ok);
    if (!ok || line.flow < 0 || line.flow > 6)
        return u"bad flow-control mode '%1' (0 to 6)"_s.arg(args[2]);
    const int parity = args[3].toInt(&ok);
    if (!ok || parity < 0 || parity > 2)
        return u"bad parity '%1' (0 none, 1 odd, 2 even)"_s.arg(args[3]);
    line.parity = "NOE"[parity];
    line.dataBits = args[4].toInt(&ok);
    if (!ok || (line.dataBits != 7 && line.dataBits != 8))
        return u"bad data bits '%1' (7 or 8)"_s.arg(args[4]);
    line.stopBits = args[5].toInt(&ok);
    if (!ok || (line.stopBits != 1 && line.stopBits != 2))
        return u"bad stop bits '%1' (1 or 2)"_s.arg(args[5]);
    return {};
}

QString openFailureText(int error, const QString& device)
{
    switch (error) {
    case SerialDevice::ErrorBadPort:
        return u"No such device"_s;
    case SerialDevice::ErrorUnavailable:
        return u"Device or resource busy"_s;
    case SerialDevice::ErrorAccessDenied: {
        const QString group = SerialDeviceGroup(device);
        return group.isEmpty()
                   ? u"Permission denied"_s
                   : u"Permission denied (open to the members of group %1)"_s.arg(group);
    }
    case SerialDevice::ErrorBadBaud:
        return u"speed not supported"_s;
    case SerialDevice::ErrorBadByteSize:
        return u"data bits not supported"_s;
    case SerialDevice::ErrorCommState:
        return u"flow control cannot be set"_s;
    case SerialDevice::ErrorBadSettings:
        return u"line settings refused"_s;
    default:
        return u"error %1"_s.arg(error);
    }
}

// Feeds the file to the control as fast as the line takes it, then waits
// until the driver has sent the last byte. Between two feeds it waits on
// the event loop: the control writes to the device as the device takes it,
// and every time the loop is about to sleep the control is topped up.
class Pusher : public QObject
{
public:
    Pusher(SerialControl& control, QFile& file, const Line& line)
        : m_control(control), m_file(file), m_line(line)
    {
        m_drainTimer.setSingleShot(true);
        connect(&m_drainTimer, &QTimer::timeout, this, &Pusher::checkDrained);
        connect(&m_control, &SerialControl::OnComm, this, [this] {
            if (m_control.CommEvent() == SerialControl::EventDeviceLost)
                lost();
        });
        connect(QAbstractEventDispatcher::instance(), &QAbstractEventDispatcher::aboutToBlock, this,
                &Pusher::feed);
    }

    void start() { QMetaObject::invokeMethod(this, &Pusher::feed, Qt::QueuedConnection); }

private:
    void feed()
    {
        if (m_done || m_draining)
            return;
        if (!m_control.PortOpen())
            return lost();
        while (!m_file.atEnd() && m_control.OutBufferHeld() < kQueued) {
            const QByteArray piece = m_file.read(kPiece);
            if (piece.isEmpty()) {
                if (m_file.error() != QFileDevice::NoError) {
                    m_control.clearOutBuffer();
                    return finish(FileFailure, u"cannot read %1: %2"_s.arg(m_file.fileName(),
                                                                           m_file.errorString()));
                }
                break;
            }
            if (m_control.Output(piece) != 0)
                return lost();
        }
        if (m_file.atEnd() && m_control.OutBufferHeld() == 0) {
            m_draining = true;
            checkDrained();
        }
    }

    // The driver's queue gives no signal when it empties: look again after
    // about the time the line needs for what is left.
    void checkDrained()
    {
        if (m_done)
            return;
        if (!m_control.PortOpen())
            return lost();
        const qint64 left = m_control.OutBufferCount();
        if (left == 0)
            return finish(Pushed);
        const qint64 lineMs = left * m_line.bitsPerByte() * 1000 / m_line.baud;
        m_drainTimer.start(int(qBound(qint64(1), lineMs, qint64(kDrainStepMs))));
    }

    void lost()
    {
        finish(LineLost, u"the line %1 went away while writing %2"_s.arg(m_control.DeviceName(),
                                                                         m_file.fileName()));
    }

    void finish(int code, const QString& why = {})
    {
        if (m_done)
            return;
        m_done = true;
        m_drainTimer.stop();
        if (!why.isEmpty())
            complain(why);
        QCoreApplication::exit(code);
    }

    SerialControl& m_control;
    QFile& m_file;
    const Line m_line;
    QTimer m_drainTimer;
    bool m_draining = false;
    bool m_done = false;
};

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(u"nodalis-push"_s);

    QCommandLineParser parser;
    parser.setApplicationDescription(
        u"Pushes one file down a serial line, then exits.\n"
        "Exit status: 0 pushed, 2 bad usage, 3 file unreadable, 4 port cannot be opened,\n"
        "5 line lost while writing."_s);
    const QCommandLineOption helpOption = parser.addHelpOption();
    const QCommandLineOption deviceOption(u"device"_s,
                                          u"Opens this device instead of PORTNAME's."_s, u"PATH"_s);
    parser.addOption(deviceOption);
    parser.addPositionalArgument(
        u"PORTNAME"_s, u"COMn: /dev/ttyS(n-1), COMn on Windows, unless --device is given."_s);
    parser.addPositionalArgument(u"BAUD"_s, u"Line speed."_s);
    parser.addPositionalArgument(
        u"FLOW"_s, u"Flow-control mode: 0 none, 1 XON/XOFF, 2 RTS/CTS, 3 RTS/CTS and XON/XOFF, "
                   "4 DSR and XON/XOFF, 5 DSR and RTS/CTS, 6 DSR, RTS/CTS and XON/XOFF."_s);
    parser.addPositionalArgument(u"PARITY"_s, u"0 none, 1 odd, 2 even."_s);
    parser.addPositionalArgument(u"DATABITS"_s, u"7 or 8."_s);
    parser.addPositionalArgument(u"STOPBITS"_s, u"1 or 2."_s);
    parser.addPositionalArgument(u"FILE"_s, u"The file to push, byte for byte."_s);

    if (!parser.parse(QCoreApplication::arguments())) {
        complain(parser.errorText() + u" (see --help)"_s);
        return BadUsage;
    }
    if (parser.isSet(helpOption)) {
        std::fputs(parser.helpText().toLocal8Bit().constData(), stdout);
        return 0;
    }
    const QStringList args = parser.positionalArguments();
    if (args.size() != 7) {
        complain(u"expected 7 arguments, got %1 (see --help)"_s.arg(args.size()));
        return BadUsage;
    }
    Line line;
    line.device = parser.value(deviceOption).toLocal8Bit();
    if (const QString wrong = parseLine(args, line); !wrong.isEmpty()) {
        complain(wrong);
        return BadUsage;
    }

    QFile file(args[6]);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered)) {
        complain(u"cannot read %1: %2"_s.arg(file.fileName(), file.errorString()));
        return FileFailure;
    }

    // Set up as the server sets up its line for sending.
    SerialControl control;
    control.setDeviceName(line.device);
    if ((line.portNumber > 0 && control.setCommPort(line.portNumber)) ||
        control.setSettings(line.settings()) || control.setHandshaking(HandshakeOf(line.flow))) {
        complain(u"bad line settings %1, flow %2"_s.arg(line.settings()).arg(line.flow));
        return BadUsage;
    }
    control.setDTREnable(true);
    if (const int error = control.setPortOpen(true)) {
        complain(u"cannot open %1: %2"_s.arg(control.DeviceName(),
                                             openFailureText(error, control.DeviceName())));
        return PortFailure;
    }

    Pusher pusher(control, file, line);
    pusher.start();
    return QCoreApplication::exec();
}
