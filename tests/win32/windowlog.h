#pragma once

// A record of what the window shows, for the checks that drive it from outside: when the
// environment variable KORVALO_WINDOW_LOG names a file, the window's observer writes there, one
// line each, its controls (rectangle, caption, enabled state) and its lists after every step, and
// every box it shows with the answer given. Reading a control's state back through the display
// server is unreliable; this is not.

#include "win32/form.h"

#include <cstdio>
#include <memory>
#include <string>
#include <string_view>

class WindowLog : public win32::FormObserver
{
public:
    // Without the variable (or with a file that cannot be made): none.
    static std::unique_ptr<WindowLog> fromEnvironment();
    explicit WindowLog(std::FILE *file) : m_file(file) {}
    ~WindowLog() override;

    void stepDrawn(const win32::Form &form, const char *step) override;
    void boxOpened(const char *kind, win32::BoxIcon icon, const std::string &title,
                   const std::string &text) override;
    void boxPlaced(HWND box, HWND owner) override;
    void boxAnswered(const char *kind, int answer) override;

private:
    // Appends one line (UTF-8), headed by the milliseconds since the log was opened, and flushes
    // it, so a check sees it at once.
    void line(std::string_view text);

    std::FILE *m_file;
    int m_sequence = 0;
};
