#pragma once

// A temporary folder for tests that touch files: makes files with given names and contents and
// reads back what the folder holds. Names are native bytes, so names that are not valid UTF-8
// work too.

#include <QStringList>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <vector>

// A file's bytes ("" when it cannot be read).
inline std::string contentOf(const std::filesystem::path &file)
{
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The bare names in `folder`, sorted by bytes.
inline std::vector<std::string> namesIn(const std::filesystem::path &folder)
{
    std::vector<std::string> out;
    for (const auto &e : std::filesystem::directory_iterator(folder))
        out.push_back(e.path().filename().native());
    std::sort(out.begin(), out.end());
    return out;
}

class TestDir
{
public:
    TestDir() { QVERIFY2(m_dir.isValid(), qPrintable(m_dir.errorString())); }
    // Removed by bytes first: Qt cannot remove names that are not valid UTF-8.
    ~TestDir()
    {
        std::error_code ec;
        std::filesystem::remove_all(path(), ec);
    }
    TestDir(const TestDir &) = delete;
    TestDir &operator=(const TestDir &) = delete;

    std::filesystem::path path() const { return std::filesystem::path(m_dir.path().toStdString()); }
    std::filesystem::path operator/(const std::string &name) const { return path() / name; }

    // Writes a file whose content is its own name, so a test can tell which file is which.
    void touch(const std::string &name) { write(name, "content of " + name); }

    void write(const std::string &name, const std::string &content)
    {
        std::ofstream out(path() / name, std::ios::binary);
        out << content;
        QVERIFY2(out.good(), name.c_str());
    }

    void mkdir(const std::string &name) { std::filesystem::create_directories(path() / name); }

    std::string read(const std::string &name) const { return contentOf(path() / name); }

    // The bare names in the folder, sorted by bytes.
    std::vector<std::string> names() const { return namesIn(path()); }

    // Every file's content, keyed by content: a pass must keep this multiset unchanged.
    std::multiset<std::string> contents() const
    {
        std::multiset<std::string> out;
        for (const auto &e : std::filesystem::directory_iterator(path()))
            if (e.is_regular_file())
                out.insert(read(e.path().filename().native()));
        return out;
    }

private:
    QTemporaryDir m_dir;
};

// Touches each of `names` (see TestDir::touch).
inline void touchAll(TestDir &dir, const QStringList &names)
{
    for (const QString &name : names)
        dir.touch(name.toStdString());
}

// The bare names in the folder, sorted by bytes, as Qt strings for QCOMPARE.
inline QStringList namesOf(const TestDir &dir)
{
    QStringList out;
    for (const std::string &name : dir.names())
        out << QString::fromStdString(name);
    return out;
}
