#include "browse/mountinfo.h"
#include "browse/volumes.h"

#include <blkid.h>
#include <dirent.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/types.h>
#include <unistd.h>

#include <fstream>
#include <iterator>

namespace korvalo {

namespace {

// One value of a sysfs attribute, without the line end and the blanks around it; empty when the
// attribute is missing.
std::string attribute(const std::filesystem::path &file)
{
    std::ifstream in(file, std::ios::binary);
    std::string text;
    std::getline(in, text);
    const std::size_t begin = text.find_first_not_of(" \t\r");
    const std::size_t end = text.find_last_not_of(" \t\r");
    return begin == std::string::npos ? std::string() : text.substr(begin, end - begin + 1);
}

// An image file is the same medium whichever way it is reached: a loop device's backing file or
// a driver's source named by another path give one identity. A file that is gone (a loop device
// shows its backing file then as "/path (deleted)") keeps the name it had.
std::string fileIdentity(const std::string &path)
{
    std::error_code ec;
    const std::filesystem::path real = std::filesystem::canonical(path, ec);
    return "file:" + (ec ? path : real.native());
}

// The identity of a whole disk, from its folder under <sysfs>/devices. A device-mapper volume (an
// encrypted stick) has none: its folder lies under "virtual".
std::string diskIdentity(const std::filesystem::path &sysRoot, const std::filesystem::path &disk)
{
    // A loop device: the file it reads.
    if (const std::string backing = attribute(disk / "loop" / "backing_file"); !backing.empty())
        return fileIdentity(backing);

    // Up the device's path to the device that carries it. An SD/MMC card on the system's own
    // reader has its card id (maker, product, serial number). A USB disk has a serial number of
    // the USB device; a USB card reader has one too, but it is the READER's, shared by every card
    // put in it, and nothing tells a reader from a stick in general (both report removable media).
    // Two cloned cards swapped in one USB reader therefore look alike; that is accepted. A USB
    // device without a serial number gives nothing: the hub above it would name the port.
    std::error_code ec;
    const std::filesystem::path top = sysRoot / "devices";
    for (std::filesystem::path at = disk; at.has_relative_path() && at != top && at != sysRoot;
         at = at.parent_path()) {
        if (const std::string cid = attribute(at / "cid"); !cid.empty())
            return "mmc:" + cid;
        if (std::filesystem::exists(at / "idVendor", ec)) {
            const std::string serial = attribute(at / "serial");
            if (serial.empty())
                return {};
            return "usb:" + attribute(at / "idVendor") + ":" + attribute(at / "idProduct") + ":" +
                   serial;
        }
    }
    return {};
}

// The folder below the mount point as the volume stores it. On a file system that ignores case
// lstat() finds "MUSIC" when the entry is "Music", so only the parent's entries tell: each name
// is kept when the parent holds it exactly, else replaced by the entry equal to it ignoring case;
// from the first name that matches nothing (the folder went away) on, the rest is kept as typed.
std::filesystem::path storedSpelling(const std::filesystem::path &mountPoint,
                                     const std::filesystem::path &inside)
{
    std::filesystem::path parent = mountPoint;
    std::filesystem::path out;
    bool lost = false;
    for (const std::filesystem::path &part : inside) {
        std::string name = part.native();
        if (!lost) {
            std::string match;
            bool exact = false;
            if (DIR *dir = ::opendir(parent.c_str())) {
                while (const dirent *entry = ::readdir(dir)) {
                    const std::string_view entryName(entry->d_name);
                    if (entryName == name) {
                        exact = true;
                        break;
                    }
                    if (match.empty() && sameIgnoringCase(entryName, name))
                        match = entryName;
                }
                ::closedir(dir);
            }
            if (!exact && !match.empty())
                name = match;
            lost = !exact && match.empty();
        }
        out /= name;
        parent /= name;
    }
    return out;
}

} // namespace

std::string identityFromSysfs(const std::filesystem::path &sysRoot, unsigned long major,
                              unsigned long minor)
{
    std::error_code ec;
    const std::filesystem::path device = std::filesystem::canonical(
        sysRoot / "dev" / "block" / (std::to_string(major) + ":" + std::to_string(minor)), ec);
    if (ec)
        return {};
    // A partition's folder lies in its disk's folder; partition 1 of a stick stays partition 1.
    const std::string number = attribute(device / "partition");
    const std::string identity =
        diskIdentity(sysRoot, number.empty() ? device : device.parent_path());
    return identity.empty() || number.empty() ? identity : identity + "#" + number;
}

std::uint64_t deviceNumber(unsigned long major, unsigned long minor)
{
    return static_cast<std::uint64_t>(makedev(major, minor));
}

std::optional<std::uint64_t> deviceOf(const std::filesystem::path &folder)
{
    struct stat st;
    if (::stat(folder.c_str(), &st) != 0)
        return std::nullopt;
    return static_cast<std::uint64_t>(st.st_dev);
}

std::vector<MountEntry> readMountTable()
{
    std::ifstream in("/proc/self/mountinfo", std::ios::binary);
    if (!in)
        return {};
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return parseMountInfo(text);
}

VolumeId identifyVolume(const MountEntry &entry, const std::filesystem::path &udevData)
{
    if (entry.source.empty() || entry.source.front() != '/')
        return {};
    struct stat st;
    if (::stat(entry.source.c_str(), &st) != 0)
        return {};
    VolumeId id;
    if (S_ISBLK(st.st_mode)) {
        id.identity = identityFromSysfs("/sys", major(st.st_rdev), minor(st.st_rdev));
        const std::filesystem::path record = udevData / ("b" + std::to_string(major(st.st_rdev)) +
                                                         ":" + std::to_string(minor(st.st_rdev)));
        std::ifstream in(record, std::ios::binary);
        if (in) {
            const std::string text((std::istreambuf_iterator<char>(in)),
                                   std::istreambuf_iterator<char>());
            const VolumeId recorded = parseUdevData(text);
            if (!recorded.type.empty()) {
                id.type = recorded.type;
                id.uuid = recorded.uuid;
                return id;
            }
        }
    } else if (S_ISREG(st.st_mode)) {
        // ntfs-3g (or exfat-fuse) given an image file: the file is the medium.
        id.identity = fileIdentity(entry.source);
    } else {
        return {};
    }
    // No udev here (or it knows nothing of the device): read the superblock ourselves. A loop
    // device only root may read is read through its image file where that is readable (the
    // whole image, from its start), so the volume keeps its UUID, and its record its key, whoever
    // runs Korvalo.
    std::string readFrom = entry.source;
    if (::access(readFrom.c_str(), R_OK) != 0 && S_ISBLK(st.st_mode)) {
        const std::filesystem::path sys = "/sys/dev/block/" + std::to_string(major(st.st_rdev)) +
                                          ":" + std::to_string(minor(st.st_rdev));
        const std::string offset = attribute(sys / "loop" / "offset");
        readFrom = offset == "0" ? attribute(sys / "loop" / "backing_file") : std::string();
    }
    if (readFrom.empty() || ::access(readFrom.c_str(), R_OK) != 0)
        return id;
    blkid_probe probe = blkid_new_probe_from_filename(readFrom.c_str());
    if (!probe)
        return id;
    blkid_probe_enable_superblocks(probe, 1);
    blkid_probe_set_superblocks_flags(probe, BLKID_SUBLKS_TYPE | BLKID_SUBLKS_UUID);
    if (blkid_do_safeprobe(probe) == 0) {
        const char *value = nullptr;
        if (blkid_probe_lookup_value(probe, "TYPE", &value, nullptr) == 0 && value)
            id.type = value;
        if (blkid_probe_lookup_value(probe, "UUID", &value, nullptr) == 0 && value)
            id.uuid = value;
    }
    blkid_free_probe(probe);
    return id;
}

std::optional<MountInfo> mountOf(const std::filesystem::path &folder, VolumeProbe probe)
{
    const std::optional<std::uint64_t> device = deviceOf(folder);
    if (!device)
        return std::nullopt;
    std::error_code ec;
    std::filesystem::path real = std::filesystem::canonical(folder, ec);
    if (ec)
        real = std::filesystem::absolute(folder, ec).lexically_normal();
    std::function<VolumeId(const MountEntry &)> identify;
    if (probe == VolumeProbe::Resolve)
        identify = [](const MountEntry &entry) { return identifyVolume(entry); };
    return mountFromTable(real, *device, readMountTable(), identify, storedSpelling);
}

std::vector<Volume> mountedVolumes()
{
    // Volume labels as udev publishes them: /dev/disk/by-label/<label> links to the device, with
    // blanks and other bytes written as \xNN.
    std::vector<std::pair<std::filesystem::path, std::string>> labels;
    std::error_code ec;
    for (std::filesystem::directory_iterator it("/dev/disk/by-label", ec), end; !ec && it != end;
         it.increment(ec)) {
        const std::filesystem::path device = std::filesystem::canonical(it->path(), ec);
        if (ec) {
            ec.clear();
            continue;
        }
        const std::string raw = it->path().filename().native();
        std::string label;
        for (std::size_t k = 0; k < raw.size(); ++k) {
            if (raw.compare(k, 2, "\\x") == 0 && k + 3 < raw.size()) {
                label += static_cast<char>(std::stoi(raw.substr(k + 2, 2), nullptr, 16));
                k += 3;
            } else {
                label += raw[k];
            }
        }
        labels.emplace_back(device, label);
    }

    std::vector<Volume> out;
    for (const MountEntry &entry : readMountTable()) {
        std::string name;
        for (const auto &[device, label] : labels)
            if (!entry.source.empty() && std::filesystem::path(entry.source) == device)
                name = label;
        out.push_back({entry.mountPoint, entry.fsType, name});
    }
    return out;
}

} // namespace korvalo
