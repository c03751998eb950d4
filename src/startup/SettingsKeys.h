#pragma once

#include "startup/Settings.h"

#include <QByteArray>
#include <QDir>

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

// The one list of the configuration's keys, in the order they are read.
// The loader walks it to read the file, the dump walks it to print what was
// loaded. A visitor provides:
//   operator()(section, key, KeyKind, default text, field&)
//   derived(section, name, field&, value)  - a value computed from others
//   channels(field&)                        - the channel entries of CANAUX
//   resize(section, key, list&, count)      - size a numbered list before its keys
template <class V> void VisitPortKeys(Settings& s, V& v)
{
    PortSettings& p = s.Port;
    const char* comm = "COMM";
    v(comm, "NumPort", KeyKind::Int16, "", p.NumPort);
    v(comm, "PortName", KeyKind::Text, "", p.PortName);
    v(comm, "Bauds", KeyKind::Text, "", p.Bauds);
    v(comm, "BaudsEnvoi", KeyKind::Text, p.Bauds, p.BaudsEnvoi);
    v(comm, "DataBit", KeyKind::Text, "", p.DataBit);
    v(comm, "StopBit", KeyKind::Text, "", p.StopBit);
    v(comm, "Parite", KeyKind::Text, "", p.Parite);
    v(comm, "TimeOut", KeyKind::Long, "", p.TimeOut);
    v(comm, "TimeOutEnvoi", KeyKind::Long, "", p.TimeOutEnvoi);
    v(comm, "CtrlFlux", KeyKind::Int16, "", p.CtrlFlux);
    v(comm, "CtrlFluxSend", KeyKind::Int16, QByteArray::number(p.CtrlFlux), p.CtrlFluxSend);
    v(comm, "EOB", KeyKind::CodeList, "", p.EOB);
    v(comm, "IsModePassant", KeyKind::Bool, "", p.IsModePassant);
    v(comm, "InBufferSize", KeyKind::Int16, "", p.InBufferSize);
    v(comm, "OutBufferSize", KeyKind::Int16, "", p.OutBufferSize);
    v(comm, "ModeIRQ", KeyKind::Int16, "", p.ModeIRQ);
    v(comm, "TimeOutEcoute", KeyKind::Long, "", p.TimeOutEcoute);

    const char* dnc = "OPTION_DNC";
    v(dnc, "NbBlocAvance", KeyKind::Long, "", p.NbBlocAvance);
    v(dnc, "SendComment", KeyKind::Bool, "", p.SendComment);
    v(dnc, "SendCartouche", KeyKind::Bool, "", p.SendCartouche);
    v(dnc, "Specificite", KeyKind::Text, "", p.Specificite);
    v(dnc, "CheckModeRecep", KeyKind::Text, "", p.CheckModeRecep);
    v(dnc, "ConvertMazIso", KeyKind::Bool, "", p.ConvertMazIso);
    v(dnc, "SendEmptyLines", KeyKind::Bool, "", p.SendEmptyLines);
    v(dnc, "IsMultiAppel", KeyKind::Bool, "", p.IsMultiAppel);
    v(dnc, "SepCarMultiAppel", KeyKind::Text, "", p.SepCarMultiAppel);
    v(dnc, "CheckReceivBeforeAppel", KeyKind::Bool, "", p.CheckReceivBeforeAppel);
    v(dnc, "NbReceivBeforeAppel", KeyKind::Long, "", p.NbReceivBeforeAppel);
    v(dnc, "CheckAllDataBase", KeyKind::Bool, "", p.CheckAllDataBase);
    v(dnc, "DefBlocDepFinAppel", KeyKind::Bool, "", p.DefBlocDepFinAppel);
    v(dnc, "CarSepAppel", KeyKind::Raw, "", p.CarSepAppel);
    v(dnc, "ConcatProgAppel", KeyKind::Bool, "", p.ConcatProgAppel);
    v(dnc, "MarqueurDebAppel", KeyKind::Raw, "", p.MarqueurDebAppel);
    v(dnc, "MarqueurFinAppel", KeyKind::Raw, "", p.MarqueurFinAppel);

    PortSettings& c = s.CallPort;
    const char* call = "CALL_COMM";
    v(call, "CallMethode", KeyKind::Long, "", c.Methode);
    v(call, "NumPort", KeyKind::Int16, "", c.NumPort);
    v(call, "PortName", KeyKind::Text, "", c.PortName);
    v(call, "Bauds", KeyKind::Text, "", c.Bauds);
    v.derived(call, "BaudsEnvoi", c.BaudsEnvoi, c.Bauds);
    v(call, "DataBit", KeyKind::Text, "", c.DataBit);
    v(call, "StopBit", KeyKind::Text, "", c.StopBit);
    v(call, "Parite", KeyKind::Text, "", c.Parite);
    v(call, "CtrlFlux", KeyKind::Int16, "", c.CtrlFlux);

    const char* t = "OPTION_T";
    v(t, "TCarFiltered", KeyKind::Text, "", p.TCarFiltered);
    v(t, "TCarFilteredBy", KeyKind::Text, "", p.TCarFilteredBy);
    v(t, "BOT", KeyKind::Text, "", p.BOT);
    v(t, "EOT", KeyKind::Text, "", p.EOT);
    v(t, "TempoBeforeSend", KeyKind::Double, "", p.TempoBeforeSend);
    v(t, "TempoAfterSend", KeyKind::Double, "", p.TempoAfterSend);
    v(t, "ApercuProgLocal", KeyKind::Bool, "1", s.ApercuProgLocal);

    const char* r = "OPTION_R";
    v(r, "RCarFiltered", KeyKind::Text, "", p.RCarFiltered);
    v(r, "RCarFilteredBy", KeyKind::Text, "", p.RCarFilteredBy);
    v(r, "BOR", KeyKind::Text, "", p.BOR);
    v(r, "EOR", KeyKind::Text, "", p.EOR);
    v(r, "FiltreLigneRecep", KeyKind::Text, "", p.FiltreLigneRecep);

    const char* tempo = "TEMPO";
    v(tempo, "TempoBloc", KeyKind::Double, "", p.TempoBloc);
    v(tempo, "TempoCar", KeyKind::Double, "", p.TempoCar);
    v(tempo, "TimeOutModeRecep", KeyKind::Long, "", p.TimeOutModeRecep);
    v(tempo, "TimeOutBreak", KeyKind::Long, "", s.TimeOutBreak);
    v(tempo, "TimeOutVideBuffer", KeyKind::Long, "", s.TimeOutVideBuffer);
}

