#include "cli/console_windows.h"

#include "browse/widetext_windows.h"
#include "cli/utf8.h"

#include <string_view>
#include <vector>

namespace korvalo::cli {

namespace {

// Output for a file or a pipe is gathered up to this size; a console gets every line at once.
constexpr std::size_t kGathered = 64 * 1024;

// A console that cannot draw escape sequences (before Windows 10) would print them: the one the
// progress line uses is left out there.
void dropEraseToEnd(std::string &text)
{
    static constexpr std::string_view erase = "\x1b[K";
    for (std::size_t at; (at = text.find(erase)) != std::string::npos;)
        text.erase(at, erase.size());
}

} // namespace

bool isConsole(HANDLE handle)
{
    DWORD mode = 0;
    return handle != nullptr && handle != INVALID_HANDLE_VALUE && ::GetConsoleMode(handle, &mode);
}

std::string utf8FromWide(const wchar_t *text)
{
    return korvalo::utf8FromWide(text);
}

ConsoleOutput::ConsoleOutput(DWORD standardHandle)
    : m_handle(::GetStdHandle(standardHandle)), m_console(isConsole(m_handle))
{
    if (m_console) {
        DWORD mode = 0;
        m_escapes = ::GetConsoleMode(m_handle, &mode) &&
                    ((mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) ||
                     ::SetConsoleMode(m_handle, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING));
    }
}

ConsoleOutput::~ConsoleOutput()
{
    flush();
}

ConsoleOutput::int_type ConsoleOutput::overflow(int_type c)
{
    if (!traits_type::eq_int_type(c, traits_type::eof())) {
        m_pending.push_back(traits_type::to_char_type(c));
        written();
    }
    return traits_type::not_eof(c);
}

std::streamsize ConsoleOutput::xsputn(const char *s, std::streamsize n)
{
    m_pending.append(s, static_cast<std::size_t>(n));
    written();
    return n;
}

int ConsoleOutput::sync()
{
    // A write that failed earlier (gathered text written as it came) fails the stream too.
    if (!flush())
        m_failed = true;
    return m_failed ? -1 : 0;
}

void ConsoleOutput::written()
{
    if (m_console ? m_pending.find('\n') != std::string::npos : m_pending.size() >= kGathered)
        m_failed = !flush() || m_failed;
}

bool ConsoleOutput::flush()
{
    if (m_pending.empty())
        return true;
    if (m_handle == nullptr || m_handle == INVALID_HANDLE_VALUE) {
        m_pending.clear();
        return false;
    }
    if (!m_console) {
        std::size_t at = 0;
        while (at < m_pending.size()) {
            DWORD wrote = 0;
            const auto chunk = static_cast<DWORD>(m_pending.size() - at);
            if (!::WriteFile(m_handle, m_pending.data() + at, chunk, &wrote, nullptr) || !wrote)
                break;
            at += wrote;
        }
        const bool all = at == m_pending.size();
        m_pending.clear();
        return all;
    }
    // A character cut in two by a write waits for its end.
    const std::size_t complete = completeUtf8Length(m_pending);
    std::string text = m_pending.substr(0, complete);
    m_pending.erase(0, complete);
    if (!m_escapes)
        dropEraseToEnd(text);
    const std::wstring wide = korvalo::wideFromUtf8(text);
    std::size_t at = 0;
    while (at < wide.size()) {
        DWORD wrote = 0;
        const auto chunk = static_cast<DWORD>(wide.size() - at);
        if (!::WriteConsoleW(m_handle, wide.data() + at, chunk, &wrote, nullptr) || !wrote)
            return false;
        at += wrote;
    }
    return true;
}

ConsoleInput::ConsoleInput(DWORD standardHandle)
    : m_handle(::GetStdHandle(standardHandle)), m_console(isConsole(m_handle))
{
}

ConsoleInput::int_type ConsoleInput::underflow()
{
    if (gptr() < egptr())
        return traits_type::to_int_type(*gptr());
    if (m_ended || m_handle == nullptr || m_handle == INVALID_HANDLE_VALUE)
        return traits_type::eof();
    if (m_console) {
        // One typed line at a time, as UTF-16; Ctrl-Z at the start of a line ends the input, as
        // Windows' own programs take it.
        std::vector<wchar_t> wide(1024);
        DWORD read = 0;
        if (!::ReadConsoleW(m_handle, wide.data(), static_cast<DWORD>(wide.size()), &read,
                            nullptr) ||
            read == 0) {
            // Ctrl-C while waiting aborts the read, and the console handler, on a thread of its
            // own, ends the program: the input is not taken as ended before it has had time to.
            ::Sleep(500);
            m_ended = true;
            return traits_type::eof();
        }
        if (wide[0] == L'\x1a') {
            m_ended = true;
            return traits_type::eof();
        }
        m_buffer = korvalo::utf8FromWide(std::wstring_view(wide.data(), read));
    } else {
        m_buffer.resize(4096);
        DWORD read = 0;
        if (!::ReadFile(m_handle, m_buffer.data(), static_cast<DWORD>(m_buffer.size()), &read,
                        nullptr) ||
            read == 0) {
            m_ended = true;
            return traits_type::eof();
        }
        m_buffer.resize(read);
    }
    setg(m_buffer.data(), m_buffer.data(), m_buffer.data() + m_buffer.size());
    return traits_type::to_int_type(*gptr());
}

} // namespace korvalo::cli
