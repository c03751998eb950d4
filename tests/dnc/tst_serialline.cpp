// The serial line layer: flow-control modes, opening the control with its
// events, pieces written, software flow control on a pseudo-terminal, the
// library's tables and error events.

#include "dnc/EventMessages.h"
#include "dnc/LibraryPort.h"
#include "dnc/SerialLine.h"
#include "platform/AnsiText.h"
#include "platform/QtSerialDevice.h"
#include "platform/SerialControl.h"
#include "platform/SerialLibrary.h"
#include "startup/Settings.h"

#include "support/FakeSerialDevice.h"
#include "support/ProcessReset.h"

#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <optional>

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace nodalis;
using namespace Qt::StringLiterals;

namespace {

// A pseudo-terminal whose master side plays the machine.
struct Pty
{
    int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
    QString slave;

    Pty()
    {
        if (master >= 0 && ::grantpt(master) == 0 && ::unlockpt(master) == 0)
            slave = QString::fromLocal8Bit(::ptsname(master));
    }
    ~Pty()
    {
        if (master >= 0)
            ::close(master);
    }
    bool ok() const { return !slave.isEmpty(); }
    void send(const QByteArray& bytes) const
    {
        QVERIFY(::write(master, bytes.data(), bytes.size()) == bytes.size());
    }
    QByteArray take() const
    {
        char buffer[256];
        const ssize_t n = ::read(master, buffer, sizeof buffer);
        return n > 0 ? QByteArray(buffer, n) : QByteArray();
    }
};

// Runs as another user (with root's privileges dropped) while in scope.
struct EffectiveUser
{
    explicit EffectiveUser(uid_t uid) { QVERIFY(::seteuid(uid) == 0); }
    ~EffectiveUser() { QVERIFY(::seteuid(0) == 0); }
};

} // namespace

class TestSerialLine : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;

    static PortSettings record()
    {
        PortSettings r;
        r.NumPort = 2;
        r.Bauds = "9600";
        r.BaudsEnvoi = "4800";
        r.Parite = "E";
        r.DataBit = "7";
        r.StopBit = "1";
        r.CtrlFlux = 1;
        r.CtrlFluxSend = 5;
        return r;
    }

