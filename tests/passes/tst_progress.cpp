#include "passes/progress.h"
#include "passes/randomsource.h"

#include <QTest>

#include <cmath>
#include <limits>
#include <set>

class TestProgress : public QObject
{
    Q_OBJECT

private slots:
    void percentSequence_data();
    void percentSequence();
    void percentAt_data();
    void percentAt();
    void range_data();
    void range();
    void prefixValue_data();
    void prefixValue();
    void drawsSpreadAndStayInRange();
};

// The label's text after every file of a pass over `count` files.
void TestProgress::percentSequence_data()
{
    QTest::addColumn<int>("count");
    QTest::addColumn<QStringList>("texts");
    QTest::newRow("one file: complete") << 1 << QStringList{"100%"};
    QTest::newRow("two files") << 2 << QStringList{"0%", "100%"};
    QTest::newRow("three files") << 3 << QStringList{"0%", "50%", "100%"};
    QTest::newRow("four files") << 4 << QStringList{"0%", "33%", "67%", "100%"};
    QTest::newRow("nine files: 12.5 rounds up")
        << 9 << QStringList{"0%", "13%", "25%", "38%", "50%", "63%", "75%", "88%", "100%"};
}

void TestProgress::percentSequence()
{
    QFETCH(int, count);
    QFETCH(QStringList, texts);
    QStringList seen;
    for (int i = 0; i < count; ++i)
        seen << QString::fromStdString(korvalo::progressText(i, count));
    QCOMPARE(seen, texts);
}

void TestProgress::percentAt_data()
{
    QTest::addColumn<int>("index");
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("percent");
    QTest::newRow("101 files, index 37") << 37 << 101 << 37;
    QTest::newRow("101 files, last") << 100 << 101 << 100;
    // Counts beyond 16 bits stay right.
    QTest::newRow("40,000 files, halfway") << 19999 << 40000 << 50;
    QTest::newRow("100,000 files, 99.49%") << 99489 << 100000 << 99;
    QTest::newRow("100,000 files, 99.995% rounds to 100") << 99994 << 100000 << 100;
    QTest::newRow("201 files, 99.5 rounds up") << 199 << 201 << 100;
    QTest::newRow("201 files, 0.5 rounds up") << 1 << 201 << 1;
    QTest::newRow("100,000 files, last") << 99999 << 100000 << 100;
    // An index outside the range (the list was re-read meanwhile) never shows past 0..100.
    QTest::newRow("index past the end") << 10 << 5 << 100;
    QTest::newRow("negative index") << -1 << 5 << 0;
}

void TestProgress::percentAt()
{
    QFETCH(int, index);
    QFETCH(int, count);
    QFETCH(int, percent);
    QCOMPARE(korvalo::progressPercent(index, count), percent);
}

void TestProgress::range_data()
{
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("maximum");
    QTest::newRow("one") << 1 << 0;
    QTest::newRow("four") << 4 << 3;
    QTest::newRow("beyond 16 bits") << 100000 << 99999;
}

void TestProgress::range()
{
    QFETCH(int, count);
    QFETCH(int, maximum);
    const korvalo::ProgressRange r = korvalo::progressRange(count);
    QCOMPARE(r.minimum, 0);
    QCOMPARE(r.maximum, maximum);
    QCOMPARE(korvalo::progressValue(maximum), maximum); // the last step fills the bar
}

void TestProgress::prefixValue_data()
{
    QTest::addColumn<float>("r");
    QTest::addColumn<int>("value");
    QTest::newRow("zero") << 0.0f << 1000;
    QTest::newRow("smallest positive") << std::numeric_limits<float>::denorm_min() << 1000;
    QTest::newRow("half") << 0.5f << 5500;
    QTest::newRow("just below 1/9000") << std::nextafter(1.0f / 9000.0f, 0.0f) << 1000;
    QTest::newRow("largest float below 1") << std::nextafter(1.0f, 0.0f) << 9999;
    QTest::newRow("1 - 2^-24 from the generator's grid") << 1.0f - 0x1p-24f << 9999;
}

void TestProgress::prefixValue()
{
    QFETCH(float, r);
    QFETCH(int, value);
    QCOMPARE(korvalo::prefixValue(r), value);
}

void TestProgress::drawsSpreadAndStayInRange()
{
    korvalo::ClockRandomSource source;
    source.reseed();
    std::set<int> firstDigits;
    std::set<int> values;
    for (int k = 0; k < 20000; ++k) {
        const float r = source.next();
        QVERIFY(r >= 0.0f && r < 1.0f);
        const int v = korvalo::prefixValue(r);
        QVERIFY(v >= 1000 && v <= 9999);
        firstDigits.insert(v / 1000);
        values.insert(v);
    }
    QCOMPARE(firstDigits.size(), std::size_t(9)); // 1 to 9 all appear
    // 20,000 draws over 9,000 values leave about 8,024 distinct ones, give or take 25.
    QVERIFY(values.size() > 7800);

    // Reseeding starts a new sequence, not the same one again.
    korvalo::ClockRandomSource other;
    other.reseed();
    source.reseed();
    bool differs = false;
    for (int k = 0; k < 8 && !differs; ++k)
        differs = source.next() != other.next();
    QVERIFY(differs);
}

QTEST_APPLESS_MAIN(TestProgress)
#include "tst_progress.moc"
