#pragma once

#include "startup/Settings.h"

#include <QByteArray>
#include <QDir>

#include <limits>

namespace nodalis {

// How a key's text becomes its setting.
enum class KeyKind
{
    Text,      // trimmed of spaces
    Raw,       // kept as written (a space can be meaningful)
    Folder,    // trimmed, trailing separator added
    Bool,      // true exactly when "1"
    Int16,     // longest leading number, nearest 16-bit integer (halves to even)
    Long,      // the same, 32-bit
    Double,    // longest leading number
    Strict16,  // the whole text must be a number
    CodeList,  // "13,10": the characters of those codes
    CommaList, // pieces between commas
};

// What a key accepts beyond what its kind asks (a number for the numeric
// kinds, 0 or 1 for a boolean, codes 0..255 in a code list, an existing
// folder for a folder), and one line of what it is for. The loader does
// not look at it: values load by the kind's conventions whatever they are.
struct KeyRule
{
    enum class Accept : quint8
    {
        Any,
        Range,  // a number from min to max
        OneOf,  // one of values, comma-separated (compared as numbers on numeric kinds)
        Folder, // an existing folder
        File,   // an existing file
    };
    Accept accept = Accept::Any;
    double min = 0;
    double max = 0;
    const char* values = "";
    const char* meaning = "";
};

namespace keyrule {

inline constexpr double kNoLimit = std::numeric_limits<double>::infinity();

constexpr KeyRule any(const char* meaning)
{
    return {KeyRule::Accept::Any, 0, 0, "", meaning};
}
constexpr KeyRule range(double min, double max, const char* meaning)
{
    return {KeyRule::Accept::Range, min, max, "", meaning};
}
// Counts, sizes, delays and time-outs.
constexpr KeyRule positive(const char* meaning)
{
    return range(0, kNoLimit, meaning);
}
constexpr KeyRule port(const char* meaning)
{
    return range(0, 65535, meaning);
}
constexpr KeyRule oneOf(const char* values, const char* meaning)
{
    return {KeyRule::Accept::OneOf, 0, 0, values, meaning};
}
constexpr KeyRule folder(const char* meaning)
{
    return {KeyRule::Accept::Folder, 0, 0, "", meaning};
}
constexpr KeyRule file(const char* meaning)
{
    return {KeyRule::Accept::File, 0, 0, "", meaning};
}

// Line methods the port engine knows (11, 13 and above 21 start nothing).
inline constexpr const char* kMethods = "0,1,2,3,4,5,6,7,8,9,10,12,14,15,16,17,18,19,20,21";
// Speeds the serial library has a code for; the serial control takes them all.
inline constexpr const char* kSpeeds = "50,75,110,134,150,300,600,1200,1800,2400,4800,7200,9600,"
                                       "19200,38400,57600,115200,230400,460800,921600";
inline constexpr const char* kDataBits = "5,6,7,8";
inline constexpr const char* kStopBits = "1,1.5,2";
inline constexpr const char* kParities = "N,E,O,M,S";

} // namespace keyrule

// The one list of the configuration's keys, in the order they are read.
// The loader walks it to read the file, the dump walks it to print what was
// loaded, the check walks it to judge the file. A visitor provides:
//   operator()(section, key, KeyKind, default text, field&, rule)
//   derived(section, name, field&, value)  - a value computed from others
//   channels(field&)                        - the channel entries of CANAUX
//   resize(section, key, list&, count)      - size a numbered list before its keys
//   external(section, key, KeyKind, default text, rule)
//                                           - a key the loader does not read: read
//                                             when used, or written by the server
template <class V> void VisitPortKeys(Settings& s, V& v)
{
    using namespace keyrule;
    PortSettings& p = s.Port;
    const char* comm = "COMM";
    v(comm, "NumPort", KeyKind::Int16, "", p.NumPort,
      range(0, 16383, "serial port number, 1 = COM1 (/dev/ttyS0)"));
    v(comm, "PortName", KeyKind::Text, "", p.PortName,
      any("serial device, instead of NumPort (/dev/ttyUSB0)"));
    v(comm, "Bauds", KeyKind::Text, "", p.Bauds, oneOf(kSpeeds, "line speed when listening"));
    v(comm, "BaudsEnvoi", KeyKind::Text, p.Bauds, p.BaudsEnvoi,
      oneOf(kSpeeds, "line speed when sending; empty: Bauds"));
    v(comm, "DataBit", KeyKind::Text, "", p.DataBit, oneOf(kDataBits, "data bits"));
    v(comm, "StopBit", KeyKind::Text, "", p.StopBit, oneOf(kStopBits, "stop bits"));
    v(comm, "Parite", KeyKind::Text, "", p.Parite,
      oneOf(kParities, "parity: none, even, odd, mark, space"));
    v(comm, "TimeOut", KeyKind::Long, "", p.TimeOut,
      positive("seconds of silence that end a reception"));
    v(comm, "TimeOutEnvoi", KeyKind::Long, "", p.TimeOutEnvoi,
      positive("seconds a send waits for the line to be ready"));
    v(comm, "CtrlFlux", KeyKind::Int16, "", p.CtrlFlux,
      range(0, 6,
            "flow control when listening: 0 none, 1 XON/XOFF, 2 RTS/CTS, 3 both; "
            "4-6 as 1-3 with DSR required"));
    v(comm, "CtrlFluxSend", KeyKind::Int16, QByteArray::number(p.CtrlFlux), p.CtrlFluxSend,
      range(0, 6, "flow control when sending; empty: CtrlFlux"));
    v(comm, "EOB", KeyKind::CodeList, "", p.EOB, any("end of block, as character codes: 13,10"));
    v(comm, "IsModePassant", KeyKind::Bool, "", p.IsModePassant,
      any("pass-through: a send waits for the line without time-out"));
    v(comm, "InBufferSize", KeyKind::Int16, "", p.InBufferSize,
      positive("receive buffer size; 0: 128"));
    v(comm, "OutBufferSize", KeyKind::Int16, "", p.OutBufferSize,
      positive("send buffer size; 0: 512"));
    v(comm, "ModeIRQ", KeyKind::Int16, "", p.ModeIRQ,
      oneOf("0,1", "1: reception by line events, 0: by polling"));
    v(comm, "TimeOutEcoute", KeyKind::Long, "", p.TimeOutEcoute,
      positive("seconds a listening waits for its first character; 0: for ever"));

    const char* dnc = "OPTION_DNC";
    v(dnc, "NbBlocAvance", KeyKind::Long, "", p.NbBlocAvance, positive("blocks sent ahead"));
    v(dnc, "SendComment", KeyKind::Bool, "", p.SendComment, any("send comment blocks"));
    v(dnc, "SendCartouche", KeyKind::Bool, "", p.SendCartouche, any("send the header block"));
    v(dnc, "Specificite", KeyKind::Text, "", p.Specificite, any("machine-specific behaviour"));
    v(dnc, "CheckModeRecep", KeyKind::Text, "", p.CheckModeRecep,
      any("readiness test before a send: RTS, QCQ, codes, or -seconds"));
    v(dnc, "ConvertMazIso", KeyKind::Bool, "", p.ConvertMazIso,
      any("convert Mazatrol programs to ISO"));
    v(dnc, "SendEmptyLines", KeyKind::Bool, "", p.SendEmptyLines, any("send empty lines"));
    v(dnc, "IsMultiAppel", KeyKind::Bool, "", p.IsMultiAppel,
      any("one call may name several programs"));
    v(dnc, "SepCarMultiAppel", KeyKind::Text, "", p.SepCarMultiAppel,
      any("separator between the programs of a call"));
    v(dnc, "CheckReceivBeforeAppel", KeyKind::Bool, "", p.CheckReceivBeforeAppel,
      any("look for a pending upload before serving a call"));
    v(dnc, "NbReceivBeforeAppel", KeyKind::Long, "", p.NbReceivBeforeAppel,
      positive("count used by that look"));
    v(dnc, "CheckAllDataBase", KeyKind::Bool, "", p.CheckAllDataBase,
      any("look for called programs of every machine"));
    v(dnc, "DefBlocDepFinAppel", KeyKind::Bool, "", p.DefBlocDepFinAppel,
      any("calls are framed by start and end markers"));
    v(dnc, "CarSepAppel", KeyKind::Raw, "", p.CarSepAppel, any("separator inside a call"));
    v(dnc, "ConcatProgAppel", KeyKind::Bool, "", p.ConcatProgAppel,
      any("the programs of a call go in one send"));
    v(dnc, "MarqueurDebAppel", KeyKind::Raw, "", p.MarqueurDebAppel, any("start marker of a call"));
    v(dnc, "MarqueurFinAppel", KeyKind::Raw, "", p.MarqueurFinAppel, any("end marker of a call"));

    PortSettings& c = s.CallPort;
    const char* call = "CALL_COMM";
    v(call, "CallMethode", KeyKind::Long, "", c.Methode,
      oneOf(kMethods, "line method of the separate call line"));
    v(call, "NumPort", KeyKind::Int16, "", c.NumPort, range(0, 16383, "call line port number"));
    v(call, "PortName", KeyKind::Text, "", c.PortName, any("call line serial device"));
    v(call, "Bauds", KeyKind::Text, "", c.Bauds, oneOf(kSpeeds, "call line speed"));
    v.derived(call, "BaudsEnvoi", c.BaudsEnvoi, c.Bauds);
    v(call, "DataBit", KeyKind::Text, "", c.DataBit, oneOf(kDataBits, "call line data bits"));
    v(call, "StopBit", KeyKind::Text, "", c.StopBit, oneOf(kStopBits, "call line stop bits"));
    v(call, "Parite", KeyKind::Text, "", c.Parite, oneOf(kParities, "call line parity"));
    v(call, "CtrlFlux", KeyKind::Int16, "", c.CtrlFlux, range(0, 6, "call line flow control"));

    const char* t = "OPTION_T";
    v(t, "TCarFiltered", KeyKind::Text, "", p.TCarFiltered,
      any("characters filtered out of a sent program"));
    v(t, "TCarFilteredBy", KeyKind::Text, "", p.TCarFilteredBy, any("their replacements"));
    v(t, "BOT", KeyKind::Text, "", p.BOT, any("sent before a program, as character codes"));
    v(t, "EOT", KeyKind::Text, "", p.EOT, any("sent after a program, as character codes"));
    v(t, "TempoBeforeSend", KeyKind::Double, "", p.TempoBeforeSend,
      positive("delay before a send"));
    v(t, "TempoAfterSend", KeyKind::Double, "", p.TempoAfterSend, positive("delay after a send"));
    v(t, "ApercuProgLocal", KeyKind::Bool, "1", s.ApercuProgLocal,
      any("local preview of programs"));

    const char* r = "OPTION_R";
    v(r, "RCarFiltered", KeyKind::Text, "", p.RCarFiltered,
      any("characters filtered out of an upload"));
    v(r, "RCarFilteredBy", KeyKind::Text, "", p.RCarFilteredBy, any("their replacements"));
    v(r, "BOR", KeyKind::Text, "", p.BOR, any("marks the start of an upload, as character codes"));
    v(r, "EOR", KeyKind::Text, "", p.EOR, any("marks its end, as character codes"));
    v(r, "FiltreLigneRecep", KeyKind::Text, "", p.FiltreLigneRecep,
      any("line filter applied to uploads"));

    const char* tempo = "TEMPO";
    v(tempo, "TempoBloc", KeyKind::Double, "", p.TempoBloc, positive("delay between blocks"));
    v(tempo, "TempoCar", KeyKind::Double, "", p.TempoCar, positive("delay between characters"));
    v(tempo, "TimeOutModeRecep", KeyKind::Long, "", p.TimeOutModeRecep,
      positive("seconds the readiness test waits"));
    v(tempo, "TimeOutBreak", KeyKind::Long, "", s.TimeOutBreak,
      positive("write time-out of the serial line"));
    v(tempo, "TimeOutVideBuffer", KeyKind::Long, "", s.TimeOutVideBuffer,
      positive("time-out for emptying the send buffer"));
    v.external(tempo, "TimeOutSend", KeyKind::Double, "600",
               positive("seconds a serial send may last; read at each send"));
}

template <class V> void VisitSettingsKeys(Settings& s, V& v)
{
    using namespace keyrule;
    const char* nodalis = "NODALIS";
    v(nodalis, "PortListen", KeyKind::Long, "", s.PortListen,
      port("TCP port of the control link; 0: any free port"));
    v(nodalis, "DncAppMode", KeyKind::Long, "", s.DncAppMode,
      oneOf("0,1,2", "0: driven over the control link, 1: stand-alone in its window, 2: both"));
    v(nodalis, "FirstExe", KeyKind::Bool, "", s.FirstExe,
      any("first run: register to start with the system"));
    v(nodalis, "IconTray", KeyKind::Bool, "1", s.IconTray, any("tray icon"));
    v(nodalis, "Service", KeyKind::Bool, "0", s.Service, any("read; no effect"));
    v(nodalis, "ControlAllowFrom", KeyKind::CommaList, "", s.ControlAllowFrom,
      any("who may use the control link: addresses, CIDR ranges, localhost; "
          "empty: anyone; an unreadable entry: nobody"));
    v.external(nodalis, "PID", KeyKind::Long, "", positive("written: process id of the server"));
    v.external(nodalis, "IPserver", KeyKind::Text, "", any("written: address of the server"));
    v.external(nodalis, "HostName", KeyKind::Text, "", any("written: host name of the server"));
    v.external(nodalis, "LocalPathDir", KeyKind::Text, "", any("written: base folder"));
    v.external(nodalis, "Socket", KeyKind::Long, "",
               port("written: port the control link listens on"));

    const char* dnc = "DNC";
    v(dnc, "RefMO", KeyKind::Text, "", s.RefMO, any("reference of the machine tool"));
    v(dnc, "PathData", KeyKind::Folder, "", s.PathData, folder("folder of the program store"));
    v.derived(dnc, "PathDataBase", s.PathDataBase, s.PathData + QStringLiteral("Talmiron.mdb"));
    v.derived(dnc, "PathDataJournal", s.PathDataJournal,
              s.PathData + QStringLiteral("JournalProg.mdb"));
    v.derived(dnc, "PathProgCN", s.PathProgCN,
              s.PathData + QStringLiteral("ProgCN") + QDir::separator());
    v(dnc, "PathFileProgOpen", KeyKind::Folder, "", s.PathFileProgOpen,
      folder("folder programs are taken from (without the store)"));
    v(dnc, "PathFileProgSave", KeyKind::Folder, "", s.PathFileProgSave,
      folder("folder uploads are saved into (without the store)"));
    v(dnc, "PathArchive", KeyKind::Folder, "", s.PathArchive, folder("archive folder"));
    v(dnc, "PathMacroError", KeyKind::Text, "", s.PathMacroError,
      file("program sent when a call cannot be served"));
    v(dnc, "CallSyntax", KeyKind::Text, "", s.CallSyntax, any("syntax of a program call"));
    v(dnc, "DataAccess", KeyKind::Strict16, "", s.DataAccess,
      any("1: programs in the program store, other: plain files"));
    v(dnc, "ModeGestionBD", KeyKind::Long, "", s.ModeGestionBD,
      oneOf("0,1", "1: a program's .dir folder travels with it"));
    v(dnc, "Methode", KeyKind::Long, "", s.Port.Methode,
      oneOf(kMethods, "line method: 0-2 serial, 3 serial library, 4 FTP, 7 IP-serial, "
                      "12 USB key, 14 watched folder, 15 LSV2, 20 push box, 21 FOCAS..."));
    v(dnc, "FiltreCarSpec", KeyKind::Bool, "", s.FiltreCarSpec,
      any("filter special characters out of programs"));
    v(dnc, "IsModeEcoute", KeyKind::Bool, "", s.IsModeEcoute, any("listen from start-up on"));
    v(dnc, "CheckBeforeSend", KeyKind::Bool, "", s.CheckBeforeSend,
      any("check a program before it is sent"));
    v(dnc, "ListRefMOShared", KeyKind::CommaList, "", s.ListRefMOShared,
      any("other machines whose programs may be called"));
    v(dnc, "UseCodeProgOrva", KeyKind::Bool, "", s.UseCodeProgOrva,
      any("uploads carry the store's program code"));
    v(dnc, "RefCartoucheCodeProg", KeyKind::Text, "", s.RefCartoucheCodeProg,
      any("header field holding that code"));
    v(dnc, "UseRPC", KeyKind::Bool, "", s.UseRPC, any("a text with the call syntax is a call"));
    v(dnc, "TrimBlocRecep", KeyKind::Bool, "", s.TrimBlocRecep, any("trim received blocks"));
    v(dnc, "ReceivProgCrushed", KeyKind::Bool, "", s.ReceivProgCrushed,
      any("an upload replaces the stored program"));
    v(dnc, "ReceivProgCompareFiltered", KeyKind::Bool, "", s.ReceivProgCompareFiltered,
      any("compare an upload with the stored program, filtered"));
    v(dnc, "ProgIndice", KeyKind::Bool, "0", s.ProgIndice,
      any("uploads stored with a revision index"));
    v(dnc, "NotUseXVB", KeyKind::Bool, "0", s.NotUseXVB, any("Mazatrol conversion option"));
    v(dnc, "SendFirstAsLast", KeyKind::Bool, "0", s.SendFirstAsLast,
      any("send the first program of a file last"));
    v(dnc, "JournalEvenements", KeyKind::Bool, "0", s.JournalEvenements,
      any("journal events in the store"));
    v(dnc, "DbDriver", KeyKind::Text, "", s.DbDriver,
      any("store engine: SQLITE (empty), ODBC, PSQL or a Qt Sql driver"));
    v(dnc, "DbName", KeyKind::Text, "", s.DbName, any("ODBC data source or PostgreSQL database"));
    v(dnc, "DbHost", KeyKind::Text, "", s.DbHost, any("PostgreSQL host"));
    v(dnc, "DbPort", KeyKind::Long, "", s.DbPort, port("PostgreSQL port; 0: the driver's"));
    v(dnc, "DbUser", KeyKind::Text, "", s.DbUser, any("store user"));
    v(dnc, "DbPassword", KeyKind::Raw, "", s.DbPassword, any("store password"));

    v.channels(s.Canaux);
    v.derived("CANAUX", "NbCanaux", s.NbCanaux,
              qint32(s.Canaux.size() > 1 ? s.Canaux.size() - 1 : 1));
    v.derived("CANAUX", "IsCanaux", s.IsCanaux, s.Canaux.size() > 1);

    const char* remonte = "REMONTE";
    v(remonte, "RemonteDossier", KeyKind::Bool, "0", s.RemonteDossier,
      any("uploads also go, dated, to PathRemonte"));
    v(remonte, "PathRemonte", KeyKind::Raw, "", s.PathRemonte, folder("that folder"));
    v(remonte, "NumProgAsUniqueID", KeyKind::Bool, "0", s.NumProgAsUniqueID,
      any("the program number identifies an upload"));

    v("USER", "UserName", KeyKind::Text, "", s.UserName, any("read; no effect"));
    v("USER", "UserPwd", KeyKind::Text, "", s.UserPwd, any("read; no effect"));

    VisitPortKeys(s, v);

    const char* mo = "SYNTAXE_MO";
    v(mo, "CodeCN", KeyKind::Long, "", s.CodeCN, any("control type code"));
    v(mo, "CodeGroupCN", KeyKind::Long, "", s.CodeGroupCN,
      any("control group: 2, 3 and 9 have rules of their own"));
    v(mo, "CarDebProg", KeyKind::Raw, "", s.CarDebProg, any("starts the program number"));
    v(mo, "CarDebBloc", KeyKind::Raw, "", s.CarDebBloc, any("starts a block number"));
    v(mo, "CarBlocOpt", KeyKind::Raw, "", s.CarBlocOpt, any("optional-block character"));
    v(mo, "CarDebCom", KeyKind::Raw, "", s.CarDebCom, any("starts a comment"));
    v(mo, "CarFinCom", KeyKind::Raw, "", s.CarFinCom, any("ends a comment"));
    v(mo, "NumBloc1", KeyKind::Int16, "", s.NumBloc1, any("first block number"));
    v(mo, "IncrBloc", KeyKind::Int16, "", s.IncrBloc, any("block number increment"));
    v(mo, "BlocDeb", KeyKind::Raw, "", s.BlocDeb, any("start block of a program"));
    v(mo, "BlocFin", KeyKind::Raw, "", s.BlocFin, any("end block of a program"));
    v(mo, "BlocType", KeyKind::Raw, "", s.BlocType, any("block type"));
    v(mo, "NbTourelle", KeyKind::Int16, "", s.NbTourelle, positive("turrets"));
    v(mo, "NbPot", KeyKind::Int16, "", s.NbPot, positive("tool pockets"));
    v(mo, "NbMaxCarBloc", KeyKind::Long, "", s.NbMaxCarBloc, positive("longest block"));
    v(mo, "CarSepDec", KeyKind::Text, "", s.CarSepDec, any("decimal separator"));
    v(mo, "ForceSepDec", KeyKind::Bool, "", s.ForceSepDec, any("force that separator"));
    v(mo, "FileExt", KeyKind::Raw, "", s.FileExt, any("extension of program files"));

    const char* cart = "SYNTAXE_CARTOUCHE";
    v(cart, "InsertMode", KeyKind::Long, "", s.InsertMode, any("where the header goes"));
    v(cart, "HeaderVisible", KeyKind::Bool, "", s.HeaderVisible, any("the header is visible"));
    v(cart, "HeaderText", KeyKind::Text, "", s.HeaderText, any("fixed header text"));
    v(cart, "BlocLen", KeyKind::Long, "", s.BlocLen, positive("header block length"));
    v(cart, "BlocLenLimitation", KeyKind::Bool, "", s.BlocLenLimitation,
      any("header blocks cut at BlocLen"));
    v(cart, "CarCartouche", KeyKind::Text, "", s.CarCartouche, any("marks header blocks"));
    v(cart, "CompactCartPosition", KeyKind::Long, "", s.CompactCartPosition,
      any("position of the compact header"));
    v(cart, "CML", KeyKind::Bool, "", s.CML, any("header read from a Hurco XML document"));

    const char* net = "RESEAU";
    v(net, "RemoteMethode", KeyKind::Long, "", s.RemoteMethode,
      any("network method of the controller"));
    v(net, "RemoteHost", KeyKind::Text, "", s.RemoteHost, any("controller or converter host"));
    v(net, "RemotePort", KeyKind::Text, "", s.RemotePort, port("its TCP port"));
    v(net, "DefaultDirHostSend", KeyKind::Text, "", s.DefaultDirHostSend,
      any("remote folder programs are sent to"));
    v(net, "DefaultDirHostReceiv", KeyKind::Text, "", s.DefaultDirHostReceiv,
      any("remote folder programs are taken from"));
    v(net, "OrvaConnexionRole", KeyKind::Long, "", s.OrvaConnexionRole,
      oneOf("0,1", "LSV2 role: 0 client, 1 server"));
    v(net, "UserName", KeyKind::Raw, "", s.ReseauUserName, any("remote user"));
    v(net, "UserPassword", KeyKind::Raw, "", s.UserPassword, any("remote password"));
    v(net, "DefautFileName", KeyKind::Raw, "", s.DefautFileName, any("default remote file name"));
    v(net, "TransfertBasic", KeyKind::Bool, "", s.TransfertBasic, any("simple transfer mode"));
    v(net, "NumProgAsFileName", KeyKind::Bool, "", s.NumProgAsFileName,
      any("the program number names the remote file"));
    v(net, "DeleteFileReseau", KeyKind::Bool, "", s.DeleteFileReseau,
      any("delete the remote file after a transfer"));
    v(net, "GroupeInFolder", KeyKind::Bool, "", s.GroupeInFolder,
      any("a program group goes into a folder"));
    v(net, "FtpMode", KeyKind::Text, "passive", s.FtpMode,
      oneOf("passive,active",
            "FTP data connections: passive, or active for controls that need it"));
    v(net, "UncRoot", KeyKind::Text, "/mnt/unc", s.UncRoot,
      any("where \\\\host\\share folders are mounted off Windows"));
    v(net, "FocasLibrary", KeyKind::Text, "", s.FocasLibrary,
      any("FANUC FOCAS library to load; empty: Fwlib32/64.dll beside the server, libfwlib32.so"));
    v(net, "TncCmd", KeyKind::Text, "", s.TncCmd,
      any("TNCremo command tool to run; empty: tnccmd.exe beside the server"));

    const char* fields = "RECORDFIELDS";
    v(fields, "NbBDFields", KeyKind::Long, "", s.NbBDFields,
      range(0, 1000, "number of field descriptions"));
    v.resize(fields, "NbBDFields", s.RecordFields, s.NbBDFields);
    for (int i = 1; i < s.RecordFields.size(); ++i) {
        RecordField& f = s.RecordFields[i];
        const QByteArray n = QByteArray::number(i);
        v(fields, "RefChamp" + n, KeyKind::Text, "", f.RefChamp, any("store field of field n"));
        v(fields, "RefCartouche" + n, KeyKind::Text, "", f.RefCartouche,
          any("header field it matches"));
        v(fields, "IsIndexe" + n, KeyKind::Bool, "", f.IsIndexe, any("indexed"));
        v(fields, "IsNumProg" + n, KeyKind::Bool, "", f.IsNumProg, any("holds the program number"));
        v(fields, "IsUniqueByMO" + n, KeyKind::Bool, "", f.IsUniqueByMO, any("unique per machine"));
        v(fields, "WithSuivDispo" + n, KeyKind::Bool, "", f.WithSuivDispo,
          any("takes part in next-free numbering"));
        v(fields, "TypeCalculSuivDispo" + n, KeyKind::Long, "", f.TypeCalculSuivDispo,
          any("how the next free value is computed"));
        v(fields, "IsInProgBar" + n, KeyKind::Bool, "", f.IsInProgBar,
          any("shown with the progress"));
        v(fields, "IsInfoProg" + n, KeyKind::Bool, "", f.IsInfoProg,
          any("part of the program information"));
        v(fields, "IsUniqueIDProgRem" + n, KeyKind::Bool, "", f.IsUniqueIDProgRem,
          any("identifies an upload"));
    }

    v("RECORDFIELDS_FIXED", "RefCartoucheMO", KeyKind::Text, "", s.RefCartoucheMO,
      any("header field holding the machine"));
    v("RECORDFIELDS_FIXED", "RefCartoucheAppel", KeyKind::Text, "", s.RefCartoucheAppel,
      any("header field holding the call"));

    const char* activity = "WORKSHOP ACTIVITY";
    v(activity, "NbActivity", KeyKind::Long, "", s.NbActivity,
      range(0, 1000, "number of tracked activities"));
    v.resize(activity, "NbActivity", s.Activities, s.NbActivity);
    for (int i = 1; i < s.Activities.size(); ++i) {
        WorkshopActivity& a = s.Activities[i];
        const QByteArray n = QByteArray::number(i);
        v(activity, "CodeActivity" + n, KeyKind::Long, "", a.CodeActivity,
          any("event code of activity n"));
        v(activity, "RefActivity" + n, KeyKind::Text, "", a.RefActivity, any("its reference"));
        v(activity, "CarActivity" + n, KeyKind::Text, "", a.CarActivity,
          any("character that marks it"));
    }
}

} // namespace nodalis
