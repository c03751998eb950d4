// Folder listings of machines' FTP servers: MLSD facts, LIST in Unix and DOS
// form, hostile names, the entry cap.

#include "protocols/FtpListing.h"

#include <QTest>

using namespace nodalis;
using namespace Qt::StringLiterals;

namespace {

// "d:name" for a folder, "f:name:size" for a file, in listing order.
QStringList described(const RemoteListing& listing)
{
    QStringList out;
    for (const RemoteEntry& e : listing.entries)
        out +=
            e.TypeFD == RemoteEntry::Folder ? u"d:"_s + e.Nom : u"f:%1:%2"_s.arg(e.Nom).arg(e.size);
    return out;
}

} // namespace

class TestFtpListing : public QObject
{
    Q_OBJECT

private slots:
    void parse_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<bool>("mlsd");
        QTest::addColumn<QStringList>("expected");

        QTest::newRow("mlsd") << QByteArray("type=cdir;modify=20260101; /home/cnc\r\n"
                                            "type=pdir;modify=20260101; /home\r\n"
                                            "modify=20260101;perm=r;size=42;type=file; O1000.nc\r\n"
                                            "Type=DIR;sizd=4096; My  Folder\r\n"
                                            "type=OS.unix=slink:/x;size=3; link\r\n"
                                            "type=OS.unix=chr;size=0; tty\r\n")
                              << true
                              << QStringList{u"d:.."_s, u"f:O1000.nc:42"_s, u"d:My  Folder"_s,
                                             u"f:link:3"_s};
        QTest::newRow("unix") << QByteArray("total 12\r\n"
                                            "drwxr-xr-x 2 u g 4096 Jan 01 10:00 My Folder\r\n"
                                            "-rw-r--r-- 1 user group 1234 Dec 31  2025 O 1.nc\r\n"
                                            "-rw-r--r--   1 owner    77 Feb  3 09:05 nogroup\r\n"
                                            "lrwxrwxrwx 1 u g 7 Mar 10 11:12 cur -> /x/y\r\n"
                                            "crw-rw---- 1 u g 4, 1 Mar 10 11:12 tty1\r\n"
                                            "-rw-r--r-- 1 u g 5 Jan 01 10:00 Jan 02 2026.nc\r\n")
                              << false << QStringList{u"d:.."_s,          u"d:My Folder"_s,
                                                      u"f:O 1.nc:1234"_s, u"f:nogroup:77"_s,
                                                      u"f:cur:7"_s,       u"f:Jan 02 2026.nc:5"_s};
        QTest::newRow("dos") << QByteArray("12-01-26  10:15AM       <DIR>          My Folder\r\n"
                                           "12-01-26  10:15PM                 1234 a b.nc\r\n"
                                           "01/02/2026  22:15  99 O2000\r\n"
                                           "12-01-26  10:15AM  <JUNCTION>  x\r\n")
                             << false
                             << QStringList{u"d:.."_s, u"d:My Folder"_s, u"f:a b.nc:1234"_s,
                                            u"f:O2000:99"_s};
        QTest::newRow("dot dropped, dot-dot kept once as a folder")
            << QByteArray("drwxr-xr-x 2 u g 1 Jan 01 10:00 .\n"
                          "drwxr-xr-x 2 u g 1 Jan 01 10:00 ..\n"
                          "-rw-r--r-- 2 u g 1 Jan 01 10:00 ..\n"
                          "-rw-r--r-- 1 u g 2 Jan 01 10:00 a\n")
            << false << QStringList{u"d:.."_s, u"f:a:2"_s};
        // Which names are plain has its own test (plainNames); here, that they are checked.
        QTest::newRow("hostile names dropped") << QByteArray("type=file;size=1; ../x\r\n"
                                                             "type=file;size=1; a\rb\r\n"
                                                             "type=file;size=1;  lead\r\n"
                                                             "type=file;size=1; ok\r\n")
                                               << true << QStringList{u"d:.."_s, u"f:ok:1"_s};
        QTest::newRow("ansi name") << QByteArray("type=file;size=1; pi\xe8"
                                                 "ce\n")
                                   << true << QStringList{u"d:.."_s, u"f:pièce:1"_s};
    }

    void parse()
    {
        QFETCH(QByteArray, text);
        QFETCH(bool, mlsd);
        QFETCH(QStringList, expected);
        RemoteListing listing;
        QVERIFY(ParseFtpListing(text, mlsd, listing, kFtpListingCap));
        QCOMPARE(described(listing), expected);
    }

    // ".." is not counted; past the cap the listing held before stays.
    void cap_data()
    {
        QTest::addColumn<int>("files");
        QTest::addColumn<bool>("ok");
        QTest::newRow("at the cap") << 3 << true;
        QTest::newRow("past the cap") << 4 << false;
    }

    void cap()
    {
        QFETCH(int, files);
        QFETCH(bool, ok);
        QByteArray text = "type=pdir; ..\r\n";
        for (int i = 0; i < files; ++i)
            text += "type=file;size=1; f" + QByteArray::number(i) + "\r\n";
        RemoteListing listing;
        listing.entries.append({RemoteEntry::File, u"before"_s, 0, {}});
        QCOMPARE(ParseFtpListing(text, true, listing, 3), ok);
        QCOMPARE(listing.countReal(), ok ? files : 1);
    }

    // Receiving stops at the byte limit: a text past it is refused, even
    // when it is lines of nothing.
    void textPastTheLimitRefused()
    {
        RemoteListing listing;
        const QByteArray blank(FtpListingByteLimit(3), '\n');
        QVERIFY(ParseFtpListing(blank, false, listing, 3));
        QVERIFY(!ParseFtpListing(blank + '\n', false, listing, 3));
    }
};

QTEST_GUILESS_MAIN(TestFtpListing)
#include "tst_ftplisting.moc"
