// The journal's files are private: whatever someone put in place of a record or of the folder
// that holds it (a link, a pipe, a folder, another user's file, a huge file), the reader and the
// writers refuse it promptly with their own error number, and follow no link.

#include "journal/journalfile.h"
#include "support/childprocess.h"
#include "support/hostileplace.h"
#include "support/testdir.h"

#include <QTest>

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace fs = std::filesystem;
namespace jf = korvalo::journalfile;

namespace {

constexpr std::uint64_t kCap = 4096;
constexpr int kPrompt = 5000; // ms: a call that takes longer hangs

// The victim a planted link points to: it must stay as it is.
const std::string kVictimText = "not Korvalo's";

} // namespace

class TestJournalFile : public QObject
{
    Q_OBJECT

private slots:
    void hostilePlaces_data();
    void hostilePlaces();
    void hostileFolders_data();
    void hostileFolders();
};

void TestJournalFile::hostilePlaces_data()
{
    QTest::addColumn<QString>("place"); // what stands at the record's name
    QTest::addColumn<int>("readError");
    QTest::addColumn<int>("appendError");
    QTest::addColumn<int>("replaceError");
    QTest::newRow("link to a file") << "link to a file" << ELOOP << ELOOP << 0;
    QTest::newRow("link to /dev/zero") << "link to /dev/zero" << ELOOP << ELOOP << 0;
    QTest::newRow("dangling link") << "dangling link" << ELOOP << ELOOP << 0;
    QTest::newRow("pipe") << "pipe" << ENXIO << ENXIO << 0;
    QTest::newRow("socket") << "socket" << ENXIO << ENXIO << 0;
    QTest::newRow("folder") << "folder" << EISDIR << EISDIR << EISDIR;
    QTest::newRow("another user's file") << "another user's file" << EPERM << EPERM << 0;
    QTest::newRow("oversized file") << "oversized file" << EFBIG << 0 << 0;
    QTest::newRow("nothing") << "nothing" << ENOENT << ENOENT << 0;
    QTest::newRow("a record of ours") << "record" << 0 << 0 << 0;
}

void TestJournalFile::hostilePlaces()
{
    QFETCH(QString, place);
    QFETCH(int, readError);
    QFETCH(int, appendError);
    QFETCH(int, replaceError);
    TestDir dir;
    const fs::path record = dir / "0123.journal";
    dir.write("victim", kVictimText);
    // Where older versions wrote before renaming: a link there must not be followed either.
    fs::create_symlink(dir / "victim", dir / "0123.journal.new");
    plantAt(record, place, dir / "victim", kCap + 1);

    // In a child each: a pipe or a device must not keep the call waiting.
    QCOMPARE(inChildWithin(kPrompt,
                           [&] {
                               std::string text;
                               return jf::readFile(record, text, kCap);
                           }),
             readError);
    QCOMPARE(inChildWithin(kPrompt,
                           [&] {
                               jf::AppendFile file;
                               const int err = file.open(record);
                               return err ? err : file.append("appended\n");
                           }),
             appendError);
    QVERIFY(!fs::exists(dir / "made through the link"));

    const int replaced = jf::replaceFile(record, "new\n", jf::Lasting::Now);
    QCOMPARE(replaced, replaceError);
    QCOMPARE(dir.read("victim"), kVictimText);
    if (replaced == 0) {
        // The record itself now: a regular file with the new content, and nothing else is left.
        QVERIFY(fs::is_regular_file(fs::symlink_status(record)));
        std::string text;
        QCOMPARE(jf::readFile(record, text, kCap), 0);
        QCOMPARE(text, std::string("new\n"));
        for (const auto &entry : fs::directory_iterator(dir.path()))
            QVERIFY2(!jf::isTemporaryName(entry.path()), entry.path().c_str());
    }
}

void TestJournalFile::hostileFolders_data()
{
    QTest::addColumn<QString>("folder"); // what stands at the state folder's place
    QTest::addColumn<int>("error");
    QTest::newRow("missing, under missing folders") << "missing" << 0;
    QTest::newRow("ours, others may read") << "0755" << 0;
    QTest::newRow("another user's") << "another user's" << EPERM;
    QTest::newRow("group may write") << "0770" << EPERM;
    QTest::newRow("others may write") << "0757" << EPERM;
    QTest::newRow("a link to a folder of ours") << "link" << ELOOP;
    QTest::newRow("a regular file") << "file" << ENOTDIR;
}

void TestJournalFile::hostileFolders()
{
    QFETCH(QString, folder);
    QFETCH(int, error);
    TestDir dir;
    const fs::path state = folder == "missing" ? dir / "a/b/korvalo" : dir / "korvalo";
    if (folder == "link") {
        dir.mkdir("real");
        fs::create_directory_symlink(dir / "real", state);
    } else if (folder == "file") {
        dir.touch("korvalo");
    } else if (folder != "missing") {
        dir.mkdir("korvalo");
        if (folder == "another user's")
            QCOMPARE(::chown(state.c_str(), 65534, 65534), 0);
        else
            QCOMPARE(::chmod(state.c_str(), mode_t(folder.toUInt(nullptr, 8))), 0);
    }

    QCOMPARE(jf::makeFolder(state), error);
    if (folder == "missing") {
        struct stat st;
        QCOMPARE(::stat(state.c_str(), &st), 0);
        QCOMPARE(st.st_mode & 0777, mode_t(0700));
    }
    const fs::path record = state / "0123.journal";
    QCOMPARE(jf::replaceFile(record, "new\n", jf::Lasting::Now), error);
    std::string text;
    QCOMPARE(jf::readFile(record, text, kCap), error ? error : 0);
    if (folder == "link")
        QVERIFY(fs::is_empty(dir / "real")); // nothing written through the link
}

QTEST_GUILESS_MAIN(TestJournalFile)
#include "tst_journalfile.moc"
