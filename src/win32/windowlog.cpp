#include "win32/windowlog.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>

namespace win32 {

namespace {

std::FILE *logFile()
{
    static std::FILE *file = [] {
        const wchar_t *path = ::_wgetenv(L"KORVALO_WINDOW_LOG");
        return path && path[0] ? ::_wfopen(path, L"wb") : nullptr;
    }();
    return file;
}

} // namespace

bool logging()
{
    return logFile() != nullptr;
}

void logLine(std::string_view line)
{
    std::FILE *file = logFile();
    if (!file)
        return;
    // Milliseconds since the log was opened: how long each step took.
    static const ULONGLONG opened = ::GetTickCount64();
    std::fprintf(file, "%llu ", static_cast<unsigned long long>(::GetTickCount64() - opened));
    std::fwrite(line.data(), 1, line.size(), file);
    std::fputc('\n', file);
    std::fflush(file);
}

std::string logField(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        if (c == '\\')
            out += "\\\\";
        else if (c == '\n')
            out += "\\n";
        else if (c == '\r')
            out += "\\r";
        else if (c == '\t')
            out += "\\t";
        else
            out += c;
    }
    return out;
}

} // namespace win32
