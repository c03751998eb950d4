// Programs that travel as files: the names on the key and in the watched
// folder's revision index.

#include "dnc/UsbAndFolderExchange.h"
#include "startup/Settings.h"

#include "support/ProcessReset.h"

#include <QTemporaryDir>
#include <QTest>

using namespace nodalis;
using namespace Qt::StringLiterals;

class TestUsbAndFolder : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;

private slots:
    void init() { ResetProcessState(m_dir.path()); }

    void usbFileNames_data()
    {
        QTest::addColumn<int>("group");
        QTest::addColumn<QByteArray>("fileExt");
        QTest::addColumn<QByteArray>("number");
        QTest::addColumn<QByteArray>("name");
        QTest::newRow("group 9") << 9 << QByteArray(".H") << QByteArray("42")
                                 << QByteArray("000042.pim");
        QTest::newRow("other group")
            << 3 << QByteArray(".H") << QByteArray("42") << QByteArray("0042.H");
        QTest::newRow("never cut")
            << 9 << QByteArray() << QByteArray("1234567") << QByteArray("1234567.pim");
        QTest::newRow("no extension") << 0 << QByteArray() << QByteArray("7") << QByteArray("0007");
    }

    void usbFileNames()
    {
        QFETCH(int, group);
        QFETCH(QByteArray, fileExt);
        QFETCH(QByteArray, number);
        QFETCH(QByteArray, name);
        Config().CodeGroupCN = group;
        Config().FileExt = fileExt;
        QCOMPARE(UsbAndFolderExchange::UsbFileName(number), name);
    }

    void revisionIndex_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QStringList>("folder");
        QTest::addColumn<QString>("renamed");
        QTest::newRow("first") << u"O42"_s << QStringList{u"O42"_s, u"O0043.002"_s}
                               << u"O0042.001"_s;
        QTest::newRow("after the highest")
            << u"O42"_s << QStringList{u"O0042.007"_s, u"O0042.003"_s, u"O0042.H"_s}
            << u"O0042.008"_s;
        QTest::newRow("number 0 left alone") << u"O0"_s << QStringList{} << QString();
        QTest::newRow("extension left alone") << u"O42.nc"_s << QStringList{} << QString();
        QTest::newRow("no number") << u"PIECE"_s << QStringList{} << QString();
    }

    void revisionIndex()
    {
        QFETCH(QString, file);
        QFETCH(QStringList, folder);
        QFETCH(QString, renamed);
        Config().CarDebProg = "O";
        QCOMPARE(UsbAndFolderExchange::RevisionIndexName(file, folder), renamed);
    }
};

QTEST_GUILESS_MAIN(TestUsbAndFolder)
#include "tst_usbandfolder.moc"
