#define _CRT_RAND_S // rand_s()

#include "journal/journalfile.h"

#include <windows.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <string>

namespace korvalo::journalfile {

namespace {

// ERROR_DIRECTORY_NOT_SUPPORTED, missing from older headers: a folder in place of a file.
constexpr DWORD kFolderInPlace = 336;

// No reparse point is followed (a symbolic link, a junction): it is opened as itself and refused.
constexpr DWORD kOpenFlags = FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT;
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

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

// What stands at the name, not followed: for an open that failed.
int refusedOpen(const std::filesystem::path &path)
{
    const int err = int(::GetLastError());
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    if (err == ERROR_ACCESS_DENIED && attributes != INVALID_FILE_ATTRIBUTES &&
        (attributes & FILE_ATTRIBUTE_DIRECTORY))
        return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) ? ERROR_CANT_RESOLVE_FILENAME
                                                           : int(kFolderInPlace);
    return err;
}

// A regular file on a disk, not a reparse point, not a folder. Who owns it is not asked: the
// folder lies in the user's profile, whose access list keeps other users out.
int checkFile(HANDLE file, BY_HANDLE_FILE_INFORMATION &info)
{
    if (::GetFileType(file) != FILE_TYPE_DISK)
        return ERROR_BAD_FILE_TYPE;
    if (!::GetFileInformationByHandle(file, &info))
        return int(::GetLastError());
    if (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)
        return ERROR_CANT_RESOLVE_FILENAME;
    if (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
        return int(kFolderInPlace);
    return 0;
}

int openChecked(const std::filesystem::path &path, DWORD access, DWORD disposition, HANDLE &out)
{
    const HANDLE file =
        ::CreateFileW(path.c_str(), access, kShareAll, nullptr, disposition, kOpenFlags, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return refusedOpen(path);
    BY_HANDLE_FILE_INFORMATION info;
    if (const int err = checkFile(file, info)) {
        ::CloseHandle(file);
        return err;
    }
    out = file;
    return 0;
}

std::wstring randomSuffix()
{
    static constexpr wchar_t kChars[] =
        L"0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
    static unsigned counter = 0;
    std::wstring out;
    for (std::size_t i = 0; i < kTemporaryRandom; ++i) {
        unsigned int value = 0;
        if (::rand_s(&value) != 0) // never expected; CREATE_NEW still proves the name free
            value = unsigned(::GetTickCount()) * 2654435761u + ++counter;
        out += kChars[value % (sizeof kChars / sizeof kChars[0] - 1)];
    }
    return out;
}

} // namespace

int AppendFile::open(const std::filesystem::path &path)
{
    close();
    HANDLE file = INVALID_HANDLE_VALUE;
    if (const int err = openChecked(path, FILE_APPEND_DATA, OPEN_EXISTING, file))
        return err;
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
    // The folder itself must be one: a junction or a link there would lead elsewhere.
    const DWORD attributes = ::GetFileAttributesW(folder.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return int(::GetLastError());
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT)
        return ERROR_CANT_RESOLVE_FILENAME;
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) ? 0 : ERROR_DIRECTORY;
}

int replaceFile(const std::filesystem::path &target, std::string_view content, Lasting)
{
    std::filesystem::path temp;
    HANDLE file = INVALID_HANDLE_VALUE;
    // A name taken already (a killed writer's leftover, or chance) is drawn again.
    for (int attempt = 0; file == INVALID_HANDLE_VALUE; ++attempt) {
        temp = target;
        temp += std::wstring(kTemporaryMarker.begin(), kTemporaryMarker.end()) + randomSuffix();
        file =
            ::CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, kOpenFlags, nullptr);
        if (file != INVALID_HANDLE_VALUE)
            break;
        const DWORD code = ::GetLastError();
        if ((code != ERROR_FILE_EXISTS && code != ERROR_ALREADY_EXISTS) || attempt >= 100)
            return int(code);
    }
    int err = writeAll(file, content);
    if (!err && !::FlushFileBuffers(file))
        err = int(::GetLastError());
    ::CloseHandle(file);
    // Written through: the rename is on disk when it returns, whatever was asked. A link at the
    // target is replaced, not followed.
    if (!err && !::MoveFileExW(temp.c_str(), target.c_str(),
                               MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        err = int(::GetLastError());
    if (err)
        ::DeleteFileW(temp.c_str());
    return err;
}

int readFile(const std::filesystem::path &path, std::string &out, std::uint64_t maxBytes)
{
    out.clear();
    HANDLE file = INVALID_HANDLE_VALUE;
    if (const int err = openChecked(path, GENERIC_READ, OPEN_EXISTING, file))
        return err;
    LARGE_INTEGER size;
    if (!::GetFileSizeEx(file, &size)) {
        const int err = int(::GetLastError());
        ::CloseHandle(file);
        return err;
    }
    if (std::uint64_t(size.QuadPart) > maxBytes) {
        ::CloseHandle(file);
        return ERROR_FILE_TOO_LARGE;
    }
    // One byte more than allowed is asked for: the file may have grown meanwhile.
    const std::uint64_t cap = maxBytes < UINT64_MAX ? maxBytes + 1 : maxBytes;
    out.resize(std::size_t(std::min<std::uint64_t>(cap, std::uint64_t(size.QuadPart) + 1)));
    std::size_t used = 0;
    int err = 0;
    for (;;) {
        if (used == out.size()) {
            if (used >= cap)
                break;
            out.resize(std::size_t(
                std::min<std::uint64_t>(cap, used + std::max<std::size_t>(used, 1 << 16))));
        }
        const DWORD chunk = DWORD(std::min<std::size_t>(out.size() - used, 0x40000000u));
        DWORD got = 0;
        if (!::ReadFile(file, out.data() + used, chunk, &got, nullptr)) {
            err = int(::GetLastError());
            break;
        }
        if (got == 0)
            break;
        used += got;
    }
    ::CloseHandle(file);
    out.resize(used);
    if (!err && used > maxBytes)
        err = ERROR_FILE_TOO_LARGE;
    if (err)
        out.clear();
    return err;
}

int openPrivateFile(const std::filesystem::path &path, std::intptr_t &handle)
{
    HANDLE file = INVALID_HANDLE_VALUE;
    if (const int err = openChecked(path, GENERIC_READ | GENERIC_WRITE, OPEN_ALWAYS, file))
        return err;
    handle = reinterpret_cast<std::intptr_t>(file);
    return 0;
}

Misfit misfitOf(int osError)
{
    switch (DWORD(osError)) {
    case ERROR_CANT_RESOLVE_FILENAME:
        return Misfit::Link;
    case kFolderInPlace:
        return Misfit::Folder;
    case ERROR_BAD_FILE_TYPE:
        return Misfit::Special;
    case ERROR_FILE_TOO_LARGE:
        return Misfit::TooLarge;
    default:
        return Misfit::None;
    }
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
