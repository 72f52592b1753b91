// The UTF-8 pieces of korvalo-cli: the part of a write that a console can be given now (the rest
// of a character cut in two waits for the next write), and a path made from UTF-8 arguments.

#include "cli/utf8.h"

#include <QTest>

#include <string>

using korvalo::cli::completeUtf8Length;
using korvalo::cli::pathFromUtf8;

class TestUtf8 : public QObject
{
    Q_OBJECT

private slots:
    void completeLength_data();
    void completeLength();
    void everyCutOfAText();
    void pathKeepsTheName_data();
    void pathKeepsTheName();
};

void TestUtf8::completeLength_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("complete");

    QTest::newRow("empty") << QByteArray() << 0;
    QTest::newRow("ASCII") << QByteArray("list\n") << 5;
    QTest::newRow("a whole Chinese character") << QByteArray("歌") << 3;
    QTest::newRow("two bytes of a three-byte character") << QByteArray("a\xe6\xad") << 1;
    QTest::newRow("the lead byte alone") << QByteArray("ab\xe6") << 2;
    QTest::newRow("a whole two-byte character") << QByteArray("\xc3\xa9") << 2;
    QTest::newRow("half a two-byte character") << QByteArray("x\xc3") << 1;
    QTest::newRow("a whole four-byte character") << QByteArray("\xf0\xa0\x80\x80") << 4;
    QTest::newRow("three bytes of a four-byte character") << QByteArray("1\xf0\xa0\x80") << 1;
    QTest::newRow("two bytes of a four-byte character") << QByteArray("1\xf0\xa0") << 1;
    // Bytes no converter can wait for are passed on, to come out as replacement characters.
    QTest::newRow("a stray continuation byte") << QByteArray("a\x80") << 2;
    QTest::newRow("four stray continuation bytes") << QByteArray("\x80\x80\x80\x80") << 4;
    QTest::newRow("a byte never in UTF-8") << QByteArray("a\xff") << 2;
    QTest::newRow("an overlong lead") << QByteArray("a\xc0") << 2;
    QTest::newRow("the escape of the progress line") << QByteArray("50%\x1b[K") << 6;
}

void TestUtf8::completeLength()
{
    QFETCH(QByteArray, bytes);
    QFETCH(int, complete);
    QCOMPARE(completeUtf8Length(std::string_view(bytes.constData(), bytes.size())),
             std::size_t(complete));
}

// Cut anywhere, a text of one-, two-, three- and four-byte characters is held back only as far
// as the character cut, and the two writes together give the text back whole.
void TestUtf8::everyCutOfAText()
{
    const std::string text = "a é 歌曲 𠀀 z";
    for (std::size_t cut = 0; cut <= text.size(); ++cut) {
        std::string pending = text.substr(0, cut);
        const std::size_t first = completeUtf8Length(pending);
        QVERIFY2(first <= cut && cut - first < 4, qPrintable(QString::number(cut)));
        // What is given now ends on a character's boundary.
        QVERIFY(QString::fromUtf8(text.substr(0, first)).toUtf8().toStdString() ==
                text.substr(0, first));
        pending.erase(0, first);
        pending += text.substr(cut);
        QCOMPARE(completeUtf8Length(pending), pending.size());
        QCOMPARE(text.substr(0, first) + pending, text);
    }
}

void TestUtf8::pathKeepsTheName_data()
{
    QTest::addColumn<QString>("name");
    QTest::newRow("Chinese") << QStringLiteral("/媒体/U盘/歌曲");
    QTest::newRow("beyond the Basic plane") << QStringLiteral("𠀀𠀁 扩展区.mp3");
    QTest::newRow("ASCII") << QStringLiteral("music/Live 2019");
}

void TestUtf8::pathKeepsTheName()
{
    QFETCH(QString, name);
    const std::string utf8 = name.toStdString();
    const std::u8string back = pathFromUtf8(utf8).u8string();
    QCOMPARE(std::string(back.begin(), back.end()), utf8);
}

QTEST_GUILESS_MAIN(TestUtf8)
#include "tst_utf8.moc"
