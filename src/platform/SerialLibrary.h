#pragma once

#include <QByteArray>
#include <QString>

#include <functional>

namespace nodalis {

// The serial library's calls (sio_*), with the library's codes, over the
// same serial devices as the serial-port control. Ports are numbers; the
// device of a number follows SerialDeviceName, or a name given with
// sio_set_device.

enum SioResult : int
{
    SIO_OK = 0,
    SIO_BADPORT = -1, // no such port, or not opened first
    SIO_OUTCONTROL = -2,
    SIO_NODATA = -4,
    SIO_OPENFAIL = -5, // no such port, or already open
    SIO_RTS_BY_HW = -6,
    SIO_BADPARM = -7,
    SIO_WIN32FAIL = -8,
    SIO_BOARDNOTSUPPORT = -9,
    SIO_ABORTWRITE = -11,
    SIO_WRITETIMEOUT = -12,
};

// Results of the file transfers.
enum SioFileResult : int
{
    SIOFT_OK = 0,
    SIOFT_BADPORT = -1,
    SIOFT_TIMEOUT = -2,
    SIOFT_ABORT = -3, // the abort key
    SIOFT_FUNC = -4,  // the callback asked to stop
    SIOFT_FOPEN = -5, // the file cannot be opened
};

// Library codes of the line settings.
enum : int
{
    P_NONE = 0x00,
    P_ODD = 0x08,
    P_EVEN = 0x18,
    P_MRK = 0x28,
    P_SPC = 0x38,
    BIT_5 = 0x00,
    BIT_6 = 0x01,
    BIT_7 = 0x02,
    BIT_8 = 0x03,
    STOP_1 = 0x00,
    STOP_2 = 0x04,
};

// Called for every piece transferred with the total so far; a negative
// result stops the transfer.
using SioCallback = std::function<int(qint64 total, const QByteArray& piece)>;

void sio_set_device(int port, const QByteArray& deviceName);
int sio_open(int port);
int sio_close(int port);
// baud: library speed code (index of 50 ... 921600); mode: parity | data bits | stop bits.
int sio_ioctl(int port, int baud, int mode);
// mode: 1 CTS, 2 RTS (3: hardware), 4 XON on transmit, 8 XON on receive (12: software).
int sio_flowctrl(int port, int mode);
int sio_DTR(int port, int state);
int sio_RTS(int port, int state);
// Bit 0 CTS, bit 1 DSR, bit 2 ring, bit 3 carrier; negative on error.
int sio_lstatus(int port);
int sio_write(int port, const QByteArray& bytes);
int sio_FtASCIITx(int port, const QString& fileName, const SioCallback& callback, int abortKey);
int sio_FtASCIIRx(int port, const QString& fileName, const SioCallback& callback, int abortKey,
                  int timeoutSeconds);

// The last system error of a failed call, and its text.
int SioLastSystemError();
QString SystemErrorText(int error);

} // namespace nodalis
