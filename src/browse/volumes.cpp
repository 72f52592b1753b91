#include "browse/volumes.h"

#include <algorithm>
#include <array>
#include <string_view>

namespace korvalo {

namespace {

bool isPseudoFileSystem(std::string_view type)
{
    static constexpr std::array<std::string_view, 26> pseudo = {
        "proc",        "sysfs",      "devpts",    "devtmpfs",   "tmpfs",       "ramfs",
        "mqueue",      "debugfs",    "tracefs",   "securityfs", "pstore",      "bpf",
        "fusectl",     "configfs",   "hugetlbfs", "autofs",     "binfmt_misc", "squashfs",
        "efivarfs",    "rpc_pipefs", "nsfs",      "selinuxfs",  "nfsd",        "fuse.gvfsd-fuse",
        "fuse.portal", "fuse.lxcfs"};
    if (type.starts_with("cgroup"))
        return true;
    return std::find(pseudo.begin(), pseudo.end(), type) != pseudo.end();
}

// Folders whose mounts are the system's own business, not the user's.
bool isSystemMountPoint(const std::filesystem::path &mount)
{
    static const std::array<std::filesystem::path, 9> system = {
        "/proc", "/sys", "/dev", "/run", "/boot", "/snap", "/var/snap", "/var/lib/snapd", "/etc"};
    if (isInside(mount, "/run/media"))
        return false;
    return std::any_of(system.begin(), system.end(),
                       [&](const std::filesystem::path &s) { return isInside(mount, s); });
}

} // namespace

bool isInside(const std::filesystem::path &path, const std::filesystem::path &folder)
{
    auto p = path.begin();
    for (const auto &f : folder) {
        if (f.empty()) // a trailing separator
            continue;
        if (p == path.end() || *p != f)
            return false;
        ++p;
    }
    return true;
}

std::vector<Volume> userVolumes(const std::vector<Volume> &mounted)
{
    std::vector<Volume> out;
    bool haveRoot = false;
    for (const Volume &v : mounted) {
        const std::filesystem::path mount(v.mountPoint);
        if (v.mountPoint.empty() || mount.is_relative())
            continue;
        const bool root = mount == "/";
        if (!root) {
            if (isPseudoFileSystem(v.fsType) || v.fsType == "overlay" || isSystemMountPoint(mount))
                continue;
        }
        haveRoot = haveRoot || root;
        // A later mount on the same folder hides the earlier one.
        auto same = std::find_if(out.begin(), out.end(),
                                 [&](const Volume &o) { return o.mountPoint == v.mountPoint; });
        if (same != out.end())
            *same = v;
        else
            out.push_back(v);
    }
    if (!haveRoot)
        out.push_back({"/", "", ""});
    std::sort(out.begin(), out.end(), [](const Volume &a, const Volume &b) {
        const bool aRoot = a.mountPoint == "/";
        const bool bRoot = b.mountPoint == "/";
        if (aRoot != bRoot)
            return aRoot;
        return a.mountPoint < b.mountPoint;
    });
    return out;
}

std::filesystem::path volumeRootOf(const std::filesystem::path &path,
                                   const std::vector<std::filesystem::path> &roots)
{
    std::filesystem::path best = "/";
    std::size_t bestDepth = 0;
    for (const auto &root : roots) {
        if (!isInside(path, root))
            continue;
        const std::size_t depth = std::distance(root.begin(), root.end());
        if (depth > bestDepth) {
            best = root;
            bestDepth = depth;
        }
    }
    return best;
}

} // namespace korvalo
