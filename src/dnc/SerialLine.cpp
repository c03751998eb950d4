#include "dnc/SerialLine.h"

#include "dnc/EventMessages.h"
#include "platform/AnsiText.h"
#include "platform/Clock.h"
#include "platform/SerialControl.h"
#include "startup/IniValue.h"
#include "startup/Settings.h"

namespace nodalis {

namespace {

struct LineChoice
{
    QByteArray speed;
    int flow;
};

LineChoice choose(const PortSettings& r, bool forSending)
{
    return forSending ? LineChoice{TrimSpaces(r.BaudsEnvoi), r.CtrlFluxSend}
                      : LineChoice{TrimSpaces(r.Bauds), r.CtrlFlux};
}

// What event 108 says after the error number: the control's text, with the
// device for the failures that concern it; a refusal by the device's
// permissions names the group that grants access.
QString OpenFailureText(int error, const QString& device)
{
    switch (error) {
    case SerialDevice::ErrorAccessDenied: {
        QString text = QStringLiteral("Accès refusé au port %1").arg(device);
        const QString group = SerialDeviceGroup(device);
        if (!group.isEmpty())
            text += QStringLiteral(" : l'utilisateur du serveur doit être membre du groupe %1")
                        .arg(group);
        return text + QLatin1Char('.');
    }
    case SerialDevice::ErrorBadPort:
    case SerialDevice::ErrorUnavailable:
        return ControlErrorText(error) + QStringLiteral(" (%1)").arg(device);
    default:
        return ControlErrorText(error);
    }
}

} // namespace

QString ControlErrorText(int number)
{
    switch (number) {
    case 8000:
        return QStringLiteral("Opération non valide quand le port est ouvert.");
    case 8001:
        return QStringLiteral("La valeur du délai d'attente doit être supérieure à zéro.");
    case 8002:
        return QStringLiteral("Numéro de port non valide.");
    case 8003:
        return QStringLiteral("Propriété disponible uniquement lors de l'exécution.");
    case 8004:
        return QStringLiteral("Propriété en lecture seule lors de l'exécution.");
    case 8005:
        return QStringLiteral("Port déjà ouvert.");
    case 8006:
        return QStringLiteral("Identificateur du périphérique non valide ou non pris en charge.");
    case 8007:
        return QStringLiteral("Le débit en bauds du périphérique n'est pas pris en charge.");
    case 8008:
        return QStringLiteral("La taille d'octet spécifiée n'est pas valide.");
    case 8009:
        return QStringLiteral("Les paramètres par défaut sont erronés.");
    case 8010:
        return QStringLiteral(
            "Le matériel n'est pas disponible (verrouillé par un autre périphérique).");
    case 8011:
        return QStringLiteral("La fonction ne peut pas allouer les files d'attente.");
    case 8012:
        return QStringLiteral("Le périphérique n'est pas ouvert.");
    case 8013:
        return QStringLiteral("Le périphérique est déjà ouvert.");
    case 8014:
        return QStringLiteral("Impossible d'activer la notification de communications.");
    case 8015:
        return QStringLiteral("Impossible de définir l'état de communications.");
    case 8016:
        return QStringLiteral("Impossible de définir le masque de l'événement Communications.");
    case 8018:
        return QStringLiteral("Opération valide uniquement quand le port est ouvert.");
    case 8019:
        return QStringLiteral("Périphérique occupé.");
    case 8020:
        return QStringLiteral("Erreur de lecture du périphérique de communications.");
    default:
        return {};
    }
}

int HandshakeOf(int flowMode)
{
    return flowMode > 3 ? flowMode - 3 : flowMode;
}

bool LineReadyFor(int flowMode, bool cts, bool dsr)
{
    switch (flowMode) {
    case 0:
    case 1:
        return true;
    case 2:
    case 3:
        return cts;
    case 4:
        return dsr;
    case 5:
    case 6:
        return cts && dsr;
    default:
        return false;
    }
}

int FNControlCom232(SerialControl& control, const PortSettings& r, bool forSending)
{
    const LineChoice line = choose(r, forSending);
    const QString settings = fromAnsi(line.speed + ',' + TrimSpaces(r.Parite) + ',' +
                                      TrimSpaces(r.DataBit) + ',' + TrimSpaces(r.StopBit));
    // Each step stops at the first error, as a trapped run-time error would.
    if (control.PortOpen())
        control.setPortOpen(false);
    control.setInputLen(0);
    // A configured device name stands for the port number.
    control.setDeviceName(r.PortName);
    if (TrimSpaces(r.PortName).isEmpty() || r.NumPort >= 1) {
        if (int e = control.setCommPort(r.NumPort))
            return e;
    }
    if (int e = control.setSettings(settings))
        return e;
    control.setDTREnable(true);
    if (int e = control.setHandshaking(HandshakeOf(line.flow)))
        return e;
    if (int e = control.setInBufferSize(r.InBufferSize ? r.InBufferSize : 128))
        return e;
    if (int e = control.setOutBufferSize(r.OutBufferSize ? r.OutBufferSize : 512))
        return e;
    if (!control.PortOpen()) {
        if (int e = control.setPortOpen(true))
            return e;
    }
    control.setWriteTimeout(Config().TimeOutBreak);
    return 0;
}

bool OpenControlPort(SerialControl& control, const PortSettings& r, bool forSending)
{
    const int error = FNControlCom232(control, r, forSending);
    if (error) {
        SetStatus(108, {QByteArray::number(error) + " : " +
                        toAnsi(OpenFailureText(error, SerialDeviceName(r.NumPort, r.PortName)))});
        return false;
    }
    const LineChoice line = choose(r, forSending);
    SetStatus(100,
              {QByteArray::number(r.NumPort) + toAnsi(QStringLiteral(" à ")) + line.speed + '/' +
               TrimSpaces(r.Parite) + '/' + TrimSpaces(r.DataBit) + '/' + TrimSpaces(r.StopBit)});
    return true;
}

void WriteText(SerialControl& control, const QByteArray& text)
{
    const qsizetype n = qMax(1, control.OutBufferSize());
    for (qsizetype pos = 0; pos < text.size(); pos += n)
        control.Output(text.mid(pos, n));
}

bool IsLineReady(const SerialControl& control, int flowMode)
{
    // Modes without a line condition read no modem line at all.
    if (flowMode == 0 || flowMode == 1)
        return true;
    return LineReadyFor(flowMode, control.CTSHolding(), control.DSRHolding());
}

void ReleaseSerialPort(SerialControl& control)
{
    control.setRThreshold(0);
    control.setRTSEnable(false);
    control.setDTREnable(false);
    if (control.PortOpen())
        control.setPortOpen(false);
    DoEvents();
}

} // namespace nodalis
