#include "dnc/LibraryPort.h"

#include "dnc/EventMessages.h"
#include "platform/AnsiText.h"
#include "platform/SerialLibrary.h"
#include "startup/IniValue.h"

#include <array>
#include <functional>

namespace nodalis {

namespace {

const std::array<const char*, 20> kSpeeds = {
    "50",   "75",   "110",  "134",   "150",   "300",   "600",    "1200",   "1800",   "2400",
    "4800", "7200", "9600", "19200", "38400", "57600", "115200", "230400", "460800", "921600"};

template <std::size_t N>
qint16 indexIn(const std::array<const char*, N>& table, const QByteArray& text)
{
    const QByteArray t = TrimSpaces(text);
    for (std::size_t i = 0; i < N; ++i) {
        if (t == table[i])
            return qint16(i);
    }
    return 0;
}

const std::array<const char*, 3> kParities = {"N", "E", "O"};
const std::array<qint16, 5> kParityCodes = {P_NONE, P_EVEN, P_ODD, P_MRK, P_SPC};
const std::array<const char*, 4> kDataBits = {"5", "6", "7", "8"};
const std::array<qint16, 4> kDataBitsCodes = {BIT_5, BIT_6, BIT_7, BIT_8};
const std::array<const char*, 2> kStopBits = {"1", "2"};
const std::array<qint16, 2> kStopBitsCodes = {STOP_1, STOP_2};

QByteArray portText(const PortSettings& r, const QByteArray& speed)
{
    return QByteArray::number(r.NumPort) + toAnsi(QStringLiteral(" à ")) + speed + '/' +
           TrimSpaces(r.Parite) + '/' + TrimSpaces(r.DataBit) + '/' + TrimSpaces(r.StopBit);
}

// The configuration calls in order; false after reporting the first failure.
bool configure(const LibrarySettings& s)
{
    struct Step
    {
        const char* name;
        std::function<int()> call;
        bool skip;
    };
    const int mode = s.parityCode | s.dataBitsCode | s.stopBitsCode;
    const Step steps[] = {
        {"sio_ioctl", [&] { return sio_ioctl(s.port, s.baudCode, mode); }, false},
        {"sio_flowctrl",
         [&] { return sio_flowctrl(s.port, (s.hardwareFlow ? 3 : 0) + (s.softwareFlow ? 12 : 0)); },
         false},
        {"sio_DTR", [&] { return sio_DTR(s.port, 1); }, false},
        // With hardware flow the library drives RTS itself.
        {"sio_RTS", [&] { return sio_RTS(s.port, 1); }, s.hardwareFlow != 0},
    };
    for (const Step& step : steps) {
        if (step.skip)
            continue;
        SetLibraryOperation(step.name);
        const int result = step.call();
        if (result != 0) {
            LibraryPort().operation +=
                toAnsi(QStringLiteral(" - Erreur durant la configuration du port série"));
            ReportLibraryError(result, SioLastSystemError());
            return false;
        }
    }
    return true;
}

} // namespace

void SetLibraryOperation(const char* text)
{
    LibraryPort().operation = toAnsi(QString::fromUtf8(text));
}

LibrarySettings LibrarySettingsFor(const PortSettings& r, const QByteArray& speed)
{
    LibrarySettings s;
    s.port = r.NumPort;
    s.speedIndex = indexIn(kSpeeds, speed);
    s.baudCode = s.speedIndex;
    s.parityIndex = indexIn(kParities, r.Parite);
    s.parityCode = kParityCodes[std::size_t(s.parityIndex)];
    s.dataBitsIndex = indexIn(kDataBits, r.DataBit);
    s.dataBitsCode = kDataBitsCodes[std::size_t(s.dataBitsIndex)];
    s.stopBitsIndex = indexIn(kStopBits, r.StopBit);
    s.stopBitsCode = kStopBitsCodes[std::size_t(s.stopBitsIndex)];
    // The library always takes its flow control from the listening mode.
    s.hardwareFlow = (r.CtrlFlux == 2 || r.CtrlFlux == 3) ? 1 : 0;
    s.softwareFlow = (r.CtrlFlux == 1 || r.CtrlFlux == 3) ? 1 : 0;
    return s;
}

bool OpenLibraryPort(const PortSettings& r, bool forSending)
{
    LibraryPortState& lp = LibraryPort();
    const QByteArray speed = TrimSpaces(forSending ? r.BaudsEnvoi : r.Bauds);
    if (lp.open)
        CloseLibraryPort();
    lp.settings = LibrarySettingsFor(r, speed);
    if (!r.PortName.isEmpty())
        sio_set_device(lp.settings.port, r.PortName);
    if (lp.open)
        return false; // the close failed: the port cannot be opened again
    const int result = sio_open(lp.settings.port);
    if (result != 0) {
        SetLibraryOperation("sio_open - Erreur durant l'ouverture du port série");
        ReportLibraryError(result, SioLastSystemError());
        sio_close(lp.settings.port);
        return false;
    }
    if (!configure(lp.settings)) {
        sio_close(lp.settings.port);
        return false;
    }
    lp.open = true;
    SetStatus(200, {portText(r, speed)});
    return true;
}

bool CloseLibraryPort()
{
    LibraryPortState& lp = LibraryPort();
    const int port = lp.settings.port;
    sio_flowctrl(port, 0);
    sio_RTS(port, 0);
    sio_DTR(port, 0);
    const int result = sio_close(port);
    if (result != 0) {
        SetLibraryOperation("sio_close - Erreur durant la fermeture du port série");
        ReportLibraryError(result, SioLastSystemError());
        return false;
    }
    lp.open = false;
    return true;
}

bool IsLibraryLineReady()
{
    LibraryPortState& lp = LibraryPort();
    const int status = sio_lstatus(lp.settings.port);
    if (status < 0) {
        SetLibraryOperation("sio_lstatus");
        ReportLibraryError(status, SioLastSystemError());
        return false;
    }
    lp.cts = status & 1;
    lp.dsr = status & 2;
    lp.ring = status & 4;
    lp.carrier = status & 8;
    return lp.dsr && (lp.settings.hardwareFlow == 0 || lp.cts);
}

void ReportLibraryError(int code, int systemError)
{
    int event = 219;
    switch (code) {
    case SIO_BADPORT:
        event = 210;
        break;
    case SIO_OUTCONTROL:
        event = 211;
        break;
    case SIO_NODATA:
        event = 212;
        break;
    case SIO_OPENFAIL:
        event = 213;
        break;
    case SIO_RTS_BY_HW:
        event = 214;
        break;
    case SIO_BADPARM:
        event = 215;
        break;
    case SIO_WIN32FAIL:
        event = 220;
        break;
    case SIO_BOARDNOTSUPPORT:
        event = 216;
        break;
    case SIO_ABORTWRITE:
        event = 217;
        break;
    case SIO_WRITETIMEOUT:
        event = 218;
        break;
    default:
        break;
    }
    const QByteArray p0 =
        code == SIO_WIN32FAIL ? toAnsi(SystemErrorText(systemError)) : QByteArray::number(code);
    SetStatus(event, {p0, LibraryPort().operation});
}

} // namespace nodalis
