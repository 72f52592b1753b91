#include "passes/rename.h"

namespace korvalo {

RenameOutcome renameOutcomeFromErrno(int err)
{
    return {causeOfErrno(err, OsAction::Renaming), err};
}

RenameOutcome renameOutcomeFromSystemError(int err)
{
    return {causeOfSystemError(err, OsAction::Renaming), err};
}

RenameOutcome Renamer::rename(const std::filesystem::path &from, const std::filesystem::path &to)
{
    return renameNative(from.c_str(), to.c_str());
}

RenameOutcome Renamer::renameText(const std::filesystem::path::string_type &from,
                                  const std::filesystem::path::string_type &to)
{
    return renameNative(from.c_str(), to.c_str());
}

RenameOutcome renameNoReplace(const std::filesystem::path &from, const std::filesystem::path &to,
                              RenameSystem &sys)
{
    return Renamer(sys).rename(from, to);
}

RenameOutcome renameNoReplaceText(const std::filesystem::path::string_type &from,
                                  const std::filesystem::path::string_type &to, RenameSystem &sys)
{
    return Renamer(sys).renameText(from, to);
}

void pathInFolder(std::filesystem::path::string_type &out, const std::filesystem::path &folder,
                  const std::filesystem::path::string_type &name)
{
    using Char = std::filesystem::path::value_type;
    constexpr Char separator = std::filesystem::path::preferred_separator;
    out.assign(folder.native());
    // A drive's root ("E:\") ends in a separator already.
    if (!out.empty() && out.back() != Char('/') && out.back() != separator)
        out += separator;
    out += name;
}

std::filesystem::path::string_type pathInFolder(const std::filesystem::path &folder,
                                                const std::filesystem::path::string_type &name)
{
    std::filesystem::path::string_type out;
    out.reserve(folder.native().size() + 1 + name.size());
    pathInFolder(out, folder, name);
    return out;
}

} // namespace korvalo
