#include "browse/mountinfo.h"
#include "browse/volumes.h"
#include "browse/widetext_windows.h"

#include <windows.h>

#include <cstdio>
#include <vector>

namespace korvalo {

namespace {

// The names the rest of Korvalo knows file systems by, as Linux calls them.
std::string fsTypeOf(const std::string &windowsName)
{
    if (windowsName == "FAT32" || windowsName == "FAT" || windowsName == "FAT12" ||
        windowsName == "FAT16")
        return "vfat";
    std::string lower = windowsName;
    for (char &c : lower)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return lower.empty() ? "unknown" : lower;
}

// A volume serial number as Windows and Linux print that of a FAT volume: "2C6E-91F0".
std::string serialText(DWORD serial)
{
    char text[10];
    std::snprintf(text, sizeof text, "%04lX-%04lX", static_cast<unsigned long>(serial >> 16),
                  static_cast<unsigned long>(serial & 0xFFFF));
    return text;
}

// The folder's path inside its volume as the volume stores it ("/Music/Album" for a folder opened
// as "music\ALBUM"), from the name the system gives the opened folder without its volume. Empty
// when the folder cannot be opened or turns out to lie on another volume than `serial` (reached
// through a junction): the caller then keeps the path as typed. Windows opens names ignoring case
// on FAT, exFAT and NTFS alike, so this holds for every volume; where a folder of NTFS was made
// case-sensitive, the name opened is the only one that matches and comes back as it is.
std::filesystem::path storedPathInVolume(const std::filesystem::path &folder, DWORD serial)
{
    const HANDLE handle =
        ::CreateFileW(folder.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return {};
    std::wstring name;
    BY_HANDLE_FILE_INFORMATION info;
    if (::GetFileInformationByHandle(handle, &info) && info.dwVolumeSerialNumber == serial) {
        const DWORD flags = FILE_NAME_NORMALIZED | VOLUME_NAME_NONE;
        const DWORD size = ::GetFinalPathNameByHandleW(handle, nullptr, 0, flags);
        if (size > 0) {
            name.resize(size);
            const DWORD written = ::GetFinalPathNameByHandleW(handle, name.data(), size, flags);
            name.resize(written < size ? written : 0);
        }
    }
    ::CloseHandle(handle);
    if (name.empty() || (name.front() != L'\\' && name.front() != L'/'))
        return {};
    for (wchar_t &c : name)
        if (c == L'\\')
            c = L'/';
    return std::filesystem::path(name);
}

} // namespace

// There are no major and minor numbers on Windows; the pair only has to stay one number.
std::uint64_t deviceNumber(unsigned long major, unsigned long minor)
{
    return (static_cast<std::uint64_t>(major) << 32) | (minor & 0xFFFFFFFFu);
}

std::optional<std::uint64_t> deviceOf(const std::filesystem::path &folder)
{
    // FILE_FLAG_BACKUP_SEMANTICS opens a folder; asking for no access right needs none.
    const HANDLE handle =
        ::CreateFileW(folder.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return std::nullopt;
    BY_HANDLE_FILE_INFORMATION info;
    const bool known = ::GetFileInformationByHandle(handle, &info);
    ::CloseHandle(handle);
    if (!known)
        return std::nullopt;
    return static_cast<std::uint64_t>(info.dwVolumeSerialNumber);
}

std::vector<MountEntry> readMountTable()
{
    std::vector<MountEntry> out;
    const DWORD drives = ::GetLogicalDrives();
    for (int i = 0; i < 26; ++i) {
        if (!(drives & (DWORD(1) << i)))
            continue;
        MountEntry entry;
        entry.root = "/";
        entry.mountPoint = std::string(1, static_cast<char>('A' + i)) + ":\\";
        out.push_back(std::move(entry));
    }
    return out;
}

VolumeId identifyVolume(const MountEntry &, const std::filesystem::path &)
{
    return {};
}

std::optional<MountInfo> mountOf(const std::filesystem::path &folder, VolumeProbe)
{
    const std::optional<std::uint64_t> device = deviceOf(folder);
    if (!device)
        return std::nullopt;
    std::error_code ec;
    const std::filesystem::path full = std::filesystem::absolute(folder, ec).lexically_normal();
    if (ec)
        return std::nullopt;

    // The root of the volume: "E:\", or the folder a volume is mounted on.
    std::vector<wchar_t> root(full.native().size() + 2);
    if (!::GetVolumePathNameW(full.c_str(), root.data(), static_cast<DWORD>(root.size())))
        return std::nullopt;
    const std::wstring rootText(root.data());

    wchar_t fsName[MAX_PATH + 1] = {};
    DWORD serial = 0;
    if (!::GetVolumeInformationW(rootText.c_str(), nullptr, 0, &serial, nullptr, nullptr, fsName,
                                 MAX_PATH + 1))
        return std::nullopt;

    MountInfo info;
    info.device = *device;
    info.mountFsType = utf8FromWide(fsName);
    info.fsType = fsTypeOf(info.mountFsType);
    info.uuid = serialText(serial);
    info.mountPoint = rootText;
    wchar_t volumeName[64] = {};
    info.source = ::GetVolumeNameForVolumeMountPointW(rootText.c_str(), volumeName, 64)
                      ? utf8FromWide(volumeName)
                      : utf8FromWide(rootText);
    const std::filesystem::path inside = full.lexically_relative(info.mountPoint);
    info.typedPathInVolume = (inside.empty() || inside == ".")
                                 ? std::filesystem::path(L"/")
                                 : std::filesystem::path(L"/" + inside.generic_wstring());
    const std::filesystem::path stored = storedPathInVolume(full, serial);
    info.pathInVolume = stored.empty() ? info.typedPathInVolume : stored;
    // No identity of the medium here (a USB serial number would take the device tree through
    // SetupAPI): left empty, it says that cloned sticks cannot be told apart.
    return info;
}

// The drive letters in use, in letter order, each with its label and file system. A drive that
// answers no volume query (a card reader without a card, a network drive gone) is listed by its
// letter alone: choosing it tells why it cannot be read.
std::vector<Volume> mountedVolumes()
{
    std::vector<Volume> out;
    const DWORD letters = ::GetLogicalDrives();
    // Asking an empty floppy or card reader must not make Windows show a box of its own.
    const UINT oldMode = ::SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    for (int k = 0; k < 26; ++k) {
        if (!(letters & (1u << k)))
            continue;
        const wchar_t root[] = {static_cast<wchar_t>(L'A' + k), L':', L'\\', 0};
        wchar_t label[MAX_PATH + 1] = {};
        wchar_t fsName[MAX_PATH + 1] = {};
        Volume volume;
        volume.mountPoint = utf8FromWide(root);
        if (::GetVolumeInformationW(root, label, MAX_PATH + 1, nullptr, nullptr, nullptr, fsName,
                                    MAX_PATH + 1)) {
            volume.name = utf8FromWide(label);
            volume.fsType = fsTypeOf(utf8FromWide(fsName));
        }
        out.push_back(std::move(volume));
    }
    ::SetErrorMode(oldMode);
    return out;
}

} // namespace korvalo
