#pragma once

// What someone may put where Korvalo keeps a private file: a link, a pipe, a socket, a folder,
// another user's file or one too big to be ours. The readers and writers must refuse each.

#include <QString>
#include <QTest>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

// Puts `place` at `at`: "link to a file" (to `victim`), "link to /dev/zero", "dangling link" (to
// "made through the link" beside `victim`), "pipe", "socket", "folder", "another user's file",
// "oversized file" (`oversize` bytes) or "record" (a file of ours); anything else: nothing.
inline void plantAt(const std::filesystem::path &at, const QString &place,
                    const std::filesystem::path &victim, std::size_t oversize = 0)
{
    namespace fs = std::filesystem;
    if (place == "link to a file") {
        fs::create_symlink(victim, at);
    } else if (place == "link to /dev/zero") {
        fs::create_symlink("/dev/zero", at);
    } else if (place == "dangling link") {
        fs::create_symlink(victim.parent_path() / "made through the link", at);
    } else if (place == "pipe") {
        QCOMPARE(::mkfifo(at.c_str(), 0600), 0);
    } else if (place == "socket") {
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", at.c_str());
        QCOMPARE(::bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr), 0);
        ::close(fd);
    } else if (place == "folder") {
        fs::create_directory(at);
    } else if (place == "another user's file") {
        std::ofstream(at) << "x";
        QCOMPARE(::chown(at.c_str(), 65534, 65534), 0);
    } else if (place == "oversized file") {
        std::ofstream(at) << std::string(oversize, 'x');
    } else if (place == "record") {
        std::ofstream(at) << "record";
    }
}
