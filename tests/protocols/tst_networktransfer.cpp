// The network transfer dispatch on a shared folder: which names may reach a
// machine's folder, how the remote name of a program is chosen, and how a
// program is put there (asked before an overwrite unless the machine called
// for it, channel files grouped in a folder, a share that refuses).

#include "dnc/ChannelFiles.h"
#include "dnc/PortState.h"
#include "protocols/NetworkTransfer.h"
#include "protocols/SharedFolder.h"

#include "support/ProcessHelpers.h"
#include "support/ScriptedPrompt.h"
#include "support/SimulatedLine.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace nodalis;
using namespace nodalis::test;
using namespace Qt::StringLiterals;

namespace {

const QByteArray kProgram = "%\r\nO1234 (BRIDE)\r\nN10 G0 X0\r\nN20 M30\r\n%\r\n";

} // namespace

class TestNetworkTransfer : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    SimulatedLine m_line;
    std::unique_ptr<NetworkTransfer> m_net;
    QString m_share;

    QString local(const QString& name, const QByteArray& text)
    {
        const QString path = m_dir.filePath(u"local/"_s + name);
        writeFile(path, text);
        return path;
    }
    QByteArray remote(const QString& name) const { return readFile(m_share + u'/' + name); }
    qsizetype logged(const QByteArray& code) const
    {
        return journalOf(m_dir.filePath(u"base"_s)).count("---Code" + code + "---");
    }

