#include "platform/SerialLibrary.h"

#include "platform/Clock.h"
#include "platform/ModemLines.h"
#include "platform/SerialDevice.h"

#include <QFile>
#include <QHash>

#include <cerrno>
#include <cstring>
#include <map>
#include <memory>

namespace nodalis {

namespace {

const int kSpeeds[] = {50,   75,   110,  134,   150,   300,   600,    1200,   1800,   2400,
                       4800, 7200, 9600, 19200, 38400, 57600, 115200, 230400, 460800, 921600};

struct LibraryPort
{
    std::unique_ptr<SerialDevice> device;
    std::unique_ptr<ModemLineSource> modemLines = DefaultModemLineSource();
    SerialLineSettings settings;
    bool lost = false;
};

std::map<int, LibraryPort>& ports()
{
    static std::map<int, LibraryPort> open;
    return open;
}

QHash<int, QByteArray>& deviceNames()
{
    static QHash<int, QByteArray> names;
    return names;
}

int g_lastSystemError = 0;

LibraryPort* find(int port)
{
    auto it = ports().find(port);
    return it == ports().end() ? nullptr : &it->second;
}

// Applies the settings by opening the device again with them.
int reopen(int port, LibraryPort& p)
{
    const int error = p.device->open(SerialDeviceName(port, deviceNames().value(port)), p.settings);
    if (error) {
        g_lastSystemError = error == SerialDevice::ErrorBadPort        ? ENOENT
                            : error == SerialDevice::ErrorUnavailable  ? EBUSY
                            : error == SerialDevice::ErrorAccessDenied ? EACCES
                                                                       : EINVAL;
        return SIO_WIN32FAIL;
    }
    return SIO_OK;
}

} // namespace

void sio_set_device(int port, const QByteArray& deviceName)
{
    deviceNames().insert(port, deviceName);
}

int sio_open(int port)
{
    if (port < 1)
        return SIO_BADPORT;
    if (find(port))
        return SIO_OPENFAIL;
    LibraryPort p;
    p.device = CreateSerialDevice();
    SerialDevice* device = p.device.get();
    auto [it, inserted] = ports().emplace(port, std::move(p));
    QObject::connect(device, &SerialDevice::lost, [port] {
        if (LibraryPort* lp = find(port))
            lp->lost = true;
    });
    if (reopen(port, it->second) != SIO_OK) {
        ports().erase(it);
        return SIO_OPENFAIL;
    }
    return SIO_OK;
}

int sio_close(int port)
{
    LibraryPort* p = find(port);
    if (!p)
        return SIO_BADPORT;
    p->device->close();
    ports().erase(port);
    return SIO_OK;
}

int sio_ioctl(int port, int baud, int mode)
{
    LibraryPort* p = find(port);
    if (!p)
        return SIO_BADPORT;
    if (baud < 0 || baud >= int(std::size(kSpeeds)))
        return SIO_BADPARM;
    SerialLineSettings s = p->settings;
    s.baud = kSpeeds[baud];
    s.dataBits = 5 + (mode & 0x03);
    s.stopBits = (mode & STOP_2) ? 2 : 1;
    switch (mode & 0x38) {
    case P_NONE:
        s.parity = 'N';
        break;
    case P_ODD:
        s.parity = 'O';
        break;
    case P_EVEN:
        s.parity = 'E';
        break;
    case P_MRK:
        s.parity = 'M';
        break;
    case P_SPC:
        s.parity = 'S';
        break;
    default:
        return SIO_BADPARM;
    }
    p->settings = s;
    return reopen(port, *p);
}

int sio_flowctrl(int port, int mode)
{
    LibraryPort* p = find(port);
    if (!p)
        return SIO_BADPORT;
    if (mode < 0 || mode > 15)
        return SIO_BADPARM;
    const bool hardware = (mode & 3) != 0;
    const bool software = (mode & 12) != 0;
    p->settings.handshake = hardware && software ? 3 : hardware ? 2 : software ? 1 : 0;
    return reopen(port, *p);
}

int sio_DTR(int port, int state)
{
    LibraryPort* p = find(port);
    if (!p)
        return SIO_BADPORT;
    p->device->setDtr(state != 0);
    return SIO_OK;
}

int sio_RTS(int port, int state)
{
    LibraryPort* p = find(port);
    if (!p)
        return SIO_BADPORT;
    if (p->settings.handshake >= 2)
        return SIO_RTS_BY_HW;
    p->device->setRts(state != 0);
    return SIO_OK;
}

int sio_lstatus(int port)
{
    LibraryPort* p = find(port);
    if (!p || !p->device->isOpen())
        return SIO_BADPORT;
    bool cts = false, dsr = false, ring = false, carrier = false;
    if (!p->device->modemLines(cts, dsr, ring, carrier)) {
        cts = p->modemLines->cts();
        dsr = p->modemLines->dsr();
        ring = p->modemLines->ring();
        carrier = p->modemLines->carrier();
    }
    return (cts ? 1 : 0) | (dsr ? 2 : 0) | (ring ? 4 : 0) | (carrier ? 8 : 0);
}

int sio_write(int port, const QByteArray& bytes)
{
    LibraryPort* p = find(port);
    if (!p || !p->device->isOpen())
        return SIO_BADPORT;
    const qint64 n = p->device->write(bytes);
    return n < 0 ? SIO_WRITETIMEOUT : int(n);
}

int sio_FtASCIITx(int port, const QString& fileName, const SioCallback& callback, int)
{
    LibraryPort* p = find(port);
    if (!p || !p->device->isOpen())
        return SIOFT_BADPORT;
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        return SIOFT_FOPEN;
    qint64 total = 0;
    while (!file.atEnd()) {
        const QByteArray piece = file.read(1024);
        if (p->device->write(piece) != piece.size())
            return SIOFT_BADPORT;
        // The piece leaves before the next one is handed over.
        while (p->device->isOpen() && p->device->bytesToWrite() > 0)
            Pause(5);
        if (p->lost)
            return SIOFT_BADPORT;
        total += piece.size();
        if (callback && callback(total, piece) < 0)
            return SIOFT_FUNC;
    }
    return int(qMin<qint64>(total, INT_MAX));
}

int sio_FtASCIIRx(int port, const QString& fileName, const SioCallback& callback, int,
                  int timeoutSeconds)
{
    LibraryPort* p = find(port);
    if (!p || !p->device->isOpen())
        return SIOFT_BADPORT;
    QFile file(fileName);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return SIOFT_FOPEN;
    qint64 total = 0;
    const qint64 start = Clock::nowMs();
    for (;;) {
        DoEvents();
        if (p->lost)
            return SIOFT_BADPORT;
        const QByteArray piece = p->device->bytesAvailable() > 0
                                     ? p->device->read(p->device->bytesAvailable())
                                     : QByteArray();
        if (!piece.isEmpty()) {
            file.write(piece);
            total += piece.size();
        }
        if (callback && callback(total, piece) < 0)
            return SIOFT_FUNC;
        if (timeoutSeconds > 0 && Clock::secondsSince(start) >= timeoutSeconds)
            return SIOFT_TIMEOUT;
        if (piece.isEmpty())
            Pause(10);
    }
}

int SioLastSystemError()
{
    return g_lastSystemError;
}

QString SystemErrorText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error)).left(80);
}

} // namespace nodalis
