// nodalisctl store: a shop fills and reads its store without the
// program-management application.

#include "ctl/CtlOptions.h"
#include "ctl/StoreAdmin.h"
#include "store/ProgramRecords.h"

#include "StoreFixture.h"

using namespace nodalis;
using namespace nodalis::ctl;
using nodalis::test::StoreFixture;
using namespace Qt::StringLiterals;

class TestStoreAdmin : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;

    int run(const QString& line, QString* output = nullptr)
    {
        const CtlOptions o = CtlOptions::Parse(u"nodalisctl "_s.append(line).split(u' '));
        if (!o.error.isEmpty())
            return StoreUsage;
        QString out;
        QString err;
        QTextStream outStream(&out);
        QTextStream errStream(&err);
        const int rc = RunStoreCommand(o.baseFolder, o.arguments, outStream, errStream);
        if (output)
            *output = out;
        return rc;
    }

private slots:
    void initTestCase()
    {
        StoreFixture::writeFile(m_dir.filePath(u"Nodalis.ini"_s),
                                "[DNC]\r\nPathData=" + m_dir.filePath(u"data"_s).toLocal8Bit() +
                                    "\r\n[RECORDFIELDS]\r\nNbBDFields=1\r\nRefChamp1=PIECE\r\n");
        StoreFixture::writeFile(m_dir.filePath(u"p.nc"_s), "%\r\nO12\r\nM30\r\n%\r\n");
    }

    void commands_data()
    {
        QTest::addColumn<QString>("line"); // after "nodalisctl --base DIR"
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("output");

        QTest::newRow("init") << u"store init"_s << 0 << u"store ready: "_s;
        QTest::newRow("init again changes nothing") << u"store init"_s << 0 << u"store ready: "_s;
        QTest::newRow("add") << u"store add --machine M1 --call P'1 --file FILE --field 1=BRIDE "
                                "--downloadable 1"_s
                             << 0 << u"1\n"_s;
        QTest::newRow("add, options after --base") << u"store add --call P2 --base DIR --machine "
                                                      "M2 --file FILE"_s
                                                   << 0 << u"2\n"_s;
        QTest::newRow("add a missing file")
            << u"store add --machine M1 --call P3 --file FILE.none"_s << 1 << QString();
        QTest::newRow("list one machine")
            << u"store list --machine M1"_s << 0
            << u"CodeProg\tRefMO\tProgAppel\tDownloadable\tEtatProg\n1\tM1\tP'1\t1\t0\n"_s;
        QTest::newRow("show") << u"store show 2"_s << 0 << u"ProgAppel: P2\n"_s;
        QTest::newRow("show a field by its name")
            << u"store show 1"_s << 0 << u"Champ1 (PIECE): BRIDE\n"_s;
        QTest::newRow("show an unknown code") << u"store show 9"_s << 1 << QString();
        QTest::newRow("unknown sub-command") << u"store drop"_s << 64 << QString();
    }

    void commands()
    {
        QFETCH(QString, line);
        QFETCH(int, status);
        QFETCH(QString, output);
        QString out;
        line.replace(u"FILE"_s, m_dir.filePath(u"p.nc"_s)).replace(u"DIR"_s, m_dir.path());
        QCOMPARE(run(u"--base "_s + m_dir.path() + u' ' + line, &out), status);
        QVERIFY2(out.contains(output), qPrintable(out));
        if (qstrcmp(QTest::currentDataTag(), "add") == 0)
            QCOMPARE(StoreFixture::readFile(ProgramFilePath(ProgramTextPath, 1)),
                     "%\r\nO12\r\nM30\r\n%\r\n");
    }
};

QTEST_GUILESS_MAIN(TestStoreAdmin)
#include "tst_storeadmin.moc"
