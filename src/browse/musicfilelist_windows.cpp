#include "browse/musicfilelist.h"

#include <windows.h>

#include <memory>
#include <string>

namespace korvalo {

namespace {

// The path of everything in a folder, as FindFirstFileExW() wants it. A drive's root ("E:\")
// already ends in a separator.
std::wstring allIn(const std::filesystem::path &folder)
{
    std::wstring pattern = folder.native();
    if (!pattern.empty() && pattern.back() != L'\\' && pattern.back() != L'/')
        pattern += L'\\';
    pattern += L'*';
    return pattern;
}

// The UTF-8 form of a name; false for a name that is no valid UTF-16 (a lone surrogate NTFS lets
// through), which could not be named again to rename it.
bool toUtf8(const wchar_t *name, std::string &out)
{
    const int length = static_cast<int>(::wcslen(name));
    out.clear();
    if (length == 0)
        return true;
    const int size = ::WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, name, length, nullptr, 0,
                                           nullptr, nullptr);
    if (size <= 0)
        return false;
    out.resize(static_cast<std::size_t>(size));
    return ::WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, name, length, out.data(), size,
                                 nullptr, nullptr) == size;
}

class WindowsFolderStream : public FolderCalls::Stream
{
public:
    WindowsFolderStream(std::filesystem::path folder, HANDLE find, const WIN32_FIND_DATAW &first)
        : m_folder(std::move(folder)), m_find(find), m_data(first)
    {
    }
    ~WindowsFolderStream() override
    {
        if (m_find != INVALID_HANDLE_VALUE)
            ::FindClose(m_find);
    }
    WindowsFolderStream(const WindowsFolderStream &) = delete;
    WindowsFolderStream &operator=(const WindowsFolderStream &) = delete;

    bool next(std::string_view &name, int &err) override
    {
        err = 0;
        for (;;) {
            if (m_find == INVALID_HANDLE_VALUE)
                return false; // an empty drive root: not even "." and ".."
            if (m_started && !::FindNextFileW(m_find, &m_data)) {
                const DWORD code = ::GetLastError();
                if (code != ERROR_NO_MORE_FILES)
                    err = static_cast<int>(code);
                return false;
            }
            m_started = true;
            // What Explorer hides by default, and what a file list of the system's own dialogs
            // leaves out: hidden files and the system's files ("desktop.ini", "Thumbs.db", the
            // "System Volume Information" of a stick).
            if (m_data.dwFileAttributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM))
                continue;
            if (!toUtf8(m_data.cFileName, m_name))
                continue;
            name = m_name;
            return true;
        }
    }

    // The attributes of the entry answer, except for a link (a reparse point), which is taken for
    // what it points at: a dangling link is Other.
    EntryKind kind() override
    {
        DWORD attrs = m_data.dwFileAttributes;
        if (attrs & FILE_ATTRIBUTE_REPARSE_POINT) {
            const std::filesystem::path path = m_folder / m_data.cFileName;
            const HANDLE file = ::CreateFileW(
                path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
            if (file == INVALID_HANDLE_VALUE)
                return EntryKind::Other;
            BY_HANDLE_FILE_INFORMATION info;
            const bool known = ::GetFileInformationByHandle(file, &info);
            ::CloseHandle(file);
            if (!known)
                return EntryKind::Other;
            attrs = info.dwFileAttributes;
        }
        if (attrs & FILE_ATTRIBUTE_DEVICE)
            return EntryKind::Other;
        return (attrs & FILE_ATTRIBUTE_DIRECTORY) ? EntryKind::Folder : EntryKind::File;
    }

private:
    std::filesystem::path m_folder;
    HANDLE m_find;
    WIN32_FIND_DATAW m_data;
    std::string m_name;
    bool m_started = false;
};

class WindowsFolderCalls : public FolderCalls
{
public:
    std::unique_ptr<Stream> open(const std::filesystem::path &folder, int &err) override
    {
        WIN32_FIND_DATAW data;
        const HANDLE find =
            ::FindFirstFileExW(allIn(folder).c_str(), FindExInfoBasic, &data, FindExSearchNameMatch,
                               nullptr, FIND_FIRST_EX_LARGE_FETCH);
        if (find == INVALID_HANDLE_VALUE) {
            const DWORD code = ::GetLastError();
            // A drive's root has no "." and "..": when it is empty, nothing matches at all.
            const DWORD attrs = ::GetFileAttributesW(folder.c_str());
            if (code != ERROR_FILE_NOT_FOUND || attrs == INVALID_FILE_ATTRIBUTES ||
                !(attrs & FILE_ATTRIBUTE_DIRECTORY)) {
                // A file given as the folder answers ERROR_DIRECTORY or ERROR_PATH_NOT_FOUND.
                err = (attrs != INVALID_FILE_ATTRIBUTES && !(attrs & FILE_ATTRIBUTE_DIRECTORY))
                          ? static_cast<int>(ERROR_DIRECTORY)
                          : static_cast<int>(code);
                return nullptr;
            }
            data = {};
        }
        return std::make_unique<WindowsFolderStream>(folder, find, data);
    }
};

} // namespace

FolderCalls &systemFolderCalls()
{
    static WindowsFolderCalls calls;
    return calls;
}

std::filesystem::path pathOfName(std::string_view name)
{
    if (name.empty())
        return {};
    const int length = static_cast<int>(name.size());
    const int size = ::MultiByteToWideChar(CP_UTF8, 0, name.data(), length, nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(size > 0 ? size : 0), L'\0');
    if (size > 0)
        ::MultiByteToWideChar(CP_UTF8, 0, name.data(), length, wide.data(), size);
    return std::filesystem::path(std::move(wide));
}

} // namespace korvalo
