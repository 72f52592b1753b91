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

} // namespace korvalo
