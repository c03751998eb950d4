#include "store/FileUtils.h"

#include "startup/AppPaths.h"
#include "store/TextUtils.h"
#include "support/ScriptedPrompt.h"

#include <QDir>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace nodalis;
using namespace Qt::StringLiterals;

namespace {

void writeFile(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

QByteArray readFile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

// Line ends as the line-by-line rule gives them, to check the streamed version:
// a line ends at CR or CR LF, each LF inside it becomes CR LF, and a line
// whose text ends with LF gets no second end.
QByteArray crLfReference(const QByteArray& in)
{
    QByteArray out;
    QByteArray line;
    for (qsizetype i = 0; i < in.size() || !line.isEmpty(); ++i) {
        if (i < in.size() && in[i] != '\r') {
            line += in[i];
            continue;
        }
        out += line.replace("\n", "\r\n") + (line.endsWith('\n') ? "" : "\r\n");
        line.clear();
        if (i + 1 < in.size() && in[i + 1] == '\n')
            ++i;
    }
    return out;
}

} // namespace

class TestFileUtils : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
        Paths().setBaseFolder(at(u"base"_s));
    }

    void readWholeFile()
    {
        ScriptedPrompt prompt;
        // A program's bytes come back as they are: CR LF, an end-of-file mark, NUL, 0xFF.
        const char raw[] = "%\r\nO1(\xe9)\r\nM30\r\n\x1a\0\xff";
        const QByteArray content(raw, sizeof raw - 1);
        writeFile(at(u"P1.NC"_s), content);
        QFile file;
        QByteArray text;
        QVERIFY(ReadWholeFile(at(u"P1.NC"_s), file, text));
        QCOMPARE(text, content);
        QVERIFY(prompt.messages().isEmpty());
        QFile none;
        QVERIFY(!ReadWholeFile(at(u"missing.nc"_s), none, text));
        QCOMPARE(prompt.messages().size(), 1); // the operator hears of a failure
    }

    void readOrWriteFile()
    {
        const QString path = at(u"new/folder/P1.NC"_s);
        QByteArray text("G0 X1");
        QVERIFY(ReadOrWriteFile(2, path, text));
        QCOMPARE(readFile(path), QByteArray("G0 X1\r\n"));

        writeFile(path, "");
        QByteArray back("stale");
        QVERIFY(ReadOrWriteFile(ReadDirection, path, back));
        QCOMPARE(back, QByteArray());
        QFile empty;
        QVERIFY(!OpenForRead(path, FileMode::TextInput, empty)); // an empty program is no program
        QVERIFY(!ReadOrWriteFile(ReadDirection, at(u"missing.nc"_s), back));
    }

    void copyFile_data()
    {
        QTest::addColumn<QString>("source");      // relative; "src" is written before the copy
        QTest::addColumn<QString>("destination"); // relative; "dst" holds "OLD" before the copy
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<bool>("ok");
        QByteArray big(3 * 1024 * 1024 + 17, Qt::Uninitialized);
        for (qsizetype i = 0; i < big.size(); ++i)
            big[i] = char((i * 7 + i / 251) & 0xff);

        QTest::newRow("new file") << u"src"_s << u"other"_s << QByteArray("NEW") << true;
        QTest::newRow("overwrites, several chunks") << u"src"_s << u"dst"_s << big << true;
        QTest::newRow("onto itself") << u"src"_s << u"src"_s << QByteArray("SAME") << true;
        QTest::newRow("missing source") << u"none"_s << u"dst"_s << QByteArray() << false;
        QTest::newRow("no destination folder")
            << u"src"_s << u"no/dst"_s << QByteArray("X") << false;
    }

    void copyFile()
    {
        QFETCH(QString, source);
        QFETCH(QString, destination);
        QFETCH(QByteArray, content);
        QFETCH(bool, ok);
        // The working-file copy keeps the same rules, without the disk wait.
        for (const auto copy : {&CopyFile, &CopyScratchFile}) {
            writeFile(at(u"src"_s), content);
            writeFile(at(u"dst"_s), "OLD");
            QFile::remove(at(u"other"_s));
            QCOMPARE(copy(at(source), at(destination)), ok);
            if (ok)
                QCOMPARE(readFile(at(destination)), content);
            else
                QCOMPARE(readFile(at(u"dst"_s)), QByteArray("OLD"));
            // Nothing half-written is left beside the destination.
            QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files).size(),
                     destination == u"other"_s ? 3 : 2);
        }
    }

    void renameOver_data()
    {
        QTest::addColumn<QString>("destination"); // "dst" holds "OLD", "link" points to it
        QTest::addColumn<bool>("ok");
        QTest::newRow("replaced") << u"dst"_s << true;
        QTest::newRow("link kept, its target replaced") << u"link"_s << true;
        QTest::newRow("folder refused") << u"sub"_s << false;
    }

    void renameOver()
    {
        QFETCH(QString, destination);
        QFETCH(bool, ok);
        writeFile(at(u"src"_s), "NEW");
        writeFile(at(u"dst"_s), "OLD");
        const auto mode = QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup;
        QVERIFY(QFile::setPermissions(at(u"dst"_s), mode));
        QVERIFY(QFile::link(at(u"dst"_s), at(u"link"_s)));
        QDir().mkpath(at(u"sub"_s));
        QCOMPARE(RenameOver(at(u"src"_s), at(destination)), ok);
        QCOMPARE(FileExists(at(u"src"_s)), !ok);
        QCOMPARE(readFile(at(destination == u"sub"_s ? u"dst"_s : destination)),
                 QByteArray(ok ? "NEW" : "OLD"));
        QVERIFY(QFileInfo(at(u"link"_s)).isSymLink());
        // The replaced file keeps its permissions, as a copy onto it would.
        if (ok)
            QCOMPARE(QFile::permissions(at(u"dst"_s)) & 0x7077, mode); // owner, group, others
    }

    void copyAndDeleteFolder()
    {
        writeFile(at(u"from/a.nc"_s), "A");
        writeFile(at(u"from/Sub/b.nc"_s), "B");
        writeFile(at(u"to/a.nc"_s), "OLD");
        QDir().mkpath(at(u"from/Empty"_s));
        QDir().mkpath(at(u"from/alpha"_s));

        QVERIFY(CopyFolder(at(u"from"_s), at(u"to"_s)));
        QCOMPARE(readFile(at(u"to/a.nc"_s)), QByteArray("A"));
        QCOMPARE(readFile(at(u"to/Sub/b.nc"_s)), QByteArray("B"));
        QCOMPARE(ListSubFolders(at(u"to"_s)), QStringList({u"alpha"_s, u"Empty"_s, u"Sub"_s}));

        QVERIFY(!CopyFolder(at(u"missing"_s), at(u"to2"_s)));
        QVERIFY(!FolderExists(at(u"to2"_s)));
        QVERIFY(!CopyFolder(at(u"from"_s), at(u"from/Sub/copy"_s))); // would never end
        QVERIFY(!FolderExists(at(u"from/Sub/copy"_s)));

        QVERIFY(DeleteFolder(at(u"to"_s) + QDir::separator()));
        QVERIFY(!FolderExists(at(u"to"_s)));

        // A blank name must not mean the current folder.
        const QString previous = QDir::currentPath();
        const auto restore = qScopeGuard([&] { QDir::setCurrent(previous); });
        QDir::setCurrent(at(u"from"_s));
        QVERIFY(!DeleteFolder(u"  "_s));
        QVERIFY(FileExists(at(u"from/a.nc"_s)));
    }

    void findFileInTree_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("recurse");
        QTest::addColumn<QString>("found"); // relative to the tree; empty when not found
        QTest::newRow("in the folder") << u"TOP.nc"_s << false << u"top.NC"_s;
        QTest::newRow("below, not recursing") << u"deep.nc"_s << false << QString();
        QTest::newRow("below, any case") << u"DEEP.nc"_s << true << u"Sub1/deep.NC"_s;
        QTest::newRow("two levels down") << u"target.NC"_s << true << u"sub2/inner/Target.nc"_s;
        QTest::newRow("folder is not a file") << u"inner"_s << true << QString();
        QTest::newRow("missing") << u"none.nc"_s << true << QString();
    }

    void findFileInTree()
    {
        QFETCH(QString, name);
        QFETCH(bool, recurse);
        QFETCH(QString, found);
        for (const auto* file :
             {u"tree/top.NC", u"tree/Sub1/deep.NC", u"tree/sub2/inner/Target.nc"})
            writeFile(at(QString::fromUtf16(file)), "X");
        QString path;
        QCOMPARE(FindFileInTree(at(u"tree"_s), name, recurse, path), !found.isEmpty());
        if (!found.isEmpty())
            QCOMPARE(QDir::fromNativeSeparators(path), at(u"tree/"_s + found));
    }

    void confinedPath_data()
    {
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("found"); // the file it really is; empty when refused
        QTest::newRow("plain") << u"progs"_s << u"O1"_s << u"progs/O1"_s;
        QTest::newRow("link inside") << u"progs"_s << u"IN"_s << u"progs/O1"_s;
        QTest::newRow("folder given by a link") << u"linked"_s << u"O1"_s << u"progs/O1"_s;
        QTest::newRow("link leading out") << u"progs"_s << u"OUT"_s << QString();
        QTest::newRow("folder sharing its start") << u"progs"_s << u"../progs2/O2"_s << QString();
        QTest::newRow("link to nothing") << u"progs"_s << u"NONE"_s << QString();
    }

    void confinedPath()
    {
        QFETCH(QString, folder);
        QFETCH(QString, name);
        QFETCH(QString, found);
        writeFile(at(u"progs/O1"_s), "X");
        writeFile(at(u"progs2/O2"_s), "X");
        QFile::link(at(u"progs/O1"_s), at(u"progs/IN"_s));
        QFile::link(at(u"progs2/O2"_s), at(u"progs/OUT"_s));
        QFile::link(at(u"progs/gone"_s), at(u"progs/NONE"_s));
        QFile::link(at(u"progs"_s), at(u"linked"_s));
        const QString expected = found.isEmpty() ? found : QFileInfo(at(found)).canonicalFilePath();
        QCOMPARE(ConfinedPath(at(folder), name), expected);
        QCOMPARE(
            IsInsideFolders(at(folder + u'/' + name), {u" "_s, at(u"progs2/O2"_s), at(folder)}),
            !found.isEmpty());
    }

    void listFilesLike()
    {
        for (const auto* name : {u"ISO.txt", u"ISO.bak", u"iso.H", u"ISO", u"ISO2.txt", u"ISOX.nc"})
            writeFile(at(QString::fromUtf16(name)), "X");
        const QString prefix = m_dir->path() + u'/';
        QCOMPARE(ListFilesLike(prefix + u"ISO.txt"_s),
                 QStringList({prefix + u"ISO"_s, prefix + u"ISO.bak"_s, prefix + u"iso.H"_s}));
    }

    void nextVersionName_data()
    {
        QTest::addColumn<QStringList>("existing");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("expected");
        const QString iso = u"ISO00042.txt"_s;
        QTest::newRow("after highest")
            << QStringList({iso, u"ISO00042_1.txt"_s, u"ISO00042_7.txt"_s}) << iso
            << u"ISO00042_8.txt"_s;
        QTest::newRow("any case") << QStringList({u"iso00042_3.TXT"_s}) << iso
                                  << u"ISO00042_4.txt"_s;
        QTest::newRow("other extension")
            << QStringList({u"ISO00042_9.nc"_s}) << iso << u"ISO00042_1.txt"_s;
        QTest::newRow("not a number")
            << QStringList({u"ISO00042_x.txt"_s}) << iso << u"ISO00042_1.txt"_s;
        QTest::newRow("double extension")
            << QStringList({u"A_2.B.txt"_s}) << u"A.B.txt"_s << u"A_3.B.txt"_s;
        QTest::newRow("no extension") << QStringList({u"P1"_s, u"P1_2"_s}) << u"P1"_s << u"P1_3"_s;
    }

    void nextVersionName()
    {
        QFETCH(QStringList, existing);
        QFETCH(QString, name);
        QFETCH(QString, expected);
        for (const QString& file : existing)
            writeFile(at(u"v/"_s + file), "X");
        QDir().mkpath(at(u"v"_s));
        QCOMPARE(NextVersionName(at(u"v/"_s + name)), at(u"v/"_s + expected));
    }

    void newTempFile()
    {
        const QByteArray previous = qgetenv("TMPDIR");
        const auto restore = qScopeGuard([&] { qputenv("TMPDIR", previous); });
        qputenv("TMPDIR", QFile::encodeName(m_dir->path()));
        const QString folder = QDir::toNativeSeparators(m_dir->path()) + QDir::separator();
        QCOMPARE(TempFolder(), folder);

        const QString made = NewTempFile();
        QVERIFY(made != NewTempFile());
        QCOMPARE(FolderOf(made) + QDir::separator(), folder);
        QVERIFY2(QRegularExpression(u"^tst[0-9A-F]+\\.TMP$"_s).match(FileNameOf(made)).hasMatch(),
                 qPrintable(made));
        QCOMPARE(readFile(made), QByteArray(""));

        const QString named = NewTempFile(u"nc"_s);
        const auto match = QRegularExpression(u"^TST([0-9A-F]+)\\.nc$"_s).match(FileNameOf(named));
        QVERIFY2(match.hasMatch(), qPrintable(named));
        QVERIFY(!QFileInfo::exists(named));
        QVERIFY(QFileInfo::exists(folder + u"tst"_s + match.captured(1) + u".TMP"_s));
    }

    void normaliseLineEnds_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QByteArray>("expected");
        QTest::newRow("CR LF kept") << QByteArray("A\r\nB\r\n") << QByteArray("A\r\nB\r\n");
        QTest::newRow("mixed, last line open")
            << QByteArray("A\r\nB\nC") << QByteArray("A\r\nB\r\nC\r\n");
        QTest::newRow("empty lines") << QByteArray("A\n\n\r\n") << QByteArray("A\r\n\r\n");
        QTest::newRow("lone CR") << QByteArray("A\rB") << QByteArray("A\r\nB\r\n");
        QTest::newRow("empty file") << QByteArray("") << QByteArray("");

        // Big enough for several chunks, so that CR and LF fall on chunk boundaries.
        QRandomGenerator random(42);
        QByteArray big;
        for (int i = 0; i < 1500000; ++i)
            big += "AB\r\n\n\r"[random.bounded(6)];
        // A CR LF across every power-of-two boundary, whatever the chunk size.
        for (int k = 10; k <= 20; ++k) {
            big[(1 << k) - 1] = '\r';
            big[1 << k] = '\n';
        }
        QTest::newRow("several chunks") << big << crLfReference(big);
        // Written on Linux: LF alone, in runs and at every offset of a block.
        QByteArray lfOnly;
        for (int i = 0; i < 1500000; ++i)
            lfOnly += "AB \n"[random.bounded(4)];
        QTest::newRow("LF only, several chunks") << lfOnly << crLfReference(lfOnly);

        // Right lines, then a wrong line end opening a line where a chunk ends
        // (a power of two): the right lines are kept as they are, once.
        const auto right = [](qsizetype size) {
            QByteArray text;
            for (int n = 1; text.size() < size - 40; ++n)
                text += "N" + QByteArray::number(n * 10) + " G1 X5\r\n";
            return text + QByteArray(size - 2 - text.size(), 'X') + "\r\n";
        };
        const QByteArray loneCr = right((1 << 18) - 1) + "\rY\r\nZ\r\n";
        QTest::newRow("lone CR ending a chunk") << loneCr << crLfReference(loneCr);
        const QByteArray bareLf = right(1 << 18) + "\nY\r\n";
        QTest::newRow("bare LF opening a chunk") << bareLf << crLfReference(bareLf);
    }

    void normaliseLineEnds()
    {
        QFETCH(QByteArray, content);
        QFETCH(QByteArray, expected);
        const QString path = at(u"P1.NC"_s);
        writeFile(path, content);
        QVERIFY(NormaliseLineEnds(path));
        QCOMPARE(readFile(path), expected);
        QVERIFY(!NormaliseLineEnds(at(u"missing.nc"_s)));
    }

    void concatFiles_data()
    {
        QTest::addColumn<QStringList>("sources"); // "dst" holds "D" beforehand
        QTest::addColumn<bool>("ok");
        QTest::addColumn<QByteArray>("result");
        QTest::newRow("in order, blanks skipped")
            << QStringList({u"b"_s, QString(), u"  "_s, u"a"_s}) << true
            << QByteArray("B\x1a\r\nA\n");
        QTest::newRow("destination among sources")
            << QStringList({u"dst"_s, u"a"_s, u"dst"_s}) << true << QByteArray("DA\nD");
        QTest::newRow("unreadable source")
            << QStringList({u"a"_s, u"none"_s}) << false << QByteArray("D");
        QTest::newRow("no source") << QStringList({u" "_s}) << false << QByteArray("D");
    }

    void concatFiles()
    {
        QFETCH(QStringList, sources);
        QFETCH(bool, ok);
        QFETCH(QByteArray, result);
        writeFile(at(u"a"_s), "A\n");
        writeFile(at(u"b"_s), "B\x1a\r\n");
        writeFile(at(u"dst"_s), "D");
        QStringList paths;
        for (const QString& source : sources)
            paths << (source.trimmed().isEmpty() ? source : at(source));
        QCOMPARE(ConcatFilesByBatch(paths, at(u"dst"_s)), ok);
        QCOMPARE(readFile(at(u"dst"_s)), result);
    }

private:
    QString at(const QString& relative) const { return m_dir->filePath(relative); }
    std::unique_ptr<QTemporaryDir> m_dir;
};

QTEST_GUILESS_MAIN(TestFileUtils)
#include "tst_fileutils.moc"
