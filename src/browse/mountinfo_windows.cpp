#include "browse/mountinfo.h"
#include "browse/volumes.h"

#include <windows.h>

#include <cstdio>
#include <vector>

namespace korvalo {

namespace {

std::string utf8Of(const std::wstring &text)
{
    if (text.empty())
        return {};
    const int size = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                           nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(size > 0 ? size : 0), '\0');
    if (size > 0)
        ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(),
                              size, nullptr, nullptr);
    return out;
}

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
    return {};
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
    info.mountFsType = utf8Of(fsName);
    info.fsType = fsTypeOf(info.mountFsType);
    info.uuid = serialText(serial);
    info.mountPoint = rootText;
    wchar_t volumeName[64] = {};
    info.source = ::GetVolumeNameForVolumeMountPointW(rootText.c_str(), volumeName, 64)
                      ? utf8Of(volumeName)
                      : utf8Of(rootText);
    const std::filesystem::path inside = full.lexically_relative(info.mountPoint);
    info.pathInVolume = (inside.empty() || inside == ".")
                            ? std::filesystem::path(L"/")
                            : std::filesystem::path(L"/" + inside.generic_wstring());
    return info;
}

// The window's drive list is not built for Windows yet; a drive selector there would list the
// letters of GetLogicalDriveStringsW.
std::vector<Volume> mountedVolumes()
{
    return {};
}

} // namespace korvalo
