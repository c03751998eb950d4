// The server's clock: scaled waits that keep serving events.

#include "platform/Clock.h"

#include <QTest>
#include <QTimer>

using namespace nodalis;

class TestClock : public QObject
{
    Q_OBJECT

private slots:
    void pauseRunsEventsAndAdvancesScaledTime_data()
    {
        QTest::addColumn<double>("scale");
        QTest::newRow("real time") << 1.0;
        QTest::newRow("hundred times faster") << 0.01;
    }

    void pauseRunsEventsAndAdvancesScaledTime()
    {
        QFETCH(double, scale);
        Clock::setScale(scale);
        bool ran = false;
        QMetaObject::invokeMethod(
            this, [&ran] { ran = true; }, Qt::QueuedConnection);
        const qint64 start = Clock::nowMs();
        Pause(300);
        QVERIFY(ran);
        QVERIFY(Clock::nowMs() - start >= 300);
        QCOMPARE(Clock::realMs(1000), int(1000 * scale));
        Clock::setScale(1.0);
    }
};

QTEST_GUILESS_MAIN(TestClock)
#include "tst_clock.moc"
