// The INI accessor with remembered context.

#include "startup/IniFile.h"
#include "startup/clsIniVar.h"

#include <QFile>
#include <QLocale>
#include <QTemporaryDir>
#include <QTest>

using namespace nodalis;

class TestClsIniVar : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString m_path;

private slots:
    void init()
    {
        m_path = m_dir.filePath(QStringLiteral("t.ini"));
        QFile f(m_path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("[S]\r\n"
                "Spaced=  abc  \r\n"
                "T1=true\r\nT2=yes\r\nT3=2\r\nT4= 1 \r\nT5=1\r\nEmpty=\r\n"
                "V1=12.5mm\r\nV2=abc\r\nV3=  -3.25e2x\r\nV4=.5\r\nV5=1,5\r\n"
                "[CANAUX]\r\n1=A\r\n'old=B\r\n2=C\r\n"
                "[P1]\r\nPortListen=1\r\n"
                "[P2]\r\nNumPort=3\r\n");
    }

    void readTrimsWhatReadIniKeeps()
    {
        clsIniVar ini;
        ini.Init(m_path, "S", "Spaced", {});
        QCOMPARE(ini.Read(), QByteArray("abc"));
        QCOMPARE(FNReadIni(m_path, "S", "Spaced"), QByteArray("  abc  "));
        QCOMPARE(ini.ReadDef("dflt", "Missing"), QByteArray("dflt"));
        QCOMPARE(ini.ReadDef("dflt", "Empty"), QByteArray("dflt"));
    }

    void readBool_data()
    {
        QTest::addColumn<QByteArray>("key");
        QTest::addColumn<bool>("plain");
        QTest::addColumn<bool>("withTrueDefault");
        QTest::newRow("true") << QByteArray("T1") << false << false;
        QTest::newRow("yes") << QByteArray("T2") << false << false;
        QTest::newRow("2") << QByteArray("T3") << false << false;
        QTest::newRow("1 with spaces") << QByteArray("T4") << true << true;
        QTest::newRow("1") << QByteArray("T5") << true << true;
        QTest::newRow("empty reads as missing") << QByteArray("Empty") << false << true;
        QTest::newRow("missing") << QByteArray("Nope") << false << true;
    }

    void readBool()
    {
        QFETCH(QByteArray, key);
        QFETCH(bool, plain);
        QFETCH(bool, withTrueDefault);
        clsIniVar ini;
        ini.setPath(m_path);
        ini.setSection("S");
        QCOMPARE(ini.ReadBool(key), plain);
        QCOMPARE(ini.ReadBoolDef(true, key), withTrueDefault);
    }

    void readVal_data()
    {
        QTest::addColumn<QByteArray>("key");
        QTest::addColumn<double>("expected");
        QTest::newRow("number then unit") << QByteArray("V1") << 12.5;
        QTest::newRow("no number") << QByteArray("V2") << 0.0;
        QTest::newRow("blanks, sign, exponent") << QByteArray("V3") << -325.0;
        QTest::newRow("leading period") << QByteArray("V4") << 0.5;
        QTest::newRow("comma is not a decimal point") << QByteArray("V5") << 1.0;
        QTest::newRow("missing") << QByteArray("Nope") << 0.0;
    }

    void readVal()
    {
        QFETCH(QByteArray, key);
        QFETCH(double, expected);
        clsIniVar ini;
        QCOMPARE(ini.ReadVal(key, "S", m_path), expected);
    }

    void readSectionInTab()
    {
        clsIniVar ini;
        const QList<QByteArray> lines = ini.ReadSectionInTab("CANAUX", m_path);
        QCOMPARE(lines, (QList<QByteArray>{QByteArray(), "1=A", "2=C"}));
        QCOMPARE(ini.ReadSectionInTab("NONE", m_path), QList<QByteArray>{QByteArray()});
    }

    void keyExist_data()
    {
        QTest::addColumn<QByteArray>("section");
        QTest::addColumn<QByteArray>("key");
        QTest::addColumn<bool>("exists");
        QTest::newRow("Port is not PortListen") << QByteArray("P1") << QByteArray("Port") << false;
        QTest::newRow("Port ends NumPort") << QByteArray("P2") << QByteArray("Port") << true;
        QTest::newRow("case matters") << QByteArray("P2") << QByteArray("numport") << false;
        QTest::newRow("missing section") << QByteArray("NONE") << QByteArray("Port") << false;
    }

    void keyExist()
    {
        QFETCH(QByteArray, section);
        QFETCH(QByteArray, key);
        QFETCH(bool, exists);
        clsIniVar ini;
        ini.Init(m_path, section, key, {});
        QCOMPARE(ini.FNKeyExist(), exists);
    }

    void writesDefaultToProperties()
    {
        clsIniVar ini;
        ini.Init(m_path, "W", "Str", "fromProperty");
        ini.WriteStr();
        QCOMPARE(FNReadIni(m_path, "W", "Str"), QByteArray("fromProperty"));
        ini.WriteBool(true, "B1");
        ini.WriteBool(false, "B0");
        QCOMPARE(ini.Read("B1"), QByteArray("1"));
        QCOMPARE(ini.Read("B0"), QByteArray("0"));
        ini.WriteVal(2500, "Whole");
        QCOMPARE(ini.ReadVal("Whole"), 2500.0);
        // Written in the locale's format: under a decimal comma the fraction
        // is lost on the way back, as it always was.
        QLocale::setDefault(QLocale(QLocale::French, QLocale::France));
        ini.WriteVal(2.75, "Fraction");
        QLocale::setDefault(QLocale::c());
        QCOMPARE(ini.Read("Fraction"), QByteArray("2,75"));
        QCOMPARE(ini.ReadVal("Fraction"), 2.0);
        // Other sections of the file are untouched.
        QCOMPARE(ini.Read("Spaced", "S"), QByteArray("abc"));
    }
};

QTEST_GUILESS_MAIN(TestClsIniVar)
#include "tst_clsinivar.moc"
