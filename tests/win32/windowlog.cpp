#include "windowlog.h"

#include "session/layout.h"
#include "win32/wide.h"

#include <windows.h>

#include <commctrl.h>

#include <cstdlib>

namespace {

// Milliseconds since the log was opened: how long each step took.
const ULONGLONG g_opened = ::GetTickCount64();

// A text as one field of a line: backslashes and line breaks escaped.
std::string field(std::string_view text)
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

std::string listItemText(HWND list, UINT getLength, UINT getText, int index)
{
    const LRESULT length = ::SendMessageW(list, getLength, static_cast<WPARAM>(index), 0);
    if (length < 0)
        return {};
    std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
    ::SendMessageW(list, getText, static_cast<WPARAM>(index),
                   reinterpret_cast<LPARAM>(text.data()));
    text.resize(static_cast<std::size_t>(length));
    return win32::utf8(text);
}

// The static text a screen reader names a control after when the control shows no caption: the
// first one before it in z-order, looked for no further back than a control that starts a group
// and takes the focus.
std::string accessibleLabel(HWND control)
{
    for (HWND w = ::GetWindow(control, GW_HWNDPREV); w; w = ::GetWindow(w, GW_HWNDPREV)) {
        wchar_t className[16] = {};
        ::GetClassNameW(w, className, 16);
        if (::lstrcmpiW(className, WC_STATICW) == 0)
            return win32::windowText(w);
        const LONG_PTR style = ::GetWindowLongPtrW(w, GWL_STYLE);
        if ((style & (WS_GROUP | WS_TABSTOP)) == (WS_GROUP | WS_TABSTOP))
            break;
    }
    return {};
}

const char *iconName(win32::BoxIcon icon)
{
    switch (icon) {
    case win32::BoxIcon::Warning:
        return "warning";
    case win32::BoxIcon::Information:
        return "information";
    case win32::BoxIcon::Question:
        break;
    }
    return "question";
}

} // namespace

std::unique_ptr<WindowLog> WindowLog::fromEnvironment()
{
    const wchar_t *path = ::_wgetenv(L"KORVALO_WINDOW_LOG");
    std::FILE *file = path && path[0] ? ::_wfopen(path, L"wb") : nullptr;
    return file ? std::make_unique<WindowLog>(file) : nullptr;
}

WindowLog::~WindowLog()
{
    std::fclose(m_file);
}

void WindowLog::line(std::string_view text)
{
    std::fprintf(m_file, "%llu ", static_cast<unsigned long long>(::GetTickCount64() - g_opened));
    std::fwrite(text.data(), 1, text.size(), m_file);
    std::fputc('\n', m_file);
    std::fflush(m_file);
}

