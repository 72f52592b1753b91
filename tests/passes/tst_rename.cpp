#include "passes/rename.h"
#include "testdir.h"

#include <QTest>

#include <cerrno>

using korvalo::RenameError;
using korvalo::RenameOutcome;

namespace {

// The real system calls, except those told to answer with a given errno. Records every call, so a
// test can see which road the rename took.
class ScriptedCalls : public korvalo::RenameSystem
{
public:
    int renameErr = -1; // -1: do the real call
    int linkErr = -1;
    int unlinkErr = -1;
    QStringList calls;

    int renameNoReplace(const std::filesystem::path &from, const std::filesystem::path &to) override
    {
        calls << "renameat2";
        return renameErr >= 0 ? renameErr : real().renameNoReplace(from, to);
    }
    int link(const std::filesystem::path &from, const std::filesystem::path &to) override
    {
        calls << "link";
        return linkErr >= 0 ? linkErr : real().link(from, to);
    }
    int unlink(const std::filesystem::path &path) override
    {
        calls << "unlink:" + QString::fromStdString(path.filename().native());
        // Only the first unlink (of the old name) is scripted; undoing the link is real.
        if (unlinkErr >= 0 && calls.filter("unlink").size() == 1)
            return unlinkErr;
        return real().unlink(path);
    }
    int lexists(const std::filesystem::path &path) override
    {
        calls << "lstat";
        return real().lexists(path);
    }
    int plainRename(const std::filesystem::path &from, const std::filesystem::path &to) override
    {
        calls << "rename";
        return real().plainRename(from, to);
    }

private:
    static korvalo::RenameSystem &real() { return korvalo::systemRenameCalls(); }
};

} // namespace

class TestRename : public QObject
{
    Q_OBJECT

private slots:
    void realCalls_data();
    void realCalls();
    void fallbacks_data();
    void fallbacks();
    void errnoToCause_data();
    void errnoToCause();
};

void TestRename::realCalls_data()
{
    QTest::addColumn<QString>("from");
    QTest::addColumn<QString>("to");
    QTest::addColumn<QStringList>("existing");
    QTest::addColumn<int>("error");

    QTest::newRow("free name") << "a.mp3"
                               << "1234a.mp3" << QStringList{"a.mp3"} << int(RenameError::None);
    QTest::newRow("onto an existing file")
        << "1234a.mp3"
        << "a.mp3" << QStringList{"a.mp3", "1234a.mp3"} << int(RenameError::TargetExists);
    QTest::newRow("source missing")
        << "gone.mp3"
        << "1234gone.mp3" << QStringList{} << int(RenameError::SourceMissing);
    QTest::newRow("name too long") << "a.mp3" << QString(256, 'x') + ".mp3" << QStringList{"a.mp3"}
                                   << int(RenameError::NameTooLong);
}

void TestRename::realCalls()
{
    QFETCH(QString, from);
    QFETCH(QString, to);
    QFETCH(QStringList, existing);
    QFETCH(int, error);
    TestDir dir;
    for (const QString &name : existing)
        dir.touch(name.toStdString());
    const auto before = dir.contents();

    const RenameOutcome out =
        korvalo::renameNoReplace(dir / from.toStdString(), dir / to.toStdString());
    QCOMPARE(int(out.error), error);
    QCOMPARE(dir.contents(), before); // never a byte lost, whatever happened
    if (out.ok()) {
        QVERIFY(!std::filesystem::exists(dir / from.toStdString()));
        QCOMPARE(dir.read(to.toStdString()), "content of " + from.toStdString());
    } else {
        QVERIFY(out.osError != 0);
        for (const QString &name : existing) // each file still under its own name
            QCOMPARE(dir.read(name.toStdString()), "content of " + name.toStdString());
    }
}

