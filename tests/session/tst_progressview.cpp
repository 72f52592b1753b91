#include "session/progressview.h"
#include "session/texts.h"

#include <QTest>

#include <string>
#include <vector>

using korvalo::session::Progress;
using korvalo::session::ProgressDrawing;
using korvalo::session::ProgressView;

namespace {

// What a display shows after drawing a run of progress figures, and how often it was told to
// change its percent text.
struct Shown
{
    int minimum = 0;
    int maximum = 100;
    int value = 0;
    std::string text = "0%";
    int textChanges = 0;
    int rangeChanges = 0;
};

Shown drawAll(const std::vector<Progress> &figures)
{
    ProgressView view;
    view.begin();
    Shown shown;
    for (const Progress &p : figures) {
        const ProgressDrawing d = view.show(p);
        if (d.range) {
            shown.minimum = d.range->minimum;
            shown.maximum = d.range->maximum;
            ++shown.rangeChanges;
        }
        if (d.value)
            shown.value = *d.value;
        if (d.text) {
            shown.text = *d.text;
            ++shown.textChanges;
        }
    }
    return shown;
}

Progress renamed(int done, int count)
{
    Progress p;
    p.done = done;
    p.count = count;
    p.running = true;
    return p;
}

} // namespace

class TestProgressView : public QObject
{
    Q_OBJECT

private slots:
    void afterFigures_data();
    void afterFigures();
    void headingWhileStoredInOrder();
    void unchangedFigureDrawsNothing();
    void songsCounted_data();
    void songsCounted();
};

void TestProgressView::afterFigures_data()
{
    QTest::addColumn<std::vector<Progress>>("figures");
    QTest::addColumn<int>("maximum");
    QTest::addColumn<int>("value");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("textChanges");

    QTest::newRow("nothing done yet")
        << std::vector<Progress>{renamed(0, 3)} << 2 << 0 << "0%" << 0;
    QTest::newRow("three files, every step seen")
        << std::vector<Progress>{renamed(0, 3), renamed(1, 3), renamed(2, 3), renamed(3, 3)} << 2
        << 2 << "100%" << 3;
    QTest::newRow("four files, the second seen")
        << std::vector<Progress>{renamed(2, 4)} << 3 << 1 << "33%" << 1;
    // A poll misses files on a fast disk: only the figure seen is drawn.
    QTest::newRow("101 files, index 37 seen")
        << std::vector<Progress>{renamed(1, 101), renamed(38, 101)} << 100 << 37 << "37%" << 2;
    // Of 1000 files, the percent text changes once per percent, not once per file.
    std::vector<Progress> many;
    for (int done = 1; done <= 1000; ++done)
        many.push_back(renamed(done, 1000));
    QTest::newRow("1000 files, once per percent") << many << 999 << 999 << "100%" << 101;
    // One file: a range of zero width would make a busy indicator; 0..1, full.
    QTest::newRow("one file") << std::vector<Progress>{renamed(1, 1)} << 1 << 1 << "100%" << 1;
    QTest::newRow("no files") << std::vector<Progress>{renamed(0, 0)} << 100 << 0 << "0%" << 0;
}

void TestProgressView::afterFigures()
{
    QFETCH(std::vector<Progress>, figures);
    QFETCH(int, maximum);
    QFETCH(int, value);
    QFETCH(QString, text);
    QFETCH(int, textChanges);
    const Shown shown = drawAll(figures);
    QCOMPARE(shown.minimum, 0);
    QCOMPARE(shown.maximum, maximum);
    QCOMPARE(shown.value, value);
    QCOMPARE(QString::fromStdString(shown.text), text);
    QCOMPARE(shown.textChanges, textChanges);
}

// On FAT and exFAT the renames are followed by the files moving out and back: the bar runs again
// over the moves, under a heading that says so, and after a stop the moves back have their own.
void TestProgressView::headingWhileStoredInOrder()
{
    ProgressView view;
    view.begin();
    QVERIFY(view.show(renamed(3, 3)).heading.empty());

    Progress ordering = renamed(2, 6);
    ordering.ordering = true;
    const ProgressDrawing d = view.show(ordering);
    QCOMPARE(d.heading, korvalo::texts::orderingProgressLabel());
    QVERIFY(d.range);
    QCOMPARE(d.range->maximum, 6);
    QCOMPARE(d.value.value_or(-1), 2);
    QCOMPARE(d.text.value_or(""), std::string("33%"));

    ordering.movingBack = true;
    ordering.done = 1;
    ordering.count = 3;
    QCOMPARE(view.show(ordering).heading, korvalo::texts::movingBackProgressLabel());
}

// The window polls every few tens of milliseconds: a figure that has not moved is not drawn
// again, and begin() forgets what the last plan drew.
void TestProgressView::unchangedFigureDrawsNothing()
{
    ProgressView view;
    view.begin();
    view.show(renamed(2, 5));
    const ProgressDrawing again = view.show(renamed(2, 5));
    QVERIFY(!again.range);
    QVERIFY(!again.value);
    QVERIFY(!again.text);

    view.begin();
    const ProgressDrawing next = view.show(renamed(2, 5));
    QVERIFY(next.range);
    QCOMPARE(next.value.value_or(-1), 1);
    QCOMPARE(next.text.value_or(""), std::string("25%"));
}

void TestProgressView::songsCounted_data()
{
    QTest::addColumn<int>("done");
    QTest::addColumn<int>("count");
    QTest::addColumn<bool>("ordering");
    QTest::addColumn<bool>("movingBack");
    QTest::addColumn<int>("songsDone");
    QTest::addColumn<int>("songs");
    QTest::newRow("renaming") << 3 << 4 << false << false << 3 << 4;
    // Four songs stored in order: eight moves, out and back.
    QTest::newRow("stored in order, all moved") << 8 << 8 << true << false << 4 << 4;
    QTest::newRow("stored in order, midway") << 5 << 8 << true << false << 2 << 4;
    QTest::newRow("moving back after a stop") << 1 << 3 << true << true << 1 << 3;
}

// What is counted while the files are stored in order is songs, not their moves.
void TestProgressView::songsCounted()
{
    QFETCH(int, done);
    QFETCH(int, count);
    QFETCH(bool, ordering);
    QFETCH(bool, movingBack);
    Progress p = renamed(done, count);
    p.ordering = ordering;
    p.movingBack = movingBack;
    const korvalo::session::SongCount songs = korvalo::session::songsOf(p);
    QTEST(songs.done, "songsDone");
    QTEST(songs.count, "songs");
}

QTEST_GUILESS_MAIN(TestProgressView)
#include "tst_progressview.moc"
