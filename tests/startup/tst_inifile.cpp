// INI reads and writes as the Windows private-profile functions do them.

#include "platform/AnsiText.h"
#include "startup/IniFile.h"

#include <QFile>
#include <QStringEncoder>
#include <QTemporaryDir>
#include <QTest>

using namespace nodalis;

class TestIniFile : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    int m_count = 0;

    QString file(const QByteArray& content)
    {
        const QString path = m_dir.filePath(QStringLiteral("f%1.ini").arg(++m_count));
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

        const QByteArray simple = "[DNC]\r\nRefMO=M1\r\nMethode=3\r\n";
        QTest::newRow("plain") << simple << QByteArray("DNC") << QByteArray("RefMO")
                               << QByteArray("M1");
        QTest::newRow("names without case")
            << simple << QByteArray("dnc") << QByteArray("REFMO") << QByteArray("M1");
        QTest::newRow("missing key gives default")
            << simple << QByteArray("DNC") << QByteArray("Nope") << QByteArray("<def>");
        QTest::newRow("missing section gives default")
            << simple << QByteArray("COMM") << QByteArray("RefMO") << QByteArray("<def>");
        QTest::newRow("value keeps its blanks")
            << QByteArray("[A]\nKey=  abc  \n") << QByteArray("A") << QByteArray("Key")
            << QByteArray("  abc  ");
        QTest::newRow("blanks around key and section name")
            << QByteArray("[  A  ]\n  Key   =v\n") << QByteArray("A") << QByteArray("Key")
            << QByteArray("v");
        QTest::newRow("value after the first equals")
            << QByteArray("[A]\nK=a=b\n") << QByteArray("A") << QByteArray("K")
            << QByteArray("a=b");
        QTest::newRow("double quotes removed") << QByteArray("[A]\nK=\" x \"\n") << QByteArray("A")
                                               << QByteArray("K") << QByteArray(" x ");
        QTest::newRow("single quotes removed")
            << QByteArray("[A]\nK='x'\n") << QByteArray("A") << QByteArray("K") << QByteArray("x");
        QTest::newRow("unmatched quotes kept") << QByteArray("[A]\nK=\"x'\n") << QByteArray("A")
                                               << QByteArray("K") << QByteArray("\"x'");
        QTest::newRow("empty value is not the default")
            << QByteArray("[A]\nK=\n") << QByteArray("A") << QByteArray("K") << QByteArray("");
        QTest::newRow("bare key reads as missing")
            << QByteArray("[A]\nK\n") << QByteArray("A") << QByteArray("K") << QByteArray("<def>");
        QTest::newRow("first section wins")
            << QByteArray("[A]\nK=1\n[B]\nK=2\n[a]\nK=3\nL=4\n") << QByteArray("A")
            << QByteArray("K") << QByteArray("1");
        QTest::newRow("second section of a name unseen")
            << QByteArray("[A]\nK=1\n[a]\nL=4\n") << QByteArray("A") << QByteArray("L")
            << QByteArray("<def>");
        QTest::newRow("first key wins") << QByteArray("[A]\nK=1\nk=2\n") << QByteArray("A")
                                        << QByteArray("K") << QByteArray("1");
        QTest::newRow("comment line ignored") << QByteArray("[A]\n;K=1\nK=2\n") << QByteArray("A")
                                              << QByteArray("K") << QByteArray("2");
        QTest::newRow("lines before any section belong to none")
            << QByteArray("K=0\n[A]\n") << QByteArray("") << QByteArray("K") << QByteArray("<def>");
        QTest::newRow("empty brackets name a section")
            << QByteArray("K=0\n[]\nK=1\n") << QByteArray("") << QByteArray("K") << QByteArray("1");
        QTest::newRow("CR alone ends a line")
            << QByteArray("[A]\rK=1\rL=2") << QByteArray("A") << QByteArray("L") << QByteArray("2");
        QTest::newRow("LF alone ends a line") << QByteArray("[A]\nK=1\nL=2\n") << QByteArray("A")
                                              << QByteArray("K") << QByteArray("1");
        QTest::newRow("open bracket without close is a key")
            << QByteArray("[A]\n[B\nK=1\n") << QByteArray("A") << QByteArray("K")
            << QByteArray("1");
        QTest::newRow("last close bracket ends the name")
            << QByteArray("[A]x]\nK=1\n") << QByteArray("A]x") << QByteArray("K")
            << QByteArray("1");
        QTest::newRow("NUL ends a value") << QByteArray("[A]\nK=ab\0cd\n", 13) << QByteArray("A")
                                          << QByteArray("K") << QByteArray("ab");
        QTest::newRow("binary bytes pass") << QByteArray("[A]\nK=\xE9\x01\xFF\n") << QByteArray("A")
                                           << QByteArray("K") << QByteArray("\xE9\x01\xFF");
        QTest::newRow("section name with blank inside")
            << QByteArray("[WORKSHOP ACTIVITY]\nNbActivity=2\n") << QByteArray("workshop activity")
            << QByteArray("NbActivity") << QByteArray("2");
        QTest::newRow("value cut at 511")
            << QByteArray("[A]\nK=" + QByteArray(100000, 'x') + "\n") << QByteArray("A")
            << QByteArray("K") << QByteArray(511, 'x');
    }

    void read()
    {
        QFETCH(QByteArray, content);
        QFETCH(QByteArray, section);
        QFETCH(QByteArray, key);
        QFETCH(QByteArray, expected);
        QCOMPARE(FNReadIni(file(content), section, key, "<def>"), expected);
    }

    void readMissingFileGivesDefault()
    {
        QCOMPARE(FNReadIni(m_dir.filePath(QStringLiteral("none.ini")), "A", "K", "d"),
                 QByteArray("d"));
        QCOMPARE(FNReadIni(m_dir.filePath(QStringLiteral("none.ini")), "A", "K"), QByteArray());
    }

    void readSeesChangesToTheFile()
    {
        const QString path = file("[A]\nK=1\n");
        QCOMPARE(FNReadIni(path, "A", "K"), QByteArray("1"));
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("[A]\nK=22\n");
        f.close();
        QCOMPARE(FNReadIni(path, "A", "K"), QByteArray("22"));
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
        QTest::newRow("missing section") << QByteArray("[B]\nZ=9\n") << QByteArray();
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

        QTest::newRow("replace keeps everything else")
            << QByteArray("; top\r\n[NODALIS]\r\nPortListen=2000\r\n  PID = 12 "
                          "\r\n\r\n[DNC]\r\nRefMO=M1\r\n")
            << QByteArray("nodalis") << QByteArray("pid") << QByteArray("345")
            << QByteArray("; top\r\n[NODALIS]\r\nPortListen=2000\r\n  PID "
                          "=345\r\n\r\n[DNC]\r\nRefMO=M1\r\n");
        QTest::newRow("new key at end of its section, before blank lines")
            << QByteArray("[NODALIS]\r\nPortListen=2000\r\n\r\n[DNC]\r\nRefMO=M1\r\n")
            << QByteArray("NODALIS") << QByteArray("PID") << QByteArray("7")
            << QByteArray("[NODALIS]\r\nPortListen=2000\r\nPID=7\r\n\r\n[DNC]\r\nRefMO=M1\r\n");
        QTest::newRow("new key in last section without final line end")
            << QByteArray("[A]\nK=1") << QByteArray("A") << QByteArray("L") << QByteArray("2")
            << QByteArray("[A]\nK=1\nL=2\n");
        QTest::newRow("new key in an empty section")
            << QByteArray("[A]\r\n[B]\r\nX=1\r\n") << QByteArray("A") << QByteArray("K")
            << QByteArray("v") << QByteArray("[A]\r\nK=v\r\n[B]\r\nX=1\r\n");
        QTest::newRow("new section at the end")
            << QByteArray("[A]\r\nK=1\r\n") << QByteArray("NODALIS") << QByteArray("PID")
            << QByteArray("9") << QByteArray("[A]\r\nK=1\r\n[NODALIS]\r\nPID=9\r\n");
        QTest::newRow("bare key gets its value")
            << QByteArray("[A]\nK\nL=1\n") << QByteArray("A") << QByteArray("K") << QByteArray("v")
            << QByteArray("[A]\nK=v\nL=1\n");
        QTest::newRow("only the first of duplicated keys")
            << QByteArray("[A]\nK=1\nK=2\n") << QByteArray("A") << QByteArray("K")
            << QByteArray("3") << QByteArray("[A]\nK=3\nK=2\n");
        QTest::newRow("CR-only file keeps CR ends")
            << QByteArray("[A]\rK=1\r") << QByteArray("A") << QByteArray("L") << QByteArray("2")
            << QByteArray("[A]\rK=1\rL=2\r");
        QTest::newRow("empty value")
            << QByteArray("[A]\nK=1\n") << QByteArray("A") << QByteArray("K") << QByteArray("")
            << QByteArray("[A]\nK=\n");
    }

    void write()
    {
        QFETCH(QByteArray, before);
        QFETCH(QByteArray, section);
        QFETCH(QByteArray, key);
        QFETCH(QByteArray, value);
        QFETCH(QByteArray, after);
        const QString path = file(before);
        QVERIFY(FNReadIni(path, section, key, "x") != value || value.isEmpty());
        QVERIFY(WriteIni(path, section, key, value));
        QCOMPARE(contents(path), after);
        QCOMPARE(FNReadIni(path, section, key, "<def>"), value);
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
        QCOMPARE(contents(path),
                 encode(QString(before).replace(QStringLiteral("PID=1"), QStringLiteral("PID=42")) +
                        QStringLiteral("[DNC]\r\nRefMO=") + tour + QStringLiteral("\r\n")));
    }

    void writeCreatesTheFile()
    {
        const QString path = m_dir.filePath(QStringLiteral("new.ini"));
        QVERIFY(WriteIni(path, "NODALIS", "PID", "1"));
        QCOMPARE(contents(path), QByteArray("[NODALIS]\r\nPID=1\r\n"));
    }

    void writeFailsWithoutHarm()
    {
        // A value with a line break would add a line to the file.
        const QString path = file("[A]\nK=1\n");
        QVERIFY(!WriteIni(path, "A", "K", "1\r\nInjected=1"));
        QCOMPARE(contents(path), QByteArray("[A]\nK=1\n"));
        // A folder that does not exist is not created.
        QVERIFY(!WriteIni(m_dir.filePath(QStringLiteral("no/such/dir/x.ini")), "A", "K", "1"));
    }
};

QTEST_GUILESS_MAIN(TestIniFile)
#include "tst_inifile.moc"
