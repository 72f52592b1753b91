#include "passes/journalfile.h"

#include <windows.h>

#include <cerrno>

namespace korvalo::journalfile {

namespace {

HANDLE handleOf(std::intptr_t h)
{
    return reinterpret_cast<HANDLE>(h);
}

int writeAll(HANDLE file, std::string_view text)
{
    while (!text.empty()) {
        const DWORD chunk = text.size() > 0x40000000u ? 0x40000000u : DWORD(text.size());
        DWORD written = 0;
        if (!::WriteFile(file, text.data(), chunk, &written, nullptr))
            return int(::GetLastError());
        text.remove_prefix(written);
    }
    return 0;
}

} // namespace

int AppendFile::open(const std::filesystem::path &path)
{
    close();
    const HANDLE file =
        ::CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                      OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return int(::GetLastError());
    m_handle = reinterpret_cast<std::intptr_t>(file);
    return 0;
}

int AppendFile::append(std::string_view text)
{
    if (!isOpen())
        return ERROR_INVALID_HANDLE;
    return writeAll(handleOf(m_handle), text);
}

int AppendFile::sync()
{
    if (!isOpen())
        return ERROR_INVALID_HANDLE;
    return ::FlushFileBuffers(handleOf(m_handle)) ? 0 : int(::GetLastError());
}

void AppendFile::close()
{
    if (isOpen())
        ::CloseHandle(handleOf(m_handle));
    m_handle = kClosed;
}

int makeFolder(const std::filesystem::path &folder)
{
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    if (ec)
        return ec.value();
    return std::filesystem::is_directory(folder, ec) ? 0 : ERROR_DIRECTORY;
}

int replaceFile(const std::filesystem::path &target, std::string_view content, Lasting)
{
    std::filesystem::path temp = target;
    temp += L".new";
    const HANDLE file = ::CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return int(::GetLastError());
    int err = writeAll(file, content);
    if (!err && !::FlushFileBuffers(file))
        err = int(::GetLastError());
    ::CloseHandle(file);
    // Written through: the rename is on disk when it returns, whatever was asked.
    if (!err && !::MoveFileExW(temp.c_str(), target.c_str(),
                               MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        err = int(::GetLastError());
    if (err)
        ::DeleteFileW(temp.c_str());
    return err;
}

int keepAside(const std::filesystem::path &from, const std::filesystem::path &to)
{
    // Without MOVEFILE_REPLACE_EXISTING a taken name is refused; a link is moved itself.
    if (::MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_WRITE_THROUGH))
        return 0;
    const DWORD err = ::GetLastError();
    return err == ERROR_ALREADY_EXISTS || err == ERROR_FILE_EXISTS ? EEXIST : int(err);
}

} // namespace korvalo::journalfile
