#include "browse/folderpath.h"

namespace korvalo {

std::filesystem::path normalFolder(const std::filesystem::path &path)
{
    std::error_code ec;
    std::filesystem::path p = path.is_absolute() ? path : std::filesystem::absolute(path, ec);
    if (ec)
        p = path;
    p = p.lexically_normal();
    if (p.has_relative_path() && !p.has_filename())
        p = p.parent_path();
    return p;
}

} // namespace korvalo