// The roads through the fallbacks, as the file systems on USB sticks answer.
void TestRename::fallbacks_data()
{
    QTest::addColumn<int>("renameErr");
    QTest::addColumn<int>("linkErr");
    QTest::addColumn<int>("unlinkErr");
    QTest::addColumn<bool>("targetExists");
    QTest::addColumn<QStringList>("calls");
    QTest::addColumn<int>("error");

    const QStringList linkRoad{"renameat2", "link", "unlink:a.mp3"};
    const QStringList checkRoad{"renameat2", "link", "lstat", "rename"};

    QTest::newRow("flag supported")
        << -1 << -1 << -1 << false << QStringList{"renameat2"} << int(RenameError::None);
    QTest::newRow("flag supported, target exists")
        << -1 << -1 << -1 << true << QStringList{"renameat2"} << int(RenameError::TargetExists);
    QTest::newRow("EINVAL: hard link then unlink")
        << EINVAL << -1 << -1 << false << linkRoad << int(RenameError::None);
    QTest::newRow("EINVAL: hard link refused, target exists")
        << EINVAL << -1 << -1 << true << QStringList{"renameat2", "link"}
        << int(RenameError::TargetExists);
    QTest::newRow("EINVAL: unlink fails, the link is taken back")
        << EINVAL << -1 << EACCES << false
        << QStringList{"renameat2", "link", "unlink:a.mp3", "unlink:b.mp3"}
        << int(RenameError::PermissionDenied);
    QTest::newRow("EINVAL, no links (EPERM): check then rename")
        << EINVAL << EPERM << -1 << false << checkRoad << int(RenameError::None);
    QTest::newRow("EINVAL, no links (ENOSYS): check then rename")
        << EINVAL << ENOSYS << -1 << false << checkRoad << int(RenameError::None);
    QTest::newRow("EINVAL, no links, target exists: no rename at all")
        << EINVAL << EPERM << -1 << true << QStringList{"renameat2", "link", "lstat"}
        << int(RenameError::TargetExists);
    QTest::newRow("EINVAL, link fails for another reason")
        << EINVAL << EROFS << -1 << false << QStringList{"renameat2", "link"}
        << int(RenameError::ReadOnly);
}

void TestRename::fallbacks()
{
    QFETCH(int, renameErr);
    QFETCH(int, linkErr);
    QFETCH(int, unlinkErr);
    QFETCH(bool, targetExists);
    QFETCH(QStringList, calls);
    QFETCH(int, error);

    TestDir dir;
    dir.touch("a.mp3");
    if (targetExists)
        dir.touch("b.mp3");
    const auto before = dir.contents();
    ScriptedCalls sys;
    sys.renameErr = renameErr;
    sys.linkErr = linkErr;
    sys.unlinkErr = unlinkErr;

    const RenameOutcome out = korvalo::renameNoReplace(dir / "a.mp3", dir / "b.mp3", sys);
    QCOMPARE(sys.calls, calls);
    QCOMPARE(int(out.error), error);
    QCOMPARE(dir.contents(), before);
    if (out.ok()) {
        QCOMPARE(dir.names(), std::vector<std::string>{"b.mp3"});
        QCOMPARE(dir.read("b.mp3"), std::string("content of a.mp3"));
    } else {
        // The file keeps exactly its old name, and a file that was there keeps its content.
        QCOMPARE(dir.read("a.mp3"), std::string("content of a.mp3"));
        if (targetExists)
            QCOMPARE(dir.read("b.mp3"), std::string("content of b.mp3"));
        else
            QVERIFY(!std::filesystem::exists(dir / "b.mp3"));
    }
}

void TestRename::errnoToCause_data()
{
    QTest::addColumn<int>("err");
    QTest::addColumn<int>("error");
    QTest::newRow("EEXIST") << EEXIST << int(RenameError::TargetExists);
    QTest::newRow("ENOTEMPTY") << ENOTEMPTY << int(RenameError::TargetExists);
    QTest::newRow("ENOENT") << ENOENT << int(RenameError::SourceMissing);
    QTest::newRow("EACCES") << EACCES << int(RenameError::PermissionDenied);
    QTest::newRow("EPERM") << EPERM << int(RenameError::PermissionDenied);
    QTest::newRow("EROFS") << EROFS << int(RenameError::ReadOnly);
    QTest::newRow("ENAMETOOLONG") << ENAMETOOLONG << int(RenameError::NameTooLong);
    QTest::newRow("EINVAL after the fallbacks") << EINVAL << int(RenameError::InvalidName);
    QTest::newRow("EILSEQ") << EILSEQ << int(RenameError::InvalidName);
    QTest::newRow("ENOSPC") << ENOSPC << int(RenameError::NoSpace);
    QTest::newRow("EBUSY") << EBUSY << int(RenameError::Busy);
    QTest::newRow("EIO") << EIO << int(RenameError::IoError);
    QTest::newRow("ENOTCONN") << ENOTCONN << int(RenameError::DeviceGone);
    QTest::newRow("ENODEV") << ENODEV << int(RenameError::DeviceGone);
    QTest::newRow("ESTALE") << ESTALE << int(RenameError::DeviceGone);
    QTest::newRow("EXDEV") << EXDEV << int(RenameError::Other);
}

void TestRename::errnoToCause()
{
    QFETCH(int, err);
    QFETCH(int, error);
    const RenameOutcome out = korvalo::renameOutcomeFromErrno(err);
    QCOMPARE(int(out.error), error);
    QCOMPARE(out.osError, err);
}

QTEST_APPLESS_MAIN(TestRename)
#include "tst_rename.moc"
