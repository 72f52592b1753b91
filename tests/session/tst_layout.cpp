#include "session/layout.h"

#include <QTest>

#include <set>
#include <string>

using namespace korvalo;

class TestLayout : public QObject
{
    Q_OBJECT

private slots:
    void tableHangsTogether();
    void twipsToPixels_data();
    void twipsToPixels();
};

// Every front end builds its window from the table: a control must sit inside a frame of the
// form, inside its bounds, and tab indexes must rise along the table, whose order the window's
// focus chain follows.
void TestLayout::tableHangsTogether()
{
    const layout::TwipsSize form = layout::formClientSize();
    int lastTab = -1;
    std::set<std::string_view> seen;
    for (const layout::ControlPlace &c : layout::controls()) {
        const std::string name(c.name);
        QVERIFY2(seen.insert(c.name).second, name.c_str());
        QCOMPARE(layout::controlPlace(c.name), &c);
        QVERIFY2(c.tabIndex > lastTab, name.c_str());
        lastTab = c.tabIndex;

        layout::TwipsSize bounds = form;
        if (c.parent != layout::kForm) {
            const layout::ControlPlace *parent = layout::controlPlace(c.parent);
            QVERIFY2(parent && parent->parent == layout::kForm, name.c_str());
            bounds = {parent->rect.width, parent->rect.height};
        }
        const layout::TwipsRect &r = c.rect;
        QVERIFY2(r.left >= 0 && r.top >= 0 && r.width > 0 && r.height > 0, name.c_str());
        QVERIFY2(r.left + r.width <= bounds.width && r.top + r.height <= bounds.height,
                 name.c_str());
    }
    QVERIFY(!layout::controlPlace(layout::kForm));
}

void TestLayout::twipsToPixels_data()
{
    QTest::addColumn<int>("twips");
    QTest::addColumn<int>("dpi");
    QTest::addColumn<int>("pixels");
    QTest::newRow("96 dpi, a little under half a pixel") << 7 << 96 << 0;
    QTest::newRow("96 dpi, a little over half a pixel") << 8 << 96 << 1;
    QTest::newRow("120 dpi, an inch") << 1440 << 120 << 120;
    QTest::newRow("120 dpi, a half rounds up") << 7050 << 120 << 588;
    QTest::newRow("144 dpi, one pixel at 96") << 15 << 144 << 2;
}

void TestLayout::twipsToPixels()
{
    QFETCH(int, twips);
    QFETCH(int, dpi);
    QFETCH(int, pixels);
    QCOMPARE(layout::twipsToPixels(twips, dpi), pixels);
}

QTEST_APPLESS_MAIN(TestLayout)
#include "tst_layout.moc"
