// INI reads and writes as the Windows private-profile functions do them, and
// the accessor with remembered context (clsIniVar) on top of them.

#include "platform/AnsiText.h"
#include "startup/IniFile.h"
#include "startup/clsIniVar.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QStringEncoder>
#include <QTemporaryDir>
#include <QTest>

using namespace nodalis;
using namespace Qt::StringLiterals;

class TestIniFile : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    int m_count = 0;

    QString file(const QByteArray& content)
    {
        const QString path = m_dir.filePath(u"f%1.ini"_s.arg(++m_count));
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly) || f.write(content) != content.size())
            qFatal("cannot write test file");
        return path;
    }

    static QByteArray contents(const QString& path)
    {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
    }

private slots:
    void read_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QByteArray>("section");
        QTest::addColumn<QByteArray>("key");
        QTest::addColumn<QByteArray>("expected");
        const auto row = [](const char* name, const QByteArray& content, const char* section,
                            const char* key, const QByteArray& expected) {
            QTest::newRow(name) << content << QByteArray(section) << QByteArray(key) << expected;
        };
        const QByteArray simple = "[DNC]\r\nRefMO=M1\r\nMethode=3\r\n";
        row("names without case", simple, "dnc", "REFMO", "M1");
        row("missing key gives default", simple, "DNC", "Nope", "<def>");
        row("missing section gives default", simple, "COMM", "RefMO", "<def>");
        row("value keeps its blanks", "[A]\nKey=  abc  \n", "A", "Key", "  abc  ");
        row("blanks around key and section name", "[  A  ]\n  Key   =v\n", "A", "Key", "v");
        row("value after the first equals", "[A]\nK=a=b\n", "A", "K", "a=b");
        row("double quotes removed", "[A]\nK=\" x \"\n", "A", "K", " x ");
        row("single quotes removed", "[A]\nK='x'\n", "A", "K", "x");
        row("unmatched quotes kept", "[A]\nK=\"x'\n", "A", "K", "\"x'");
        row("empty value is not the default", "[A]\nK=\n", "A", "K", "");
        row("bare key reads as missing", "[A]\nK\n", "A", "K", "<def>");
        row("first section wins", "[A]\nK=1\n[B]\nK=2\n[a]\nK=3\nL=4\n", "A", "K", "1");
        row("second section of a name unseen", "[A]\nK=1\n[a]\nL=4\n", "A", "L", "<def>");
        row("first key wins", "[A]\nK=1\nk=2\n", "A", "K", "1");
        row("comment line ignored", "[A]\n;K=1\nK=2\n", "A", "K", "2");
        row("lines before any section belong to none", "K=0\n[A]\n", "", "K", "<def>");
        row("empty brackets name a section", "K=0\n[]\nK=1\n", "", "K", "1");
        row("CR alone ends a line", "[A]\rK=1\rL=2", "A", "L", "2");
        row("open bracket without close is a key", "[A]\n[B\nK=1\n", "A", "K", "1");
        row("last close bracket ends the name", "[A]x]\nK=1\n", "A]x", "K", "1");
        row("NUL ends a value", QByteArray("[A]\nK=ab\0cd\n", 13), "A", "K", "ab");
        row("binary bytes pass", "[A]\nK=\xE9\x01\xFF\n", "A", "K", "\xE9\x01\xFF");
        row("section name with blank inside", "[WORKSHOP ACTIVITY]\nNbActivity=2\n",
            "workshop activity", "NbActivity", "2");
        row("value cut at 511", "[A]\nK=" + QByteArray(100000, 'x') + "\n", "A", "K",
            QByteArray(511, 'x'));
    }

    void read()
    {
        QFETCH(QByteArray, content);
        QFETCH(QByteArray, section);
        QFETCH(QByteArray, key);
        QFETCH(QByteArray, expected);
        QCOMPARE(FNReadIni(file(content), section, key, "<def>"), expected);
    }

    // Reads go through a cache of parsed files: a file that appears or
    // changes is read again.
    void fileComesAndChanges()
    {
        const QString path = m_dir.filePath(u"new.ini"_s);
        QCOMPARE(FNReadIni(path, "NODALIS", "PID", "d"), QByteArray("d"));
        QCOMPARE(FNReadIni(path, "NODALIS", "PID"), QByteArray());
        QVERIFY(WriteIni(path, "NODALIS", "PID", "1"));
        QCOMPARE(contents(path), QByteArray("[NODALIS]\r\nPID=1\r\n"));
        QCOMPARE(FNReadIni(path, "NODALIS", "PID"), QByteArray("1"));
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly) && f.write("[NODALIS]\nPID=22\n") > 0);
        f.close();
        QCOMPARE(FNReadIni(path, "NODALIS", "PID"), QByteArray("22"));
    }

    void section_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QByteArray>("expected");
        QTest::newRow("keys, bare and empty keys, values trimmed")
            << QByteArray("[A]\r\nK=1\r\n; note\r\n\r\nBare\r\n 'old = x \t\r\n = v\r\nN=a\0b\r\n"
                          "[B]\r\nZ=9\r\n",
                          62)
            << QByteArray("K=1\0Bare\0'old=x\0=v\0N=a\0", 23);
        QTest::newRow("empty section") << QByteArray("[A]\n\n[B]\nZ=9\n") << QByteArray();
    }

    void section()
    {
        QFETCH(QByteArray, content);
        QFETCH(QByteArray, expected);
        QCOMPARE(ReadIniSection(file(content), "A"), expected);
    }

    void sectionCutAtItsLimit()
    {
        QByteArray content = "[A]\n";
        for (int i = 0; i < 5000; ++i)
            content += "Key" + QByteArray::number(i) + "=value\n";
        const QByteArray text = ReadIniSection(file(content), "A");
        QCOMPARE(text.size(), IniSectionMax);
        QVERIFY(text.startsWith(QByteArray("Key0=value\0Key1=value\0", 22)));
    }

    void write_data()
    {
        QTest::addColumn<QByteArray>("before");
        QTest::addColumn<QByteArray>("section");
        QTest::addColumn<QByteArray>("key");
        QTest::addColumn<QByteArray>("value");
        QTest::addColumn<QByteArray>("after");
        const auto row = [](const char* name, const QByteArray& before, const char* section,
                            const char* key, const char* value, const QByteArray& after) {
            QTest::newRow(name) << before << QByteArray(section) << QByteArray(key)
                                << QByteArray(value) << after;
        };
        row("replace keeps everything else",
            "; top\r\n[NODALIS]\r\nPortListen=2000\r\n  PID = 12 \r\n\r\n[DNC]\r\nRefMO=M1\r\n",
            "nodalis", "pid", "345",
            "; top\r\n[NODALIS]\r\nPortListen=2000\r\n  PID =345\r\n\r\n[DNC]\r\nRefMO=M1\r\n");
        row("new key at end of its section, before blank lines",
            "[NODALIS]\r\nPortListen=2000\r\n\r\n[DNC]\r\nRefMO=M1\r\n", "NODALIS", "PID", "7",
            "[NODALIS]\r\nPortListen=2000\r\nPID=7\r\n\r\n[DNC]\r\nRefMO=M1\r\n");
        row("new key in last section without final line end", "[A]\nK=1", "A", "L", "2",
            "[A]\nK=1\nL=2\n");
        row("new key in an empty section", "[A]\r\n[B]\r\nX=1\r\n", "A", "K", "v",
            "[A]\r\nK=v\r\n[B]\r\nX=1\r\n");
        row("new section at the end", "[A]\r\nK=1\r\n", "NODALIS", "PID", "9",
            "[A]\r\nK=1\r\n[NODALIS]\r\nPID=9\r\n");
        row("bare key gets its value", "[A]\nK\nL=1\n", "A", "K", "v", "[A]\nK=v\nL=1\n");
        row("only the first of duplicated keys", "[A]\nK=1\nK=2\n", "A", "K", "3",
            "[A]\nK=3\nK=2\n");
        row("CR-only file keeps CR ends", "[A]\rK=1\r", "A", "L", "2", "[A]\rK=1\rL=2\r");
        row("empty value", "[A]\nK=1\n", "A", "K", "", "[A]\nK=\n");
    }

    void write()
    {
        QFETCH(QByteArray, before);
        QFETCH(QByteArray, section);
        QFETCH(QByteArray, key);
        QFETCH(QByteArray, value);
        QFETCH(QByteArray, after);
        // Synced or not, the same bytes.
        for (const IniFlush flush : {IniFlush::ToDisk, IniFlush::ToSystem}) {
            const QString path = file(before);
            QVERIFY(FNReadIni(path, section, key, "x") != value || value.isEmpty());
            QVERIFY(WriteIni(path, section, key, value, flush));
            QCOMPARE(contents(path), after);
            QCOMPARE(FNReadIni(path, section, key, "<def>"), value);
        }
    }

    // The unsynced write renames a new file over the old one: the file keeps
    // its mode, a link stays a link, and nothing is left beside it.
    void unsyncedWriteReplacesTheFileInPlace()
    {
        QTemporaryDir dir;
        const QString real = dir.filePath(u"real.ini"_s);
        const QString link = dir.filePath(u"Nodalis.ini"_s);
        QFile f(real);
        QVERIFY(f.open(QIODevice::WriteOnly) && f.write("[NODALIS]\r\nSocket=1\r\n") > 0);
        f.close();
        QVERIFY(f.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup |
                                 QFile::ReadOther));
        const QFile::Permissions mode = QFileInfo(real).permissions();
        QVERIFY(QFile::link(real, link));

        QVERIFY(WriteIni(link, "NODALIS", "Socket", "4100", IniFlush::ToSystem));
        QVERIFY(QFileInfo(link).isSymLink());
        QCOMPARE(contents(real), QByteArray("[NODALIS]\r\nSocket=4100\r\n"));
        QCOMPARE(QFileInfo(real).permissions(), mode);
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden | QDir::System),
                 (QStringList{u"Nodalis.ini"_s, u"real.ini"_s}));
    }

    void encodings_data()
    {
        QTest::addColumn<int>("encoding");
        QTest::newRow("UTF-16 LE") << int(QStringConverter::Utf16LE);
        QTest::newRow("UTF-16 BE") << int(QStringConverter::Utf16BE);
        QTest::newRow("UTF-8 with its mark") << int(QStringConverter::Utf8);
    }

    // Read as their single-byte twin (UTF-16 through Windows-1252: the euro
    // sign is byte 0x80); a write keeps the encoding, the mark and every
    // other character, even one the code page lacks.
    void encodings()
    {
        QFETCH(int, encoding);
        const auto encode = [&](const QString& text) {
            QStringEncoder encoder(QStringConverter::Encoding(encoding),
                                   QStringConverter::Flag::WriteBom);
            return QByteArray(encoder(text));
        };
        const bool wide = encoding != QStringConverter::Utf8;
        const QString before = QString::fromUtf8("; \u4E2D\r\n[NODALIS]\r\nRefMO= Fraiseuse \u20AC "
                                                 "\r\nPID=1\r\n");
        const QString path = file(encode(before));
        const QString twin = file(wide ? toAnsi(before) : before.toUtf8());
        for (const QByteArray key : {"RefMO", "PID"})
            QCOMPARE(FNReadIni(path, "nodalis", key), FNReadIni(twin, "nodalis", key));
        QCOMPARE(ReadIniSection(path, "NODALIS"), ReadIniSection(twin, "NODALIS"));

        const QString tour = QString::fromUtf8("Tour \u20AC");
        QVERIFY(WriteIni(path, "NODALIS", "PID", "42"));
        QVERIFY(WriteIni(path, "DNC", "RefMO", wide ? toAnsi(tour) : tour.toUtf8()));
        QCOMPARE(contents(path), encode(QString(before).replace(u"PID=1"_s, u"PID=42"_s) +
                                        u"[DNC]\r\nRefMO="_s + tour + u"\r\n"_s));
    }

    void writeFailsWithoutHarm()
    {
        // A value with a line break would add a line to the file.
        const QString path = file("[A]\nK=1\n");
        QVERIFY(!WriteIni(path, "A", "K", "1\r\nInjected=1"));
        QCOMPARE(contents(path), QByteArray("[A]\nK=1\n"));
        // A folder that does not exist is not created.
        QVERIFY(!WriteIni(m_dir.filePath(u"no/such/dir/x.ini"_s), "A", "K", "1"));
    }

    // The accessor: reads trimmed, "1" alone is true, an empty value reads
    // as missing, numbers are their leading decimal part, a key exists when
    // the raw section holds it followed by "=".
    void accessorReads_data()
    {
        QTest::addColumn<QByteArray>("read"); // Read, Bool, BoolDefTrue, Val or Exists
        QTest::addColumn<QByteArray>("section");
        QTest::addColumn<QByteArray>("key");
        QTest::addColumn<QByteArray>("expected");
        const auto row = [](const char* read, const char* section, const char* key,
                            const char* expected) {
            QTest::addRow("%s %s/%s", read, section, key)
                << QByteArray(read) << QByteArray(section) << QByteArray(key)
                << QByteArray(expected);
        };
        row("Read", "S", "Spaced", "abc");
        for (const char* key : {"T1", "T2", "T3"}) // true, yes, 2
            row("Bool", "S", key, "false");
        row("Bool", "S", "T4", "true"); // " 1 "
        row("BoolDefTrue", "S", "T5", "true");
        row("BoolDefTrue", "S", "Empty", "true");
        row("BoolDefTrue", "S", "Nope", "true");
        row("BoolDefTrue", "S", "T1", "false");
        row("Val", "S", "V1", "12.5");        // 12.5mm
        row("Val", "S", "V2", "0");           // abc
        row("Val", "S", "V3", "-325");        // blanks, sign, exponent
        row("Val", "S", "V4", "0.5");         // .5
        row("Val", "S", "V5", "1");           // a comma is not a decimal point
        row("Exists", "P1", "Port", "false"); // PortListen=1
        row("Exists", "P2", "Port", "true");  // NumPort=3
        row("Exists", "P2", "numport", "false");
        row("Exists", "NONE", "Port", "false");
    }

    void accessorReads()
    {
        QFETCH(QByteArray, read);
        QFETCH(QByteArray, section);
        QFETCH(QByteArray, key);
        QFETCH(QByteArray, expected);
        const QString path =
            file("[S]\r\nSpaced=  abc  \r\nT1=true\r\nT2=yes\r\nT3=2\r\nT4= 1 \r\n"
                 "T5=1\r\nEmpty=\r\nV1=12.5mm\r\nV2=abc\r\nV3=  -3.25e2x\r\n"
                 "V4=.5\r\nV5=1,5\r\n[P1]\r\nPortListen=1\r\n[P2]\r\nNumPort=3\r\n");
        clsIniVar ini;
        ini.Init(path, section, key, {});
        const auto text = [](bool b) { return QByteArray(b ? "true" : "false"); };
        QByteArray got;
        if (read == "Read")
            got = ini.Read();
        else if (read == "Bool")
            got = text(ini.ReadBool());
        else if (read == "BoolDefTrue")
            got = text(ini.ReadBoolDef(true));
        else if (read == "Val")
            got = QByteArray::number(ini.ReadVal());
        else
            got = text(ini.FNKeyExist());
        QCOMPARE(got, expected);
    }

    // Apostrophe lines left out, element 0 empty; writes default to the
    // properties, numbers in the locale's format (a decimal comma loses the
    // fraction on the way back), other sections untouched.
    void accessorSectionsAndWrites()
    {
        const QString path = file("[S]\r\nSpaced=  abc  \r\n[CANAUX]\r\n1=A\r\n'old=B\r\n2=C\r\n");
        clsIniVar ini;
        QCOMPARE(ini.ReadSectionInTab("CANAUX", path), (QList<QByteArray>{{}, "1=A", "2=C"}));
        QCOMPARE(ini.ReadSectionInTab("NONE", path), QList<QByteArray>{QByteArray()});
        ini.Init(path, "W", "Str", "fromProperty");
        ini.WriteStr();
        QCOMPARE(FNReadIni(path, "W", "Str"), QByteArray("fromProperty"));
        ini.WriteBool(true, "B1");
        ini.WriteBool(false, "B0");
        QCOMPARE(ini.Read("B1") + ini.Read("B0"), QByteArray("10"));
        ini.WriteVal(2500, "Whole");
        QCOMPARE(ini.ReadVal("Whole"), 2500.0);
        QLocale::setDefault(QLocale(QLocale::French, QLocale::France));
        ini.WriteVal(2.75, "Fraction");
        QLocale::setDefault(QLocale::c());
        QCOMPARE(ini.Read("Fraction"), QByteArray("2,75"));
        QCOMPARE(ini.ReadVal("Fraction"), 2.0);
        QCOMPARE(FNReadIni(path, "S", "Spaced"), QByteArray("  abc  "));
    }
};

QTEST_GUILESS_MAIN(TestIniFile)
#include "tst_inifile.moc"
