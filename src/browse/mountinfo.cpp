#include "browse/mountinfo.h"

#include <iterator>

namespace korvalo {

namespace {

// Undoes the octal escapes the kernel writes for blanks, tabs, newlines and backslashes.
std::string decodeEscapes(std::string_view field)
{
    std::string out;
    out.reserve(field.size());
    for (std::size_t k = 0; k < field.size(); ++k) {
        const auto isOctal = [&](std::size_t at) {
            return at < field.size() && field[at] >= '0' && field[at] <= '7';
        };
        if (field[k] == '\\' && isOctal(k + 1) && isOctal(k + 2) && isOctal(k + 3)) {
            out += static_cast<char>(((field[k + 1] - '0') << 6) | ((field[k + 2] - '0') << 3) |
                                     (field[k + 3] - '0'));
            k += 3;
        } else {
            out += field[k];
        }
    }
    return out;
}

std::vector<std::string_view> splitFields(std::string_view line)
{
    std::vector<std::string_view> fields;
    std::size_t k = 0;
    while (k < line.size()) {
        while (k < line.size() && line[k] == ' ')
            ++k;
        const std::size_t begin = k;
        while (k < line.size() && line[k] != ' ')
            ++k;
        if (k > begin)
            fields.push_back(line.substr(begin, k - begin));
    }
    return fields;
}

std::optional<std::uint64_t> parseDevice(std::string_view field)
{
    const std::size_t colon = field.find(':');
    if (colon == std::string_view::npos || colon == 0 || colon + 1 >= field.size())
        return std::nullopt;
    unsigned long major = 0;
    unsigned long minor = 0;
    for (std::size_t k = 0; k < field.size(); ++k) {
        if (k == colon)
            continue;
        if (field[k] < '0' || field[k] > '9')
            return std::nullopt;
        unsigned long &part = k < colon ? major : minor;
        part = part * 10 + static_cast<unsigned long>(field[k] - '0');
    }
    return deviceNumber(major, minor);
}

// True when `path` is `folder` or lies inside it, compared by components.
bool holds(const std::filesystem::path &folder, const std::filesystem::path &path)
{
    auto p = path.begin();
    for (const auto &part : folder) {
        if (part.empty())
            continue;
        if (p == path.end() || *p != part)
            return false;
        ++p;
    }
    return true;
}

bool isUnnamedFuse(const std::string &type)
{
    return type == "fuseblk" || type == "fuse";
}

// The next character of UTF-8 text, advancing `at`. A byte that starts no valid sequence comes
// back on its own, above the Unicode range, so that it equals only the same byte.
char32_t nextChar(std::string_view text, std::size_t &at)
{
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char lead = byte(at);
    const std::size_t length = lead < 0x80         ? 1
                               : (lead >> 5) == 6  ? 2
                               : (lead >> 4) == 14 ? 3
                               : (lead >> 3) == 30 ? 4
                                                   : 0;
    char32_t c = length == 1 ? lead : lead & (0x7F >> length);
    bool valid = length > 0 && at + length <= text.size();
    for (std::size_t k = 1; valid && k < length; ++k) {
        valid = (byte(at + k) & 0xC0) == 0x80;
        c = (c << 6) | (byte(at + k) & 0x3F);
    }
    if (!valid) {
        ++at;
        return 0x110000 + lead;
    }
    at += length;
    return c;
}

// The small letter of a capital, by Unicode's simple case folding for the alphabets named at
// sameIgnoringCase(); every other character is its own.
char32_t foldLetter(char32_t c)
{
    const auto pairedEven = [](char32_t x) { return x % 2 == 0 ? x + 1 : x; };
    const auto pairedOdd = [](char32_t x) { return x % 2 == 1 ? x + 1 : x; };
    if ((c >= 'A' && c <= 'Z') || (c >= 0xC0 && c <= 0xDE && c != 0xD7) ||
        (c >= 0x391 && c <= 0x3AB && c != 0x3A2) || (c >= 0x410 && c <= 0x42F) ||
        (c >= 0xFF21 && c <= 0xFF3A))
        return c + 0x20;
    if ((c >= 0x100 && c <= 0x12F) || (c >= 0x132 && c <= 0x137) || (c >= 0x14A && c <= 0x177))
        return pairedEven(c);
    if ((c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E))
        return pairedOdd(c);
    if (c >= 0x400 && c <= 0x40F)
        return c + 0x50;
    switch (c) {
    case 0xB5: // micro sign
        return 0x3BC;
    case 0x178: // Y with diaeresis
        return 0xFF;
    case 0x17F: // long s
        return 's';
    case 0x3C2: // final sigma
        return 0x3C3;
    default:
        return c;
    }
}

} // namespace

std::vector<MountEntry> parseMountInfo(std::string_view text)
{
    std::vector<MountEntry> out;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        const std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);

