#pragma once

#include <QByteArray>
#include <QtGlobal>

namespace nodalis {

// Line and transfer settings of one port: the DNC port, and the separate
// call line. Loaded once at start-up from Nodalis.ini.
struct PortSettings
{
    QByteArray BaudsEnvoi; // speed when sending (falls back to Bauds)
    QByteArray Bauds;      // speed when listening
    QByteArray BOT;        // sent before a program
    QByteArray BOR;        // sent when a reception starts
    bool SendComment = false;
    qint16 CtrlFlux = 0;     // flow control when listening
    qint16 CtrlFluxSend = 0; // flow control when sending (falls back to CtrlFlux)
    QByteArray DataBit;
    QByteArray Specificite; // machine-specific behaviour name
    QByteArray EOB;         // end-of-block characters
    QByteArray EOT;         // sent after a program
    QByteArray EOR;         // sent when a reception ends
    QByteArray FiltreLigneRecep;
    qint16 NumPort = 0; // 1 = COM1
    QByteArray Parite;
    QByteArray StopBit;
    qint32 TimeOutEnvoi = 0;
    qint32 TimeOut = 0;
    QByteArray RCarFiltered;
    QByteArray RCarFilteredBy;
    QByteArray TCarFiltered;
    QByteArray TCarFilteredBy;
    qint32 Methode = 0; // CallMethode in the call-line record
    double TempoBloc = 0;
    double TempoCar = 0;
    double TempoBeforeSend = 0;
    double TempoAfterSend = 0;
    qint32 NbBlocAvance = 0;
    QByteArray CheckModeRecep;
    qint32 TimeOutModeRecep = 0;
    bool IsMultiAppel = false;
    QByteArray SepCarMultiAppel;
    bool IsModePassant = false;
    bool ConvertMazIso = false;
    qint16 ModeIRQ = 0;
    bool SendCartouche = false;
    bool SendEmptyLines = false;
    qint16 InBufferSize = 0;
    qint16 OutBufferSize = 0;
    bool CheckReceivBeforeAppel = false;
    qint32 NbReceivBeforeAppel = 0;
    bool CheckAllDataBase = false;
    bool DefBlocDepFinAppel = false;
    QByteArray CarSepAppel;
    bool ConcatProgAppel = false;
    QByteArray MarqueurDebAppel;
    QByteArray MarqueurFinAppel;
    qint32 TimeOutEcoute = 0;
    // Serial device path that overrides NumPort (for systems without COMn names).
    QByteArray PortName;
};

} // namespace nodalis
