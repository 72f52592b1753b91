#include "browse/mountinfo.h"
#include "browse/volumes.h"

#include <blkid.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/types.h>
#include <unistd.h>

#include <fstream>
#include <iterator>

namespace korvalo {

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
    if (S_ISBLK(st.st_mode)) {
        const std::filesystem::path record = udevData / ("b" + std::to_string(major(st.st_rdev)) +
                                                         ":" + std::to_string(minor(st.st_rdev)));
        std::ifstream in(record, std::ios::binary);
        if (in) {
            const std::string text((std::istreambuf_iterator<char>(in)),
                                   std::istreambuf_iterator<char>());
            const VolumeId id = parseUdevData(text);
            if (!id.type.empty())
                return id;
        }
    } else if (!S_ISREG(st.st_mode)) {
        return {};
    }
    // No udev here (or it knows nothing of the device): read the superblock ourselves.
    if (::access(entry.source.c_str(), R_OK) != 0)
        return {};
    blkid_probe probe = blkid_new_probe_from_filename(entry.source.c_str());
    if (!probe)
        return {};
    VolumeId id;
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
    return mountFromTable(real, *device, readMountTable(), identify);
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
