#include "volumefiles.h"

#include <QCryptographicHash>
#include <QStringList>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <random>

namespace fs = std::filesystem;

std::string contentFor(const std::string &name)
{
    std::seed_seq seed(name.begin(), name.end());
    std::mt19937 gen(seed);
    std::string out(3000 + gen() % 20000, '\0');
    for (char &c : out)
        c = static_cast<char>(gen());
    return out;
}

std::string hashOf(const std::string &data)
{
    return QCryptographicHash::hash(QByteArray::fromStdString(data), QCryptographicHash::Sha256)
        .toHex()
        .toStdString();
}

bool writeFile(const fs::path &path, const std::string &data)
{
    std::ofstream out(path, std::ios::binary);
    out << data;
    out.close();
    return out.good();
}

std::string readFile(const fs::path &path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

Snapshot snapshot(const fs::path &dir)
{
    Snapshot out;
    for (const auto &e : fs::directory_iterator(dir)) {
        const std::string name = e.path().filename().native();
        out[name] = e.is_directory() ? std::string("<folder>") : hashOf(readFile(e.path()));
    }
    return out;
}

QString show(const Snapshot &s)
{
    QStringList names;
    for (const auto &[name, hash] : s)
        names << QString::fromStdString(name) + '=' + QString::fromStdString(hash.substr(0, 8));
    return names.join(", ");
}

std::vector<std::string> hashes(const Snapshot &s)
{
    std::vector<std::string> out;
    for (const auto &[name, hash] : s)
        out.push_back(hash);
    std::sort(out.begin(), out.end());
    return out;
}

QString unaccounted(const Snapshot &now, const Snapshot &was, const NameRule &named)
{
    Snapshot left = now;
    for (const auto &[name, hash] : was) {
        int found = 0;
        for (const auto &[n, h] : now)
            if (h == hash && named(n, name) && left.erase(n))
                ++found;
        if (found != 1)
            return QString::fromStdString(name) + " -> " + show(now);
    }
    return left.empty() ? QString() : "added: " + show(left);
}

bool holdsEveryFileOnce(const Snapshot &now, const Snapshot &original)
{
    const auto kept = [](const std::string &n, const std::string &o) {
        return n == o || hasPrefixBefore(n, o);
    };
    return unaccounted(now, original, kept).isEmpty();
}

std::string repeat(const std::string &unit, int times)
{
    std::string out;
    for (int i = 0; i < times; ++i)
        out += unit;
    return out;
}

namespace {

const char *renameErrorName(korvalo::RenameError e)
{
    using korvalo::RenameError;
    switch (e) {
    case RenameError::None:
        return "None";
    case RenameError::TargetExists:
        return "TargetExists";
    case RenameError::SourceMissing:
        return "SourceMissing";
    case RenameError::FolderGone:
        return "FolderGone";
    case RenameError::NotFound:
        return "NotFound";
    case RenameError::NotAFolder:
        return "NotAFolder";
    case RenameError::PermissionDenied:
        return "PermissionDenied";
    case RenameError::ReadOnly:
        return "ReadOnly";
    case RenameError::NameTooLong:
        return "NameTooLong";
    case RenameError::InvalidName:
        return "InvalidName";
    case RenameError::NoSpace:
        return "NoSpace";
    case RenameError::Busy:
        return "Busy";
    case RenameError::IoError:
        return "IoError";
    case RenameError::DeviceGone:
        return "DeviceGone";
    case RenameError::Other:
        return "Other";
    }
    return "?";
}

} // namespace

QString describe(const korvalo::RenameOutcome &o)
{
    return QStringLiteral("%1 (errno %2: %3)")
        .arg(QLatin1String(renameErrorName(o.error)))
        .arg(o.osError)
        .arg(QString::fromLocal8Bit(std::strerror(o.osError)));
}

QString populate(MountedImage &image, Snapshot &out, const std::vector<std::string> &files,
                 const std::vector<std::string> &folders, const fs::path &folder)
{
    const fs::path base = folder.empty() ? image.root() : folder;
    for (const std::string &f : folders) {
        std::error_code ec;
        fs::create_directory(base / f, ec);
        if (ec)
            return QStringLiteral("cannot make folder %1 on %2: %3")
                .arg(QString::fromStdString(f), kindName(image.kind()),
                     QString::fromStdString(ec.message()));
    }
    for (const std::string &f : files)
        if (!writeFile(base / f, contentFor(f)))
            return QStringLiteral("cannot write %1 on %2: %3")
                .arg(QString::fromStdString(f), kindName(image.kind()), std::strerror(errno));
    const QString err = image.remount();
    if (!err.isEmpty())
        return "remount failed: " + err;
    out = snapshot(base);
    if (out.size() != files.size() + folders.size())
        return "the stick does not hold what was written: " + show(out);
    return {};
}