void WindowLog::stepDrawn(const win32::Form &form, const char *reason)
{
    const HWND window = form.window();
    const int sequence = ++m_sequence;
    line("state seq=" + std::to_string(sequence) + " reason=" + reason);
    RECT client;
    ::GetClientRect(window, &client);
    POINT origin = {0, 0};
    ::ClientToScreen(window, &origin);
    line("window title=" + field(win32::windowText(window)) +
         " client=" + std::to_string(client.right) + "x" + std::to_string(client.bottom) +
         " dpi=" + std::to_string(form.dpi()) + " screen=" + std::to_string(origin.x) + "," +
         std::to_string(origin.y) + " running=" + (form.running() ? "1" : "0"));
    const auto inWindow = [&](std::string_view name) {
        RECT r;
        ::GetWindowRect(form.control(name), &r);
        ::MapWindowPoints(HWND_DESKTOP, window, reinterpret_cast<POINT *>(&r), 2);
        return r;
    };
    for (const korvalo::layout::ControlPlace &place : korvalo::layout::controls()) {
        const HWND hwnd = form.control(place.name);
        const RECT r = inWindow(place.name);
        // Relative to the frame it sits in, as the layout table measures.
        const RECT frame = place.parent == korvalo::layout::kForm ? RECT{} : inWindow(place.parent);
        const int x = r.left - frame.left;
        const int y = r.top - frame.top;
        std::string text = "control name=" + std::string(place.name) +
                           " parent=" + std::string(place.parent) + " rect=" + std::to_string(x) +
                           "," + std::to_string(y) + "," + std::to_string(r.right - r.left) + "," +
                           std::to_string(r.bottom - r.top) + " form=" + std::to_string(r.left) +
                           "," + std::to_string(r.top) +
                           " enabled=" + (::IsWindowEnabled(hwnd) ? "1" : "0");
        if (place.name.starts_with("Option"))
            text += std::string(" checked=") +
                    (::SendMessageW(hwnd, BM_GETCHECK, 0, 0) == BST_CHECKED ? "1" : "0");
        if (place.name == "ProgressBar1")
            text += " min=" + std::to_string(::SendMessageW(hwnd, PBM_GETRANGE, TRUE, 0)) +
                    " max=" + std::to_string(::SendMessageW(hwnd, PBM_GETRANGE, FALSE, 0)) +
                    " value=" + std::to_string(::SendMessageW(hwnd, PBM_GETPOS, 0, 0));
        if (place.name == "Drive1" || place.name == "Dir1" || place.name == "File1" ||
            place.name == "ProgressBar1")
            text += " label=" + field(accessibleLabel(hwnd));
        text += " caption=" + field(win32::windowText(hwnd)); // last: it may hold spaces
        line(text);
    }
    const auto logList = [&](const char *name, UINT getCount, UINT getLength, UINT getText,
                             UINT getSelection, UINT getTop, UINT getHeight) {
        const HWND list = form.control(name);
        const int count = static_cast<int>(::SendMessageW(list, getCount, 0, 0));
        line(std::string("list name=") + name + " count=" + std::to_string(count) +
             " selected=" + std::to_string(::SendMessageW(list, getSelection, 0, 0)) +
             " top=" + std::to_string(getTop ? ::SendMessageW(list, getTop, 0, 0) : 0) +
             " itemheight=" + std::to_string(::SendMessageW(list, getHeight, 0, 0)));
        for (int k = 0; k < count && k < 1000; ++k)
            line(std::string("item list=") + name + " index=" + std::to_string(k) +
                 " text=" + field(listItemText(list, getLength, getText, k)));
    };
    logList("Drive1", CB_GETCOUNT, CB_GETLBTEXTLEN, CB_GETLBTEXT, CB_GETCURSEL, 0,
            CB_GETITEMHEIGHT);
    logList("Dir1", LB_GETCOUNT, LB_GETTEXTLEN, LB_GETTEXT, LB_GETCURSEL, LB_GETTOPINDEX,
            LB_GETITEMHEIGHT);
    logList("File1", LB_GETCOUNT, LB_GETTEXTLEN, LB_GETTEXT, LB_GETCURSEL, LB_GETTOPINDEX,
            LB_GETITEMHEIGHT);
    line("state-end seq=" + std::to_string(sequence) + " reason=" + reason +
         " folder=" + field(win32::utf8(form.dirPath().native())));
}

void WindowLog::boxOpened(const char *kind, win32::BoxIcon icon, const std::string &title,
                          const std::string &text)
{
    line(std::string("box kind=") + kind + " icon=" + iconName(icon) + " title=" + field(title) +
         " text=" + field(text));
}

void WindowLog::boxPlaced(HWND box, HWND owner)
{
    RECT o, b;
    if (!owner || !::GetWindowRect(owner, &o) || !::GetWindowRect(box, &b))
        return;
    line("box-place offset=" + std::to_string((b.left + b.right - o.left - o.right) / 2) + "," +
         std::to_string((b.top + b.bottom - o.top - o.bottom) / 2));
}

void WindowLog::boxAnswered(const char *kind, int answer)
{
    line(std::string("answer kind=") + kind + " value=" + std::to_string(answer));
}