template <class V> void VisitSettingsKeys(Settings& s, V& v)
{
    const char* nodalis = "NODALIS";
    v(nodalis, "PortListen", KeyKind::Long, "", s.PortListen);
    v(nodalis, "DncAppMode", KeyKind::Long, "", s.DncAppMode);
    v(nodalis, "FirstExe", KeyKind::Bool, "", s.FirstExe);
    v(nodalis, "IconTray", KeyKind::Bool, "1", s.IconTray);
    v(nodalis, "Service", KeyKind::Bool, "0", s.Service);
    v(nodalis, "ControlAllowFrom", KeyKind::CommaList, "", s.ControlAllowFrom);

    const char* dnc = "DNC";
    v(dnc, "RefMO", KeyKind::Text, "", s.RefMO);
    v(dnc, "PathData", KeyKind::Folder, "", s.PathData);
    v.derived(dnc, "PathDataBase", s.PathDataBase, s.PathData + QStringLiteral("Talmiron.mdb"));
    v.derived(dnc, "PathDataJournal", s.PathDataJournal,
              s.PathData + QStringLiteral("JournalProg.mdb"));
    v.derived(dnc, "PathProgCN", s.PathProgCN,
              s.PathData + QStringLiteral("ProgCN") + QDir::separator());
    v(dnc, "PathFileProgOpen", KeyKind::Folder, "", s.PathFileProgOpen);
    v(dnc, "PathFileProgSave", KeyKind::Folder, "", s.PathFileProgSave);
    v(dnc, "PathArchive", KeyKind::Folder, "", s.PathArchive);
    v(dnc, "PathMacroError", KeyKind::Text, "", s.PathMacroError);
    v(dnc, "CallSyntax", KeyKind::Text, "", s.CallSyntax);
    v(dnc, "DataAccess", KeyKind::Strict16, "", s.DataAccess);
    v(dnc, "ModeGestionBD", KeyKind::Long, "", s.ModeGestionBD);
    v(dnc, "Methode", KeyKind::Long, "", s.Port.Methode);
    v(dnc, "FiltreCarSpec", KeyKind::Bool, "", s.FiltreCarSpec);
    v(dnc, "IsModeEcoute", KeyKind::Bool, "", s.IsModeEcoute);
    v(dnc, "CheckBeforeSend", KeyKind::Bool, "", s.CheckBeforeSend);
    v(dnc, "ListRefMOShared", KeyKind::CommaList, "", s.ListRefMOShared);
    v(dnc, "UseCodeProgOrva", KeyKind::Bool, "", s.UseCodeProgOrva);
    v(dnc, "RefCartoucheCodeProg", KeyKind::Text, "", s.RefCartoucheCodeProg);
    v(dnc, "UseRPC", KeyKind::Bool, "", s.UseRPC);
    v(dnc, "TrimBlocRecep", KeyKind::Bool, "", s.TrimBlocRecep);
    v(dnc, "ReceivProgCrushed", KeyKind::Bool, "", s.ReceivProgCrushed);
    v(dnc, "ReceivProgCompareFiltered", KeyKind::Bool, "", s.ReceivProgCompareFiltered);
    v(dnc, "ProgIndice", KeyKind::Bool, "0", s.ProgIndice);
    v(dnc, "NotUseXVB", KeyKind::Bool, "0", s.NotUseXVB);
    v(dnc, "SendFirstAsLast", KeyKind::Bool, "0", s.SendFirstAsLast);
    v(dnc, "JournalEvenements", KeyKind::Bool, "0", s.JournalEvenements);
    v(dnc, "DbDriver", KeyKind::Text, "", s.DbDriver);
    v(dnc, "DbName", KeyKind::Text, "", s.DbName);
    v(dnc, "DbHost", KeyKind::Text, "", s.DbHost);
    v(dnc, "DbPort", KeyKind::Long, "", s.DbPort);
    v(dnc, "DbUser", KeyKind::Text, "", s.DbUser);
    v(dnc, "DbPassword", KeyKind::Raw, "", s.DbPassword);

    v.channels(s.Canaux);
    v.derived("CANAUX", "NbCanaux", s.NbCanaux,
              qint32(s.Canaux.size() > 1 ? s.Canaux.size() - 1 : 1));
    v.derived("CANAUX", "IsCanaux", s.IsCanaux, s.Canaux.size() > 1);

    const char* remonte = "REMONTE";
    v(remonte, "RemonteDossier", KeyKind::Bool, "0", s.RemonteDossier);
    v(remonte, "PathRemonte", KeyKind::Raw, "", s.PathRemonte);
    v(remonte, "NumProgAsUniqueID", KeyKind::Bool, "0", s.NumProgAsUniqueID);

    v("USER", "UserName", KeyKind::Text, "", s.UserName);
    v("USER", "UserPwd", KeyKind::Text, "", s.UserPwd);

    VisitPortKeys(s, v);

    const char* mo = "SYNTAXE_MO";
    v(mo, "CodeCN", KeyKind::Long, "", s.CodeCN);
    v(mo, "CodeGroupCN", KeyKind::Long, "", s.CodeGroupCN);
    v(mo, "CarDebProg", KeyKind::Raw, "", s.CarDebProg);
    v(mo, "CarDebBloc", KeyKind::Raw, "", s.CarDebBloc);
    v(mo, "CarBlocOpt", KeyKind::Raw, "", s.CarBlocOpt);
    v(mo, "CarDebCom", KeyKind::Raw, "", s.CarDebCom);
    v(mo, "CarFinCom", KeyKind::Raw, "", s.CarFinCom);
    v(mo, "NumBloc1", KeyKind::Int16, "", s.NumBloc1);
    v(mo, "IncrBloc", KeyKind::Int16, "", s.IncrBloc);
    v(mo, "BlocDeb", KeyKind::Raw, "", s.BlocDeb);
    v(mo, "BlocFin", KeyKind::Raw, "", s.BlocFin);
    v(mo, "BlocType", KeyKind::Raw, "", s.BlocType);
    v(mo, "NbTourelle", KeyKind::Int16, "", s.NbTourelle);
    v(mo, "NbPot", KeyKind::Int16, "", s.NbPot);
    v(mo, "NbMaxCarBloc", KeyKind::Long, "", s.NbMaxCarBloc);
    v(mo, "CarSepDec", KeyKind::Text, "", s.CarSepDec);
    v(mo, "ForceSepDec", KeyKind::Bool, "", s.ForceSepDec);
    v(mo, "FileExt", KeyKind::Raw, "", s.FileExt);

    const char* cart = "SYNTAXE_CARTOUCHE";
    v(cart, "InsertMode", KeyKind::Long, "", s.InsertMode);
    v(cart, "HeaderVisible", KeyKind::Bool, "", s.HeaderVisible);
    v(cart, "HeaderText", KeyKind::Text, "", s.HeaderText);
    v(cart, "BlocLen", KeyKind::Long, "", s.BlocLen);
    v(cart, "BlocLenLimitation", KeyKind::Bool, "", s.BlocLenLimitation);
    v(cart, "CarCartouche", KeyKind::Text, "", s.CarCartouche);
    v(cart, "CompactCartPosition", KeyKind::Long, "", s.CompactCartPosition);
    v(cart, "CML", KeyKind::Bool, "", s.CML);

    const char* net = "RESEAU";
    v(net, "RemoteMethode", KeyKind::Long, "", s.RemoteMethode);
    v(net, "RemoteHost", KeyKind::Text, "", s.RemoteHost);
    v(net, "RemotePort", KeyKind::Text, "", s.RemotePort);
    v(net, "DefaultDirHostSend", KeyKind::Text, "", s.DefaultDirHostSend);
    v(net, "DefaultDirHostReceiv", KeyKind::Text, "", s.DefaultDirHostReceiv);
    v(net, "OrvaConnexionRole", KeyKind::Long, "", s.OrvaConnexionRole);
    v(net, "UserName", KeyKind::Raw, "", s.ReseauUserName);
    v(net, "UserPassword", KeyKind::Raw, "", s.UserPassword);
    v(net, "DefautFileName", KeyKind::Raw, "", s.DefautFileName);
    v(net, "TransfertBasic", KeyKind::Bool, "", s.TransfertBasic);
    v(net, "NumProgAsFileName", KeyKind::Bool, "", s.NumProgAsFileName);
    v(net, "DeleteFileReseau", KeyKind::Bool, "", s.DeleteFileReseau);
    v(net, "GroupeInFolder", KeyKind::Bool, "", s.GroupeInFolder);

    const char* fields = "RECORDFIELDS";
    v(fields, "NbBDFields", KeyKind::Long, "", s.NbBDFields);
    v.resize(fields, "NbBDFields", s.RecordFields, s.NbBDFields);
    for (int i = 1; i < s.RecordFields.size(); ++i) {
        RecordField& f = s.RecordFields[i];
        const QByteArray n = QByteArray::number(i);
        v(fields, "RefChamp" + n, KeyKind::Text, "", f.RefChamp);
        v(fields, "RefCartouche" + n, KeyKind::Text, "", f.RefCartouche);
        v(fields, "IsIndexe" + n, KeyKind::Bool, "", f.IsIndexe);
        v(fields, "IsNumProg" + n, KeyKind::Bool, "", f.IsNumProg);
        v(fields, "IsUniqueByMO" + n, KeyKind::Bool, "", f.IsUniqueByMO);
        v(fields, "WithSuivDispo" + n, KeyKind::Bool, "", f.WithSuivDispo);
        v(fields, "TypeCalculSuivDispo" + n, KeyKind::Long, "", f.TypeCalculSuivDispo);
        v(fields, "IsInProgBar" + n, KeyKind::Bool, "", f.IsInProgBar);
        v(fields, "IsInfoProg" + n, KeyKind::Bool, "", f.IsInfoProg);
        v(fields, "IsUniqueIDProgRem" + n, KeyKind::Bool, "", f.IsUniqueIDProgRem);
    }

    v("RECORDFIELDS_FIXED", "RefCartoucheMO", KeyKind::Text, "", s.RefCartoucheMO);
    v("RECORDFIELDS_FIXED", "RefCartoucheAppel", KeyKind::Text, "", s.RefCartoucheAppel);

    const char* activity = "WORKSHOP ACTIVITY";
    v(activity, "NbActivity", KeyKind::Long, "", s.NbActivity);
    v.resize(activity, "NbActivity", s.Activities, s.NbActivity);
    for (int i = 1; i < s.Activities.size(); ++i) {
        WorkshopActivity& a = s.Activities[i];
        const QByteArray n = QByteArray::number(i);
        v(activity, "CodeActivity" + n, KeyKind::Long, "", a.CodeActivity);
        v(activity, "RefActivity" + n, KeyKind::Text, "", a.RefActivity);
        v(activity, "CarActivity" + n, KeyKind::Text, "", a.CarActivity);
    }
}

} // namespace nodalis
