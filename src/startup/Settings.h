#pragma once

#include "startup/PortSettings.h"

#include <QByteArray>
#include <QList>
#include <QString>

namespace nodalis {

// How one field of the program database is used (section RECORDFIELDS).
struct RecordField
{
    QByteArray RefChamp;
    QByteArray RefCartouche;
    bool IsIndexe = false;
    bool IsNumProg = false;
    bool IsUniqueByMO = false;
    bool WithSuivDispo = false;
    qint32 TypeCalculSuivDispo = 0;
    bool IsInProgBar = false;
    bool IsInfoProg = false;
    bool Reserved = false; // kept for the record's layout; never read from the file
    bool IsUniqueIDProgRem = false;
};

// One workshop activity of production tracking (section WORKSHOP ACTIVITY).
struct WorkshopActivity
{
    qint32 CodeActivity = 0;
    QByteArray RefActivity;
    QByteArray CarActivity;
};

// Every setting of Nodalis.ini, named by its key. Texts are bytes of the
// single-byte code page; folder values end with the native separator.
struct Settings
{
    // NODALIS
    qint32 PortListen = 0;
    qint32 DncAppMode = 0;
    bool FirstExe = false;
    bool IconTray = true;
    bool Service = false;
    // Addresses or CIDR ranges allowed on the control link; empty: any.
    QList<QByteArray> ControlAllowFrom;

    // DNC
    QByteArray RefMO;
    QString PathData;
    QString PathDataBase;    // PathData + Talmiron.mdb
    QString PathDataJournal; // PathData + JournalProg.mdb
    QString PathProgCN;      // PathData + ProgCN + separator
    QString PathFileProgOpen;
    QString PathFileProgSave;
    QString PathArchive;
    QByteArray PathMacroError;
    QByteArray CallSyntax;
    qint16 DataAccess = 0;
    qint32 ModeGestionBD = 0;
    bool FiltreCarSpec = false;
    bool IsModeEcoute = false;
    bool CheckBeforeSend = false;
    QList<QByteArray> ListRefMOShared;
    bool UseCodeProgOrva = false;
    QByteArray RefCartoucheCodeProg;
    bool UseRPC = false;
    bool TrimBlocRecep = false;
    bool ReceivProgCrushed = false;
    bool ReceivProgCompareFiltered = false;
    bool ProgIndice = false;
    bool NotUseXVB = false;
    bool SendFirstAsLast = false;
    bool JournalEvenements = false;
    // Engine of the program store: a Qt Sql driver name ("QSQLITE", "QODBC",
    // "QPSQL", or "SQLITE", "ODBC", "PSQL"); empty: SQLite files in PathData.
    QByteArray DbDriver;
    QByteArray DbName; // ODBC data source, or the PostgreSQL database
    QByteArray DbHost;
    qint32 DbPort = 0;
    QByteArray DbUser;
    QByteArray DbPassword;

    // CANAUX: element 0 is empty, 1..NbCanaux are the channel entries.
    QList<QByteArray> Canaux{QByteArray()};
    qint32 NbCanaux = 1;
    bool IsCanaux = false;

    // REMONTE
    bool RemonteDossier = false;
    QByteArray PathRemonte;
    bool NumProgAsUniqueID = false;

    // USER
    QByteArray UserName;
    QByteArray UserPwd;

    // COMM, OPTION_DNC, OPTION_T, OPTION_R, TEMPO, CALL_COMM
    PortSettings Port;
    PortSettings CallPort;
    bool ApercuProgLocal = true;
    qint32 TimeOutBreak = 0;
    qint32 TimeOutVideBuffer = 0;

    // SYNTAXE_MO
    qint32 CodeCN = 0;
    qint32 CodeGroupCN = 0;
    QByteArray CarDebProg;
    QByteArray CarDebBloc;
    QByteArray CarBlocOpt;
    QByteArray CarDebCom;
    QByteArray CarFinCom;
    qint16 NumBloc1 = 0;
    qint16 IncrBloc = 0;
    QByteArray BlocDeb;
    QByteArray BlocFin;
    QByteArray BlocType;
    qint16 NbTourelle = 0;
    qint16 NbPot = 0;
    qint32 NbMaxCarBloc = 0;
    QByteArray CarSepDec;
    bool ForceSepDec = false;
    QByteArray FileExt;

    // SYNTAXE_CARTOUCHE
    qint32 InsertMode = 0;
    bool HeaderVisible = false;
    QByteArray HeaderText;
    qint32 BlocLen = 0;
    bool BlocLenLimitation = false;
    QByteArray CarCartouche;
    qint32 CompactCartPosition = 0;
    bool CML = false;

    // RESEAU
    qint32 RemoteMethode = 0;
    QByteArray RemoteHost;
    QByteArray RemotePort;
    QByteArray DefaultDirHostSend;
    QByteArray DefaultDirHostReceiv;
    qint32 OrvaConnexionRole = 0;
    QByteArray ReseauUserName;
    QByteArray UserPassword;
    QByteArray DefautFileName;
    bool TransfertBasic = false;
    bool NumProgAsFileName = false;
    bool DeleteFileReseau = false;
    bool GroupeInFolder = false;
    QByteArray FtpMode = "passive";
    QByteArray UncRoot = "/mnt/unc";
    QByteArray TncCmd;
    QByteArray FocasLibrary;

    // RECORDFIELDS: element 0 unused, 1..NbBDFields.
    qint32 NbBDFields = 0;
    QList<RecordField> RecordFields{RecordField()};

    // RECORDFIELDS_FIXED
    QByteArray RefCartoucheMO;
    QByteArray RefCartoucheAppel;

    // WORKSHOP ACTIVITY: element 0 unused, 1..NbActivity.
    qint32 NbActivity = 0;
    QList<WorkshopActivity> Activities{WorkshopActivity()};

    // Index (from 1) of the first field flagged so, 0 when none is.
    int NumProgFieldIndex() const;
    int InfoProgFieldIndex() const;
    int UniqueIdFieldIndex() const;
};

// The process-wide settings.
Settings& Config();

} // namespace nodalis