private slots:
    void init()
    {
        QVERIFY(m_line.open(m_dir.filePath(u"base"_s)));
        Settings& s = Config();
        s.Port.Methode = 6;
        s.CarDebProg = "O|:";
        // A UNC share, mounted under UncRoot off Windows.
        s.UncRoot = m_dir.filePath(u"unc"_s).toLocal8Bit();
        s.DefaultDirHostSend = "\\\\cnc\\programs";
        m_share = m_dir.filePath(u"unc/cnc/programs"_s);
        QDir(m_share).removeRecursively();
        QVERIFY(QDir().mkpath(m_share));
        m_net = std::make_unique<NetworkTransfer>(*m_line.engine);
    }

    void plainNames_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("plain");
        QTest::newRow("blank inside") << u"ma piece.h"_s << true;
        QTest::newRow("parent") << u"../x"_s << false;
        QTest::newRow("sub-folder") << u"a/b"_s << false;
        QTest::newRow("Windows sub-folder") << u"a\\b"_s << false;
        QTest::newRow("drive") << u"C:\\x"_s << false;
        QTest::newRow("command inside") << u"a\r\nDELE b"_s << false;
        QTest::newRow("dot dot") << u".."_s << false;
        QTest::newRow("leading blank") << u" x"_s << false;
        QTest::newRow("empty") << QString() << false;
    }

    void plainNames()
    {
        QFETCH(QString, name);
        QFETCH(bool, plain);
        QCOMPARE(IsPlainRemoteName(name), plain);
    }

    void remoteFileName_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<bool>("numberAsName");
        QTest::addColumn<int>("group");
        QTest::addColumn<QByteArray>("defaultName");
        QTest::addColumn<QByteArray>("extension");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("name");
        QTest::newRow("the send file's own name is asked for")
            << u"ToCN.txt"_s << kProgram << false << 0 << QByteArray() << QByteArray()
            << u"typed.nc"_s << u"typed.nc"_s;
        QTest::newRow("program number, ':' becomes O")
            << u"ToCN.txt"_s << QByteArray("%\r\n:1234\r\nM30\r\n") << true << 0 << QByteArray()
            << QByteArray("nc") << QString() << u"O1234"_s;
        QTest::newRow("Heidenhain inch program")
            << u"ToCN.txt"_s << QByteArray("%\r\nO12 MM G71\r\n") << true << 2 << QByteArray()
            << QByteArray("nc") << QString() << u"O12.i"_s;
        QTest::newRow("Heidenhain program")
            << u"ToCN.txt"_s << QByteArray("%\r\nO12 MM\r\n") << true << 2 << QByteArray()
            << QByteArray(".nc") << QString() << u"O12.h"_s;
        QTest::newRow("default name takes FileExt")
            << u"ToCN.txt"_s << kProgram << false << 0 << QByteArray("PIECE.H") << QByteArray(".nc")
            << QString() << u"PIECE.nc"_s;
        QTest::newRow("the local name") << u"bride.iso"_s << kProgram << false << 0 << QByteArray()
                                        << QByteArray() << QString() << u"bride.iso"_s;
    }

    void remoteFileName()
    {
        QFETCH(QString, file);
        QFETCH(QByteArray, text);
        QFETCH(bool, numberAsName);
        QFETCH(int, group);
        QFETCH(QByteArray, defaultName);
        QFETCH(QByteArray, extension);
        QFETCH(QString, typed);
        QFETCH(QString, name);
        Settings& s = Config();
        s.NumProgAsFileName = numberAsName;
        s.CodeGroupCN = group;
        s.DefautFileName = defaultName;
        s.FileExt = extension;
        ScriptedPrompt prompt;
        prompt.queueAnswer(u"text "_s + typed);
        QCOMPARE(m_net->RemoteFileName(local(file, text)), name);
        QCOMPARE(prompt.questions().size(), typed.isEmpty() ? 0 : 1);
    }

    // An operator's send asks before replacing the machine's file and does
    // nothing on No; a machine's own call replaces it without a question.
    void overwriteAskedUnlessCalled_data()
    {
        QTest::addColumn<bool>("called");
        QTest::addColumn<QString>("answer");
        QTest::addColumn<bool>("replaced");
        QTest::newRow("operator, No") << false << u"no"_s << false;
        QTest::newRow("operator, Yes") << false << u"yes"_s << true;
        QTest::newRow("machine's call") << true << QString() << true;
    }

    void overwriteAskedUnlessCalled()
    {
        QFETCH(bool, called);
        QFETCH(QString, answer);
        QFETCH(bool, replaced);
        Config().UseRPC = called;
        QVERIFY(writeFile(m_share + u"/O1234.nc"_s, "old"));
        const qsizetype sent = logged("266");
        ScriptedPrompt prompt;
        prompt.queueAnswer(answer);
        QCOMPARE(m_net->SendToNetworkMachine(u"O1234.nc"_s, local(u"ToCN.txt"_s, kProgram), 7),
                 replaced);
        QCOMPARE(remote(u"O1234.nc"_s), replaced ? kProgram : QByteArray("old"));
        QCOMPARE(prompt.questions().size(), called ? 0 : 1);
        QCOMPARE(logged("266") - sent, replaced ? 1 : 0);
    }

    // Two channels in a folder of their own, each file under its channel's
    // target name; the folder replaced after a Yes.
    void channelFilesGroupedInAFolder()
    {
        Settings& s = Config();
        s.GroupeInFolder = true;
        s.NbCanaux = 2;
        s.UseRPC = true;
        const QString send = local(u"ToCN.txt"_s, kProgram);
        local(u"ToCN.txt2"_s, "second channel\r\n");
        QVERIFY(writeFile(m_share + u"/PIECE/old.m"_s, "old"));
        ScriptedPrompt prompt;
        prompt.queueAnswer(u"yes"_s);
        QVERIFY(m_net->SendToNetworkMachine(u"PIECE"_s, send, 0));
        QCOMPARE(remote(u"PIECE/.m"_s), kProgram);
        QCOMPARE(remote(u"PIECE/.s"_s), QByteArray("second channel\r\n"));
        QVERIFY(!QFile::exists(m_share + u"/PIECE/old.m"_s));
    }

    // A share that is missing or refuses writes: 907, nothing counted.
    void shareThatRefuses()
    {
        Config().UseRPC = true;
        const qsizetype sent = logged("266");
        const qsizetype failed = logged("907");
        QVERIFY(QDir(m_share).removeRecursively());
        QVERIFY(!m_net->SendToNetworkMachine(u"O1.nc"_s, local(u"ToCN.txt"_s, kProgram), 3));
        QCOMPARE(logged("907"), failed + 1);
        QCOMPARE(logged("266"), sent);
    }
};

QTEST_GUILESS_MAIN(TestNetworkTransfer)
#include "tst_networktransfer.moc"
