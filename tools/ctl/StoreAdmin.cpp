#include "ctl/StoreAdmin.h"

#include "platform/AnsiText.h"
#include "startup/AppPaths.h"
#include "startup/ConfigLoader.h"
#include "startup/Settings.h"
#include "store/FileUtils.h"
#include "store/ProgramDatabase.h"
#include "store/ProgramRecords.h"
#include "store/StoreSchema.h"
#include "store/TextUtils.h"

#include <QDir>
#include <QMap>

namespace nodalis::ctl {

namespace {

// What an add asks for.
struct NewProgram
{
    QByteArray machine;
    QByteArray call;
    QString file;
    QMap<int, QByteArray> fields;
    int downloadable = 0;
};

QString text(const QByteArray& ansiText)
{
    return fromAnsi(ansiText);
}

// Options of a sub-command: "--name value" pairs, --field repeated.
bool readOptions(const QStringList& args, QMap<QString, QStringList>& options, QString& error)
{
    for (int i = 1; i < args.size(); ++i) {
        if (!args[i].startsWith(QLatin1String("--")) || i + 1 >= args.size()) {
            error = QStringLiteral("unexpected %1").arg(args[i]);
            return false;
        }
        options[args[i]].append(args[i + 1]);
        ++i;
    }
    return true;
}

bool parseNewProgram(const QMap<QString, QStringList>& options, NewProgram& p, QString& error)
{
    for (auto it = options.cbegin(); it != options.cend(); ++it) {
        const QString& name = it.key();
        if (name == QLatin1String("--field"))
            continue;
        if (it.value().size() > 1) {
            error = name + QStringLiteral(" given twice");
            return false;
        }
        const QString& value = it.value().first();
        if (name == QLatin1String("--machine"))
            p.machine = toAnsi(value.trimmed());
        else if (name == QLatin1String("--call"))
            p.call = toAnsi(value.trimmed());
        else if (name == QLatin1String("--file"))
            p.file = value;
        else if (name == QLatin1String("--downloadable") &&
                 (value == QLatin1String("0") || value == QLatin1String("1")))
            p.downloadable = value.toInt();
        else {
            error = QStringLiteral("%1 %2 is not understood").arg(name, value);
            return false;
        }
    }
    for (const QString& field : options.value(QStringLiteral("--field"))) {
        const qsizetype eq = field.indexOf(QLatin1Char('='));
        bool ok = false;
        const int n = field.left(eq).toInt(&ok);
        if (eq < 0 || !ok || n < 1 || n > StoreFieldCount) {
            error =
                QStringLiteral("--field takes N=VALUE with N from 1 to %1").arg(StoreFieldCount);
            return false;
        }
        p.fields[n] = toAnsi(field.mid(eq + 1));
    }
    if (p.machine.isEmpty() || p.call.isEmpty() || p.file.isEmpty()) {
        error = QStringLiteral("add needs --machine, --call and --file");
        return false;
    }
    return true;
}

int addProgram(const NewProgram& p, QTextStream& out, QTextStream& err)
{
    if (!FileExists(p.file)) {
        err << "nodalisctl: no file " << p.file << Qt::endl;
        return StoreFailed;
    }
    ProgramDatabase db;
    if (!OpenProgramDatabase(ProgramDatabasePath(), db)) {
        err << "nodalisctl: cannot open the store (" << db.errorText() << "); run store init"
            << Qt::endl;
        return StoreFailed;
    }
    QString columns = QStringLiteral("RefMO, ProgAppel, Downloadable, EtatProg, Localisation");
    QString marks = QStringLiteral("?, ?, ?, 0, 0");
    QVariantList values{SqlText(p.machine), SqlText(p.call), p.downloadable};
    for (auto it = p.fields.cbegin(); it != p.fields.cend(); ++it) {
        columns += QStringLiteral(", Champ%1").arg(it.key());
        marks += QStringLiteral(", ?");
        values << SqlText(it.value());
    }
    // The text is filed before the record is committed: a program is never
    // listed without its text.
    qint64 code = 0;
    QString textPath;
    const bool added = db.write([&] {
        QSqlQuery q;
        if (!db.exec(q,
                     QStringLiteral("INSERT INTO PROGRAMME (%1) VALUES (%2)").arg(columns, marks),
                     values))
            return false;
        code = db.insertedKey(q);
        textPath = ProgramFilePath(ProgramTextPath, qint32(code));
        MakeFolders(FolderOf(textPath));
        return code >= 1 && CopyFile(p.file, textPath);
    });
    if (!added) {
        if (code >= 1 && !textPath.isEmpty())
            DeleteFile(textPath);
        err << "nodalisctl: the program could not be added: " << db.errorText() << Qt::endl;
        return StoreFailed;
    }
    out << code << Qt::endl;
    return StoreDone;
}

int listPrograms(const QMap<QString, QStringList>& options, QTextStream& out, QTextStream& err)
{
    const QStringList names = options.keys();
    const bool onlyMachine =
        names.isEmpty() ||
        (names == QStringList{QStringLiteral("--machine")} && options.first().size() == 1);
    if (!onlyMachine) {
        err << "nodalisctl: list takes --machine M only" << Qt::endl;
        return StoreUsage;
    }
    ProgramDatabase db;
    if (!OpenProgramDatabase(ProgramDatabasePath(), db)) {
        err << "nodalisctl: cannot open the store (" << db.errorText() << ")" << Qt::endl;
        return StoreFailed;
    }
    QString sql = QStringLiteral("SELECT * FROM PROGRAMME");
    QVariantList values;
    if (options.contains(QStringLiteral("--machine"))) {
        sql += QStringLiteral(" WHERE RefMO=?");
        values << SqlText(toAnsi(options.value(QStringLiteral("--machine")).first().trimmed()));
    }
    QSqlQuery q;
    if (!db.exec(q, sql + QStringLiteral(" ORDER BY CodeProg"), values)) {
        err << "nodalisctl: " << db.errorText() << Qt::endl;
        return StoreFailed;
    }
    out << "CodeProg\tRefMO\tProgAppel\tDownloadable\tEtatProg" << Qt::endl;
    while (q.next()) {
        const ProgramRecord r = ProgramRecordOf(q);
        out << r.CodeProg << '\t' << text(r.RefMO) << '\t' << text(r.ProgAppel) << '\t'
            << r.Downloadable << '\t' << r.EtatProg << Qt::endl;
    }
    return StoreDone;
}

int showProgram(const QString& codeText, QTextStream& out, QTextStream& err)
{
    bool ok = false;
    const qint32 code = codeText.toInt(&ok);
    if (!ok || code < 1) {
        err << "nodalisctl: show takes a program code" << Qt::endl;
        return StoreUsage;
    }
    const ProgramRecord r = ReadProgramRecord(code);
    if (r.CodeProg == 0) {
        err << "nodalisctl: no program " << code << " in the store" << Qt::endl;
        return StoreFailed;
    }
    out << "CodeProg: " << r.CodeProg << "\nRefMO: " << text(r.RefMO)
        << "\nProgAppel: " << text(r.ProgAppel) << "\nDownloadable: " << r.Downloadable
        << "\nEtatProg: " << r.EtatProg << "\nLocalisation: " << r.Localisation
        << "\nDdu: " << text(r.Ddu) << "\nPar: " << text(r.Par) << '\n';
    const Settings& s = Config();
    for (int i = 1; i <= StoreFieldCount; ++i) {
        if (r.Champ[i].isEmpty())
            continue;
        out << "Champ" << i;
        if (i < s.RecordFields.size() && !s.RecordFields[i].RefChamp.isEmpty())
            out << " (" << text(s.RecordFields[i].RefChamp) << ')';
        out << ": " << text(r.Champ[i]) << '\n';
    }
    const QString path = ProgramFilePath(ProgramTextPath, code);
    out << "Text: " << QDir::toNativeSeparators(path)
        << (FileExists(path) ? " (present)" : " (missing)") << Qt::endl;
    return StoreDone;
}

} // namespace

QString StoreUsageText()
{
    return QStringLiteral(
        "  store init                 create the program store of --base DIR (PathData)\n"
        "  store add --machine M --call NAME --file F [--field N=VALUE]... [--downloadable 1]\n"
        "                             add a program, print its CodeProg, file its text\n"
        "                             (--downloadable 1 marks it refused to calls: 516)\n"
        "  store list [--machine M]   the programs of the store\n"
        "  store show CODE            one program and its text file\n");
}

int RunStoreCommand(const QString& baseFolder, const QStringList& args, QTextStream& out,
                    QTextStream& err)
{
    if (baseFolder.isEmpty() || args.isEmpty()) {
        err << "nodalisctl: store needs --base DIR and init, add, list or show" << Qt::endl;
        return StoreUsage;
    }
    Paths().setBaseFolder(QDir(baseFolder).absolutePath());
    Config() = Settings();
    if (!ReadConfiguration(Paths().configPath, Config()).loaded) {
        err << "nodalisctl: no Nodalis.ini in " << baseFolder << Qt::endl;
        return StoreFailed;
    }
    const QString& command = args.first();
    QMap<QString, QStringList> options;
    QString error;
    const bool single = command == QLatin1String("init") || command == QLatin1String("show");
    if (!single && !readOptions(args, options, error)) {
        err << "nodalisctl: store " << command << ": " << error << Qt::endl;
        return StoreUsage;
    }
    if (command == QLatin1String("init")) {
        if (args.size() != 1) {
            err << "nodalisctl: store init takes no arguments" << Qt::endl;
            return StoreUsage;
        }
        if (!CreateStore(&error)) {
            err << "nodalisctl: " << error << Qt::endl;
            return StoreFailed;
        }
        out << "store ready: " << StoreLocation() << Qt::endl;
        return StoreDone;
    }
    if (command == QLatin1String("add")) {
        NewProgram p;
        if (!parseNewProgram(options, p, error)) {
            err << "nodalisctl: store add: " << error << Qt::endl;
            return StoreUsage;
        }
        return addProgram(p, out, err);
    }
    if (command == QLatin1String("list"))
        return listPrograms(options, out, err);
    if (command == QLatin1String("show") && args.size() == 2)
        return showProgram(args[1], out, err);
    err << "nodalisctl: store " << args.join(QLatin1Char(' ')) << " is not understood" << Qt::endl;
    return StoreUsage;
}

} // namespace nodalis::ctl
