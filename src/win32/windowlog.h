#pragma once

// A record of what the window shows, for checks that drive it from outside: when the environment
// variable KORVALO_WINDOW_LOG names a file, the window writes there, one line each, its controls
// (rectangle, caption, enabled state), its lists and every box it shows with the answer given.
// Reading a control's state back through the display server is unreliable; this is not.
// Without the variable nothing is written.

#include <string>
#include <string_view>

namespace win32 {

bool logging();
// Appends one line (UTF-8), headed by the milliseconds since the log was opened, and flushes it,
// so a check sees it at once.
void logLine(std::string_view line);
// A text as one field of a line: backslashes and line breaks escaped.
std::string logField(std::string_view text);

} // namespace win32
