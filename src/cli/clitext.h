#pragma once

// korvalo-cli's help and version. Every other text it shows is the session's (session/texts.h).

#include <string>

namespace korvalo::cli::text {

std::string help();
std::string version();

} // namespace korvalo::cli::text
