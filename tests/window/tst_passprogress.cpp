// The progress display of a pass: the redraws it holds back between files must never leave the
// bar or the percent frozen once the pass ends, and a stop request ends the pass.

#include "window/passprogress.h"

#include <QLabel>
#include <QProgressBar>
#include <QTest>

class TestPassProgress : public QObject
{
    Q_OBJECT

private slots:
    void heldBackRedrawsAreDrawnAtTheEnd_data();
    void heldBackRedrawsAreDrawnAtTheEnd();
    void stopRequestEndsThePass();
};

void TestPassProgress::heldBackRedrawsAreDrawnAtTheEnd_data()
{
    QTest::addColumn<int>("lastStep"); // the index the pass reaches
    QTest::addColumn<bool>("ends");    // whether end() runs after it
    QTest::newRow("drawn at the last file") << 999 << false;
    QTest::newRow("stopped in the middle, drawn by end()") << 500 << true;
}

void TestPassProgress::heldBackRedrawsAreDrawnAtTheEnd()
{
    QFETCH(int, lastStep);
    QFETCH(bool, ends);
    QProgressBar bar;
    QLabel percent;
    PassProgress progress(bar, percent);
    progress.begin();
    QVERIFY(progress.running());
    progress.start(1000);
    QCOMPARE(bar.maximum(), 999);
    QVERIFY(progress.step(0, 1000)); // the first file is drawn
    QVERIFY(progress.step(1, 1000)); // the next, at once after it, is held back
    QVERIFY(!bar.updatesEnabled());
    QVERIFY(!percent.updatesEnabled());

    QVERIFY(progress.step(lastStep, 1000));
    if (ends)
        progress.end();
    QVERIFY(bar.updatesEnabled());
    QVERIFY(percent.updatesEnabled());
    QCOMPARE(bar.value(), lastStep);
    QCOMPARE(progress.running(), !ends);
}

void TestPassProgress::stopRequestEndsThePass()
{
    QProgressBar bar;
    QLabel percent;
    PassProgress progress(bar, percent);
    progress.begin();
    progress.start(3);
    QVERIFY(progress.step(0, 3));
    progress.requestStop();
    QVERIFY(!progress.step(1, 3));
    QCOMPARE(percent.text(), QStringLiteral("50%")); // the file in hand is still shown
    progress.end();
    progress.begin(); // the next pass starts afresh
    QVERIFY(progress.step(0, 3));
}

QTEST_MAIN(TestPassProgress)
#include "tst_passprogress.moc"