        // id parent major:minor root mount-point options [optional fields...] - type source ...
        const std::vector<std::string_view> fields = splitFields(line);
        std::size_t dash = 6;
        while (dash < fields.size() && fields[dash] != "-")
            ++dash;
        if (fields.size() < 6 || dash + 1 >= fields.size())
            continue;
        const std::optional<std::uint64_t> device = parseDevice(fields[2]);
        if (!device)
            continue;
        MountEntry entry;
        entry.device = *device;
        entry.root = decodeEscapes(fields[3]);
        entry.mountPoint = decodeEscapes(fields[4]);
        entry.fsType = decodeEscapes(fields[dash + 1]);
        if (dash + 2 < fields.size())
            entry.source = decodeEscapes(fields[dash + 2]);
        out.push_back(std::move(entry));
    }
    return out;
}

VolumeId parseUdevData(std::string_view text)
{
    VolumeId id;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        const std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        if (line.starts_with("E:ID_FS_TYPE="))
            id.type = line.substr(13);
        else if (line.starts_with("E:ID_FS_UUID="))
            id.uuid = line.substr(13);
    }
    return id;
}

MountInfo mountFromTable(const std::filesystem::path &folder, std::uint64_t device,
                         const std::vector<MountEntry> &table,
                         const std::function<VolumeId(const MountEntry &)> &identify,
                         const SpellStored &spell)
{
    MountInfo info;
    info.device = device;
    // Of the mounts of this device, the one whose mount point holds the folder most closely; a
    // later mount on the same point hides an earlier one.
    const MountEntry *best = nullptr;
    std::size_t bestDepth = 0;
    for (const MountEntry &entry : table) {
        if (entry.device != device)
            continue;
        const std::filesystem::path point(entry.mountPoint);
        if (!holds(point, folder))
            continue;
        const auto depth = static_cast<std::size_t>(std::distance(point.begin(), point.end()));
        if (!best || depth >= bestDepth) {
            best = &entry;
            bestDepth = depth;
        }
    }
    if (!best) {
        info.fsType = "unknown";
        info.pathInVolume = folder;
        info.typedPathInVolume = folder;
        return info;
    }
    info.mountFsType = best->fsType;
    info.source = best->source;
    info.mountPoint = best->mountPoint;

    info.fsType = best->fsType;
    if (isUnnamedFuse(best->fsType) || best->source.starts_with("/dev/")) {
        const VolumeId id = identify ? identify(*best) : VolumeId{};
        info.uuid = id.uuid;
        info.identity = id.identity;
        if (isUnnamedFuse(best->fsType))
            info.fsType = id.type.empty() ? "unknown" : id.type;
    }

    // The root of a bind mount is kept as the table gives it: it cannot be reached from here.
    const std::filesystem::path inside = folder.lexically_relative(info.mountPoint);
    const std::filesystem::path root(best->root.empty() ? "/" : best->root);
    const bool atRoot = inside.empty() || inside == ".";
    info.typedPathInVolume = atRoot ? root : (root / inside);
    info.pathInVolume = info.typedPathInVolume;
    if (!atRoot && spell && ignoresCase(info.fsType))
        info.pathInVolume = root / spell(info.mountPoint, inside);
    return info;
}

bool ignoresCase(const std::string &fsType)
{
    return fsType == "vfat" || fsType == "msdos" || fsType == "exfat" || fsType == "fuse.fusefat" ||
           fsType == "fuse.exfat";
}

bool sameIgnoringCase(std::string_view a, std::string_view b)
{
    std::size_t i = 0;
    std::size_t j = 0;
    while (i < a.size() && j < b.size())
        if (foldLetter(nextChar(a, i)) != foldLetter(nextChar(b, j)))
            return false;
    return i == a.size() && j == b.size();
}

bool isUnsafeDriver(const MountInfo &info)
{
    return info.fsType == "fuse.fusefat" || info.mountFsType == "fuse.fusefat";
}

} // namespace korvalo