private slots:
    void init()
    {
        ResetProcessState(m_dir.path());
        Config().DncAppMode = 1;
        FakeSerialDevice::install();
    }

    void cleanup() { FakeSerialDevice::uninstall(); }

    void flowModes_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<int>("handshake");
        QTest::addColumn<QByteArray>("readyFor"); // for (cts,dsr) 00 01 10 11
        QTest::newRow("none") << 0 << 0 << QByteArray("1111");
        QTest::newRow("XON/XOFF") << 1 << 1 << QByteArray("1111");
        QTest::newRow("RTS/CTS") << 2 << 2 << QByteArray("0011");
        QTest::newRow("both") << 3 << 3 << QByteArray("0011");
        QTest::newRow("XON and DSR") << 4 << 1 << QByteArray("0101");
        QTest::newRow("RTS, CTS and DSR") << 5 << 2 << QByteArray("0001");
        QTest::newRow("both and DSR") << 6 << 3 << QByteArray("0001");
        QTest::newRow("unknown") << 7 << 4 << QByteArray("0000");
    }

    void flowModes()
    {
        QFETCH(int, mode);
        QFETCH(int, handshake);
        QFETCH(QByteArray, readyFor);
        QCOMPARE(HandshakeOf(mode), handshake);
        QByteArray ready;
        for (const bool cts : {false, true})
            for (const bool dsr : {false, true})
                ready += LineReadyFor(mode, cts, dsr) ? '1' : '0';
        QCOMPARE(ready, readyFor);
    }

    void openForListeningAndSending()
    {
        SerialControl control;
        PortSettings r = record();
        QVERIFY(OpenControlPort(control, r, false));
        FakeSerialDevice* device = FakeSerialDevice::last();
        QCOMPARE(device->openedSettings.baud, 9600);
        QCOMPARE(device->openedSettings.parity, 'E');
        QCOMPARE(device->openedSettings.dataBits, 7);
        QCOMPARE(device->openedSettings.handshake, 1);
        QCOMPARE(control.InBufferSize(), 128); // 0 in the record keeps the defaults
        QCOMPARE(control.OutBufferSize(), 512);
        QVERIFY(device->dtr);
        QCOMPARE(EventText(100), toAnsi(u"Initialisation du port Com 2 à 9600/E/7/1"_s));

        r.OutBufferSize = 100;
        QVERIFY(OpenControlPort(control, r, true));
        QCOMPARE(device->openedSettings.baud, 4800);
        QCOMPARE(device->openedSettings.handshake, 2); // mode 5 is RTS/CTS on the control
        WriteText(control, QByteArray(250, 'x'));
        QCOMPARE(device->writes.size(), 3);
        QCOMPARE(device->writes[2].size(), 50);

        device->dsr = false; // CTS is there
        QVERIFY(!IsLineReady(control, 5));
        device->dsr = true;
        QVERIFY(IsLineReady(control, 5));

        ReleaseSerialPort(control);
        QVERIFY(!control.PortOpen());
        QVERIFY(!device->dtr);
    }

    void openFailuresNameTheDevice_data()
    {
        QTest::addColumn<QByteArray>("situation");
        QTest::addColumn<QString>("text"); // %1 the device, %2 its group
        const auto row = [](const char* situation, const QString& text) {
            QTest::newRow(situation) << QByteArray(situation) << text;
        };
        row("missing", u"Error in FNControlCom232:8002 : Numéro de port non valide. (%1)"_s);
        row("refused", u"Error in FNControlCom232:8021 : Accès refusé au port %1 : "
                       "l'utilisateur du serveur doit être membre du groupe %2."_s);
        row("held", u"Error in FNControlCom232:8010 : Le matériel n'est pas disponible "
                    "(verrouillé par un autre périphérique). (%1)"_s);
        row("settings",
            u"Error in FNControlCom232:8009 : Les paramètres par défaut sont erronés."_s);
    }

    // On real devices: a pseudo-terminal stands for the port.
    void openFailuresNameTheDevice()
    {
        QFETCH(QByteArray, situation);
        QFETCH(QString, text);
        FakeSerialDevice::uninstall();
        Pty pty;
        QVERIFY(pty.ok());
        PortSettings r = record();
        r.PortName = pty.slave.toLocal8Bit();
        QtSerialDevice holder;
        std::optional<EffectiveUser> asNobody;
        if (situation == "missing") {
            r.PortName = QFile::encodeName(m_dir.filePath(u"ttyGone"_s));
        } else if (situation == "held") {
            QCOMPARE(holder.open(pty.slave, {}), 0);
        } else if (situation == "refused") {
            QCOMPARE(::chmod(r.PortName.constData(), 0), 0);
            if (::geteuid() == 0) // root opens anything
                asNobody.emplace(65534);
        } else {
            r.Bauds = "fast";
        }
        const QString device = QString::fromLocal8Bit(r.PortName);
        SerialControl control;
        QVERIFY(!OpenControlPort(control, r, false));
        asNobody.reset();
        QCOMPARE(Events().lastShown, 108);
        text.replace(QLatin1String("%1"), device);
        text.replace(QLatin1String("%2"), QFileInfo(device).group());
        QCOMPARE(Events().lastText, toAnsi(text));
    }

    void softwareFlowControl_data()
    {
        QTest::addColumn<int>("handshake");
        QTest::addColumn<bool>("honoured");
        QTest::newRow("none") << 0 << false;
        QTest::newRow("XON/XOFF") << 1 << true;
        QTest::newRow("RTS/CTS") << 2 << false;
        QTest::newRow("RTS/CTS and XON/XOFF") << 3 << true;
    }

    // The machine's XOFF holds our output until its XON; neither byte is
    // read as data when software flow control is on.
    void softwareFlowControl()
    {
        QFETCH(int, handshake);
        QFETCH(bool, honoured);
        Pty pty;
        QVERIFY(pty.ok());
        QtSerialDevice device;
        SerialLineSettings s;
        s.handshake = handshake;
        QCOMPARE(device.open(pty.slave, s), 0);

        pty.send("\x13");
        QTest::qWait(200); // the line discipline takes the XOFF in (a kernel worker)
        device.write("abc");
        QTest::qWait(200);
        QByteArray out = pty.take();
        QCOMPARE(out.isEmpty(), honoured);
        QCOMPARE(device.bytesToWrite() > 0, honoured);

        pty.send("\x11z");
        QByteArray in;
        QTRY_VERIFY((out += pty.take(), in += device.read(64), out == "abc" && in.endsWith('z')));
        QCOMPARE(in, honoured ? QByteArray("z") : QByteArray("\x13\x11z"));
        QTRY_COMPARE(device.bytesToWrite(), 0);
    }

    void libraryTables_data()
    {
        QTest::addColumn<QByteArray>("line");     // speed|parity|data bits|stop bits|flow mode
        QTest::addColumn<QList<int>>("expected"); // baud, parity, data, stop codes, hw, sw
        QTest::newRow("9600 with a blank")
            << QByteArray("9600 |E|7|1|2") << QList<int>{12, 0x18, 2, 0, 1, 0};
        QTest::newRow("unknown speed is 50 baud")
            << QByteArray("14400|O|8|2|1") << QList<int>{0, 0x08, 3, 4, 0, 1};
        QTest::newRow("mark parity reads as none")
            << QByteArray("115200|M|9|3|3") << QList<int>{16, 0, 0, 0, 1, 1};
        QTest::newRow("DSR modes give no flow control")
            << QByteArray("19200|N|5|1|5") << QList<int>{13, 0, 0, 0, 0, 0};
    }

    void libraryTables()
    {
        QFETCH(QByteArray, line);
        QFETCH(QList<int>, expected);
        const QList<QByteArray> parts = line.split('|');
        PortSettings r = record();
        r.Parite = parts[1];
        r.DataBit = parts[2];
        r.StopBit = parts[3];
        r.CtrlFlux = qint16(parts[4].toInt());
        const LibrarySettings s = LibrarySettingsFor(r, parts[0]);
        QCOMPARE((QList<int>{s.baudCode, s.parityCode, s.dataBitsCode, s.stopBitsCode,
                             s.hardwareFlow, s.softwareFlow}),
                 expected);
    }

    void libraryPortOpensConfiguresAndCloses()
    {
        PortSettings r = record();
        r.CtrlFlux = 2;
        QVERIFY(OpenLibraryPort(r, false));
        FakeSerialDevice* device = FakeSerialDevice::last();
        QCOMPARE(device->openedSettings.baud, 9600);
        QCOMPARE(device->openedSettings.handshake, 2);
        QCOMPARE(Events().lastShown, 200);
        device->cts = false;            // DSR is there
        QVERIFY(!IsLibraryLineReady()); // hardware flow wants CTS too
        device->cts = true;
        QVERIFY(IsLibraryLineReady());
        // Opening again closes first.
        QVERIFY(OpenLibraryPort(r, true));
        QVERIFY(CloseLibraryPort());
        QVERIFY(!LibraryPort().open);
        QCOMPARE(sio_close(r.NumPort), int(SIO_BADPORT));

        FakeSerialDevice::install();
        SetSerialDeviceFactory([] {
            auto d = std::make_unique<FakeSerialDevice>();
            d->openResult = 8002;
            return d;
        });
        QVERIFY(!OpenLibraryPort(r, false));
        QCOMPARE(Events().lastShown, 213);
        QVERIFY(
            Events().lastText.endsWith("(sio_open - Erreur durant l'ouverture du port s\xe9rie)"));
        SetLibraryOperation("sio_ioctl");
        ReportLibraryError(SIO_BADPORT, 0);
        QCOMPARE(Events().lastShown, 210);
        QCOMPARE(Events().lastText,
                 toAnsi(u"Numéro de port invalide ou port non ouvert par avance. (sio_ioctl)"_s));
        ReportLibraryError(-3, 0); // a code the library does not document
        QCOMPARE(Events().lastShown, 219);
        QCOMPARE(Events().lastText, toAnsi(u"Erreur inconnue : -3 (sio_ioctl)"_s));
    }
};

QTEST_GUILESS_MAIN(TestSerialLine)
#include "tst_serialline.moc"
