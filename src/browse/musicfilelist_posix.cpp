#include "browse/musicfilelist.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <memory>

namespace korvalo {

namespace {

class PosixFolderStream : public FolderCalls::Stream
{
public:
    explicit PosixFolderStream(DIR *dir) : m_dir(dir) {}
    ~PosixFolderStream() override { ::closedir(m_dir); }
    PosixFolderStream(const PosixFolderStream &) = delete;
    PosixFolderStream &operator=(const PosixFolderStream &) = delete;

    bool next(std::string_view &name, int &err) override
    {
        errno = 0;
        m_entry = ::readdir(m_dir);
        if (!m_entry) {
            err = errno;
            return false;
        }
        name = m_entry->d_name;
        return true;
    }

    // d_type answers without a system call on most file systems; links and unknown types need a
    // stat, which follows a link to what it points at.
    EntryKind kind() override
    {
        switch (m_entry->d_type) {
        case DT_REG:
            return EntryKind::File;
        case DT_DIR:
            return EntryKind::Folder;
        case DT_LNK:
        case DT_UNKNOWN:
            break;
        default:
            return EntryKind::Other;
        }
        struct stat st;
        if (::fstatat(::dirfd(m_dir), m_entry->d_name, &st, 0) != 0)
            return EntryKind::Other; // a dangling link, or gone meanwhile
        if (S_ISREG(st.st_mode))
            return EntryKind::File;
        if (S_ISDIR(st.st_mode))
            return EntryKind::Folder;
        return EntryKind::Other;
    }

private:
    DIR *m_dir;
    const dirent *m_entry = nullptr;
};

class PosixFolderCalls : public FolderCalls
{
public:
    std::unique_ptr<Stream> open(const std::filesystem::path &folder, int &err) override
    {
        DIR *dir = ::opendir(folder.c_str());
        if (!dir) {
            err = errno;
            return nullptr;
        }
        return std::make_unique<PosixFolderStream>(dir);
    }
};

} // namespace

FolderCalls &systemFolderCalls()
{
    static PosixFolderCalls calls;
    return calls;
}

std::filesystem::path pathOfName(std::string_view name)
{
    return std::filesystem::path(std::string(name)); // the bytes as they are
}

} // namespace korvalo
