#pragma once

#include <cstdint>
#include <filesystem>
#include <string_view>

// The few file operations the pass journal needs, one implementation per platform. Each returns
// 0 or the operating system's error number (errno, or the Windows error code).
namespace korvalo::journalfile {

// A file that lines are appended to. An append has reached the kernel when it returns, so a
// program killed right after it loses nothing; sync() makes it survive a power cut as well.
class AppendFile
{
public:
    AppendFile() = default;
    ~AppendFile() { close(); }
    AppendFile(const AppendFile &) = delete;
    AppendFile &operator=(const AppendFile &) = delete;

    int open(const std::filesystem::path &path);
    int append(std::string_view text);
    int sync();
    void close();
    bool isOpen() const { return m_handle != kClosed; }

private:
    static constexpr std::intptr_t kClosed = -1;
    std::intptr_t m_handle = kClosed;
};

// Creates the folder and its missing parents, readable by the user only where that can be said.
int makeFolder(const std::filesystem::path &folder);

enum class Lasting
{
    Now,       // the new content has replaced the old on disk when the call returns
    Eventually // a power cut soon after may bring the old content back (one sync less)
};

// Replaces the file's content as one step: writes a temporary file beside it, syncs it and
// renames it over the target, so a kill or a power cut leaves either the old or the new content.
int replaceFile(const std::filesystem::path &target, std::string_view content, Lasting lasting);

// Gives a file a new name in the same folder, never replacing a file there (EEXIST, on every
// platform, when `to` exists) and never following a link: a link is renamed itself.
int keepAside(const std::filesystem::path &from, const std::filesystem::path &to);

} // namespace korvalo::journalfile
