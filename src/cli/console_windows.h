#pragma once

// korvalo-cli's standard streams on Windows. The program speaks UTF-8; a console shows it only
// when written as UTF-16 through WriteConsoleW (the console's code page is rarely UTF-8, and
// bytes written to it would show as mojibake), while a pipe or a file gets the UTF-8 bytes as they
// are. Typed answers come through ReadConsoleW the same way.

#include <streambuf>
#include <string>

#include <windows.h>

namespace korvalo::cli {

// True when the handle is a console, not a pipe, a file or nothing.
bool isConsole(HANDLE handle);

// The program's arguments as UTF-8.
std::string utf8FromWide(const wchar_t *text);

class ConsoleOutput : public std::streambuf
{
public:
    explicit ConsoleOutput(DWORD standardHandle);
    ~ConsoleOutput() override;

protected:
    int_type overflow(int_type c) override;
    std::streamsize xsputn(const char *s, std::streamsize n) override;
    int sync() override;

private:
    void written();
    bool flush();

    HANDLE m_handle;
    bool m_console;
    bool m_escapes = false; // the console draws "\x1b[K" (erase to the end of the line)
    std::string m_pending;
    bool m_failed = false; // some text could not be written
};

class ConsoleInput : public std::streambuf
{
public:
    explicit ConsoleInput(DWORD standardHandle);

protected:
    int_type underflow() override;

private:
    HANDLE m_handle;
    bool m_console;
    bool m_ended = false;
    std::string m_buffer;
};

} // namespace korvalo::cli
