// The progress display of a running plan: what the bar, the percent label and the frame's title
// show for the figures the session hands over, across the renames, the moves that store the
// order, and the next plan.

#include "qtwindow/passprogress.h"

#include "session/texts.h"

#include <QGroupBox>
#include <QLabel>
#include <QProgressBar>
#include <QTest>

using korvalo::session::Progress;

class TestPassProgress : public QObject
{
    Q_OBJECT

private slots:
    void shown_data();
    void shown();
};

namespace {

// In a row's figures: the window starts the next plan, its bar and label put back to nothing.
constexpr int kNextPlan = -1;

} // namespace

void TestPassProgress::shown_data()
{
    QTest::addColumn<int>("count");
    QTest::addColumn<QList<int>>("done"); // the figures handed over, in turn
    QTest::addColumn<int>("moves");       // from this figure on: the moves out and back (-1: none)
    QTest::addColumn<int>("maximum");
    QTest::addColumn<int>("value");
    QTest::addColumn<QString>("percent");

    // What each figure draws is the progress view's (tested with it): here, that the window puts it
    // on its bar, its label and its frame.
    QTest::newRow("halfway, figures skipped")
        << 1000 << QList<int>{1, 501} << -1 << 999 << 500 << QStringLiteral("50%");
    QTest::newRow("moves after the renames")
        << 1000 << QList<int>{1000, 0, 250} << 1 << 1000 << 250 << QStringLiteral("25%");
    // Its first figure equals the last one drawn, and is drawn all the same.
    QTest::newRow("the next plan over as many files")
        << 3 << QList<int>{3, kNextPlan, 3} << -1 << 2 << 2 << QStringLiteral("100%");
}

void TestPassProgress::shown()
{
    QFETCH(int, count);
    QFETCH(QList<int>, done);
    QFETCH(int, moves);
    QFETCH(int, maximum);
    QFETCH(int, value);
    QFETCH(QString, percent);
    QProgressBar bar;
    QLabel label(QStringLiteral("0%"));
    bar.setValue(0);
    QGroupBox frame(QString::fromUtf8(korvalo::texts::caption::kFrame3));
    PassProgress progress(bar, label, frame);
    progress.begin();
    for (int i = 0; i < done.size(); ++i) {
        if (done[i] == kNextPlan) {
            label.setText(QStringLiteral("0%"));
            bar.setValue(0);
            progress.begin();
            continue;
        }
        progress.show(Progress{.done = done[i],
                               .count = count,
                               .ordering = moves >= 0 && i >= moves,
                               .running = true});
    }
    QCOMPARE(bar.maximum(), maximum);
    QCOMPARE(bar.value(), value);
    QCOMPARE(label.text(), percent);
    QCOMPARE(frame.title().toStdString(), moves >= 0 ? korvalo::texts::orderingProgressLabel()
                                                     : korvalo::texts::caption::kFrame3);
}

QTEST_MAIN(TestPassProgress)
#include "tst_passprogress.moc"
