#include "win32/form.h"

#include "browse/folderpath.h"
#include "browse/musicfilelist.h"
#include "browse/volumes.h"
#include "session/layout.h"
#include "session/texts.h"
#include "session/unfinished.h"
#include "session/windowview.h"
#include "win32/boxes.h"
#include "win32/wide.h"

#include <commctrl.h>
#include <dbt.h>

#include <algorithm>
#include <system_error>

namespace win32 {

namespace fs = std::filesystem;
using korvalo::normalFolder;
using korvalo::session::Mode;
using korvalo::session::Notice;
using korvalo::session::Question;
using namespace korvalo::texts::caption;

namespace {

constexpr wchar_t kClassName[] = L"KorvaloForm1";
constexpr UINT kPlanFinished = WM_APP + 1;
constexpr UINT kOfferOpening = WM_APP + 2;
constexpr UINT kRestoreFocus = WM_APP + 3;
constexpr UINT_PTR kProgressTimer = 1;
// Often enough to look smooth, far less often than files pass on a fast disk.
constexpr UINT kProgressInterval = 30;

// A control's id: its place in the tab order, above the ids dialogs reserve.
int idOf(const korvalo::layout::ControlPlace &place)
{
    return 1000 + place.tabIndex;
}

bool startsWith(std::string_view name, std::string_view kind)
{
    return name.substr(0, kind.size()) == kind;
}

// With the system's own separators, whatever spelling the path came in.
std::wstring pathText(const fs::path &path)
{
    return fs::path(path).make_preferred().native();
}

// The face the controls draw Chinese with: the first of these the system has.
std::wstring chineseFace(HDC dc)
{
    for (const wchar_t *face :
         {L"Microsoft YaHei UI", L"SimSun", L"Noto Sans CJK SC", L"WenQuanYi Micro Hei"}) {
        LOGFONTW wanted = {};
        wanted.lfCharSet = DEFAULT_CHARSET;
        ::lstrcpynW(wanted.lfFaceName, face, LF_FACESIZE);
        bool found = false;
        ::EnumFontFamiliesExW(
            dc, &wanted,
            [](const LOGFONTW *, const TEXTMETRICW *, DWORD, LPARAM found) -> int {
                *reinterpret_cast<bool *>(found) = true;
                return 0;
            },
            reinterpret_cast<LPARAM>(&found), 0);
        if (found)
            return face;
    }
    NONCLIENTMETRICSW metrics = {};
    metrics.cbSize = sizeof metrics;
    ::SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0);
    return metrics.lfMessageFont.lfFaceName;
}

} // namespace

bool Form::registerClass(HINSTANCE instance)
{
    WNDCLASSEXW wc = {};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = &Form::windowProc;
    wc.hInstance = instance;
    wc.hIcon = static_cast<HICON>(::LoadImageW(instance, MAKEINTRESOURCEW(1), IMAGE_ICON,
                                               ::GetSystemMetrics(SM_CXICON),
                                               ::GetSystemMetrics(SM_CYICON), LR_DEFAULTCOLOR));
    wc.hIconSm = static_cast<HICON>(::LoadImageW(instance, MAKEINTRESOURCEW(1), IMAGE_ICON,
                                                 ::GetSystemMetrics(SM_CXSMICON),
                                                 ::GetSystemMetrics(SM_CYSMICON), LR_DEFAULTCOLOR));
    wc.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = kClassName;
    return ::RegisterClassExW(&wc) != 0;
}

Form::Form(HINSTANCE instance, korvalo::RenameSystem &renameCalls, FormObserver *observer)
    : m_instance(instance), m_observer(observer),
      m_controller(std::make_unique<korvalo::session::WindowController>(
          static_cast<korvalo::session::WindowHooks &>(*this),
          korvalo::StoredOrderRule::FatAndExfat, renameCalls))
{
    const HDC screen = ::GetDC(nullptr);
    m_dpi = ::GetDeviceCaps(screen, LOGPIXELSY);
    ::ReleaseDC(nullptr, screen);

    const korvalo::layout::TwipsSize client = korvalo::layout::formClientSize();
    const DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
    const DWORD exStyle = WS_EX_CONTROLPARENT;
    RECT frame = {0, 0, px(client.width), px(client.height)};
    ::AdjustWindowRectEx(&frame, style, FALSE, exStyle);
    ::CreateWindowExW(exStyle, kClassName, wide(kWindowTitle).c_str(), style, CW_USEDEFAULT,
                      CW_USEDEFAULT, frame.right - frame.left, frame.bottom - frame.top, nullptr,
                      nullptr, m_instance, this);
}

Form::~Form()
{
    for (const HFONT font : {m_font, m_percentFont})
        if (font)
            ::DeleteObject(font);
}

int Form::px(int twips) const
{
    return korvalo::layout::twipsToPixels(twips, m_dpi);
}

HWND Form::control(std::string_view name) const
{
    const auto it = m_controls.find(name);
    return it == m_controls.end() ? nullptr : it->second;
}

bool Form::dialogMessage(MSG &message)
{
    return m_window && ::IsDialogMessageW(m_window, &message);
}

LRESULT CALLBACK Form::windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    Form *form = reinterpret_cast<Form *>(::GetWindowLongPtrW(window, GWLP_USERDATA));
    if (message == WM_NCCREATE) {
        form = static_cast<Form *>(reinterpret_cast<CREATESTRUCTW *>(lParam)->lpCreateParams);
        ::SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(form));
        form->m_window = window;
    }
    if (!form)
        return ::DefWindowProcW(window, message, wParam, lParam);
    return form->handle(message, wParam, lParam);
}

LRESULT Form::handle(UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_CREATE:
        onCreate(m_window);
        return 0;
    case WM_COMMAND:
        onCommand(LOWORD(wParam), HIWORD(wParam));
        return 0;
    case WM_TIMER:
        if (wParam == kProgressTimer)
            onProgressTimer();
        return 0;
    case kPlanFinished:
        m_controller->planFinished();
        stepDrawn("finished");
        return 0;
    case kRestoreFocus:
        restoreFocus();
        return 0;
    case kOfferOpening:
        stepDrawn("start");
        m_controller->offerStartUp();
        return 0;
    case WM_DEVICECHANGE:
        // A stick plugged in or pulled out: the drive list follows.
        if (wParam == DBT_DEVICEARRIVAL || wParam == DBT_DEVICEREMOVECOMPLETE) {
            refreshDrives();
            stepDrawn("drives");
        }
        return TRUE;
    case WM_QUERYENDSESSION:
        // Korvalo never holds up a logout or shutdown; the end itself stops a running plan.
        return TRUE;
    case WM_ENDSESSION:
        // The session ends once this returns: a running plan stops first, unasked, after the file
        // in hand (while the files are stored in order, with every file back), and the record
        // tells the next start what happened.
        if (wParam)
            m_controller->sessionEnds(true);
        return 0;
    case WM_CLOSE:
        if (m_controller->closeAsked())
            ::DestroyWindow(m_window);
        return 0;
    case WM_DESTROY:
        ::KillTimer(m_window, kProgressTimer);
        // A plan still running is stopped after the file in hand and waited for.
        m_controller.reset();
        ::PostQuitMessage(0);
        return 0;
    default:
        break;
    }
    return ::DefWindowProcW(m_window, message, wParam, lParam);
}

void Form::onCreate(HWND window)
{
    m_window = window;
    const HDC dc = ::GetDC(window);
    const std::wstring face = chineseFace(dc);
    ::ReleaseDC(window, dc);
    LOGFONTW font = {};
    font.lfHeight = -::MulDiv(9, m_dpi, 72);
    font.lfWeight = FW_NORMAL;
    font.lfCharSet = DEFAULT_CHARSET;
    font.lfQuality = CLEARTYPE_QUALITY;
    ::lstrcpynW(font.lfFaceName, face.c_str(), LF_FACESIZE);
    m_font = ::CreateFontIndirectW(&font);

    buildControls();
    showStartFolder();
    // The folder shown at start-up may be one whose last pass did not finish, and so may others:
    // asked once the window is up.
    ::PostMessageW(window, kOfferOpening, 0, 0);
}

void Form::buildControls()
{
    // Created in tab index order, so the focus chain, which follows the order of creation,
    // follows the table.
    std::vector<HWND> frames;
    for (const korvalo::layout::ControlPlace &place : korvalo::layout::controls()) {
        const std::string_view name = place.name;
        int left = place.rect.left;
        int top = place.rect.top;
        if (place.parent != korvalo::layout::kForm) {
            const korvalo::layout::ControlPlace *frame =
                korvalo::layout::controlPlace(place.parent);
            left += frame->rect.left;
            top += frame->rect.top;
        }
        // Every control but Option2 starts a group: the two options are one.
        DWORD style = WS_CHILD | WS_VISIBLE | (name == "Option2" ? 0 : WS_GROUP);
        DWORD exStyle = 0;
        const wchar_t *windowClass = WC_BUTTONW;
        std::wstring text;
        if (startsWith(name, "Frame")) {
            style |= BS_GROUPBOX | WS_CLIPSIBLINGS;
            text = wide(name == "Frame1" ? kFrame1 : name == "Frame2" ? kFrame2 : kFrame3);
        } else if (startsWith(name, "Option")) {
            style |= BS_AUTORADIOBUTTON | (name == "Option1" ? WS_TABSTOP : 0);
            text = wide(name == "Option1" ? kOption1 : kOption2);
        } else if (startsWith(name, "Command")) {
            style |= BS_PUSHBUTTON | BS_MULTILINE | WS_TABSTOP;
            text = wide(name == "Command1" ? kShuffle : kRemove);
        } else if (startsWith(name, "Label")) {
            windowClass = WC_STATICW;
            style |= SS_LEFT | SS_NOPREFIX;
            if (name == "Label1")
                text = wide(kLabel1);
            else if (name == "Label2")
                text = wide(kLabel2);
            else if (name == "Label4")
                text = wide(kLabel4);
            else if (name == "Label5")
                text = L"0%";
        } else if (name == "Drive1") {
            windowClass = WC_COMBOBOXW;
            style |= CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP;
        } else if (name == "Dir1" || name == "File1") {
            windowClass = WC_LISTBOXW;
            style |= LBS_NOTIFY | LBS_NOINTEGRALHEIGHT | WS_VSCROLL | WS_TABSTOP;
            if (name == "File1")
                style |= WS_HSCROLL;
            exStyle = WS_EX_CLIENTEDGE;
        } else if (name == "ProgressBar1") {
            windowClass = PROGRESS_CLASSW;
        }
        // A screen reader names a control that shows no caption of its own after the static text
        // just before it in z-order, which follows the order of creation: a hidden one holds the
        // name, as the Qt window's accessible names do. Label1 would otherwise name File1.
        if (const char *accessible = name == "Drive1"         ? kDriveListName
                                     : name == "Dir1"         ? kFolderListName
                                     : name == "File1"        ? kFileListName
                                     : name == "ProgressBar1" ? kProgressName
                                                              : nullptr) {
            ::CreateWindowExW(0, WC_STATICW, wide(accessible).c_str(), WS_CHILD | SS_NOPREFIX,
                              px(left), px(top), 0, 0, m_window, nullptr, m_instance, nullptr);
        }
        // A drop-down list's window is as tall as its open list: the closed box is set below.
        const int height = name == "Drive1" ? px(place.rect.height) * 12 : px(place.rect.height);
        const HWND hwnd = ::CreateWindowExW(
            exStyle, windowClass, text.c_str(), style, px(left), px(top), px(place.rect.width),
            height, m_window, reinterpret_cast<HMENU>(static_cast<INT_PTR>(idOf(place))),
            m_instance, nullptr);
        ::SendMessageW(hwnd, WM_SETFONT, reinterpret_cast<WPARAM>(m_font), FALSE);
        m_controls[name] = hwnd;
        if (startsWith(name, "Frame"))
            frames.push_back(hwnd);
    }
    // The frames lie under the controls they hold and do not paint over them.
    for (const HWND frame : frames)
        ::SetWindowPos(frame, HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);

    // The closed drop-down list as tall as the table says, where the system lets its height follow
    // the item height (Wine keeps the height its font needs).
    const HWND drive = control("Drive1");
    RECT closed;
    ::GetWindowRect(drive, &closed);
    const int wantedHeight = px(korvalo::layout::controlPlace("Drive1")->rect.height);
    for (int tries = 0; tries < 3 && closed.bottom - closed.top != wantedHeight; ++tries) {
        const LRESULT field = ::SendMessageW(drive, CB_GETITEMHEIGHT, static_cast<WPARAM>(-1), 0);
        if (field <= 0)
            break;
        ::SendMessageW(drive, CB_SETITEMHEIGHT, static_cast<WPARAM>(-1),
                       field + wantedHeight - (closed.bottom - closed.top));
        ::GetWindowRect(drive, &closed);
    }

    // The percent label is narrow: its font is made small enough for "100%" to fit.
    const HWND percent = control("Label5");
    RECT room;
    ::GetClientRect(percent, &room);
    LOGFONTW small = {};
    ::GetObjectW(m_font, sizeof small, &small);
    const HDC dc = ::GetDC(percent);
    for (LONG height = small.lfHeight; height < -6; ++height) {
        small.lfHeight = height;
        const HFONT candidate = ::CreateFontIndirectW(&small);
        const HGDIOBJ old = ::SelectObject(dc, candidate);
        SIZE size = {};
        ::GetTextExtentPoint32W(dc, L"100%", 4, &size);
        ::SelectObject(dc, old);
        if (size.cx <= room.right || height == -7) {
            m_percentFont = candidate;
            break;
        }
        ::DeleteObject(candidate);
    }
    ::ReleaseDC(percent, dc);
    if (m_percentFont)
        ::SendMessageW(percent, WM_SETFONT, reinterpret_cast<WPARAM>(m_percentFont), FALSE);

    enable("Command2", false);
    ::SendMessageW(control("ProgressBar1"), PBM_SETRANGE32, 0, 100);
    ::SendMessageW(control("ProgressBar1"), PBM_SETPOS, 0, 0);
}

void Form::onCommand(int id, int code)
{
    const auto byId = std::find_if(m_controls.begin(), m_controls.end(), [&](const auto &entry) {
        return ::GetDlgCtrlID(entry.second) == id;
    });
    if (id == IDOK) {
        // Enter: opens the folder chosen in Dir1, or presses the button that has the focus.
        const HWND focus = ::GetFocus();
        if (focus == control("Dir1"))
            openDirItem();
        else if (focus == control("Command1") || focus == control("Command2"))
            ::SendMessageW(focus, BM_CLICK, 0, 0);
        return;
    }
    if (byId == m_controls.end())
        return;
    const std::string_view name = byId->first;
    if (name == "Command1" && code == BN_CLICKED) {
        m_controller->passClicked(korvalo::PassKind::Shuffle);
        stepDrawn("pass");
    } else if (name == "Command2" && code == BN_CLICKED) {
        m_controller->passClicked(korvalo::PassKind::Removal);
        stepDrawn("pass");
    } else if (name == "Option1" && code == BN_CLICKED) {
        m_controller->optionChosen(Mode::FirstTime);
        stepDrawn("option");
    } else if (name == "Option2" && code == BN_CLICKED) {
        m_controller->optionChosen(Mode::AlreadyUsed);
        stepDrawn("option");
    } else if (name == "Drive1" && code == CBN_DROPDOWN) {
        refreshDrives();
    } else if (name == "Drive1" && code == CBN_SELCHANGE) {
        const int index = static_cast<int>(::SendMessageW(control("Drive1"), CB_GETCURSEL, 0, 0));
        if (index >= 0 && index != m_shownDrive) {
            m_shownDrive = index;
            m_controller->driveChosen(m_drives[static_cast<std::size_t>(index)]);
            stepDrawn("drive");
        }
    } else if (name == "Dir1" && code == LBN_DBLCLK) {
        openDirItem();
    }
}

// --- Drive1, Dir1, File1 ---------------------------------------------------------------------

void Form::refreshDrives()
{
    const fs::path keep = m_shownDrive >= 0 && m_shownDrive < static_cast<int>(m_drives.size())
                              ? m_drives[static_cast<std::size_t>(m_shownDrive)]
                              : fs::path();
    // The shown drive stays listed even if it went away.
    const std::vector<korvalo::Volume> volumes =
        korvalo::session::drivesToList(korvalo::mountedVolumes(), keep);
    const HWND combo = control("Drive1");
    ::SendMessageW(combo, CB_RESETCONTENT, 0, 0);
    m_drives.clear();
    m_shownDrive = -1;
    for (const korvalo::Volume &v : volumes) {
        m_drives.push_back(korvalo::pathFromUtf8(v.mountPoint));
        ::SendMessageW(combo, CB_ADDSTRING, 0,
                       reinterpret_cast<LPARAM>(wide(korvalo::texts::driveText(v)).c_str()));
        if (m_drives.back() == keep)
            m_shownDrive = static_cast<int>(m_drives.size()) - 1;
    }
    ::SendMessageW(combo, CB_SETCURSEL, static_cast<WPARAM>(m_shownDrive), 0);
}

void Form::showDriveOf(const fs::path &folder)
{
    if (m_drives.empty())
        refreshDrives();
    const fs::path root = folder.root_path();
    for (std::size_t k = 0; k < m_drives.size(); ++k) {
        if (korvalo::isInside(root, m_drives[k]) && korvalo::isInside(m_drives[k], root)) {
            m_shownDrive = static_cast<int>(k);
            ::SendMessageW(control("Drive1"), CB_SETCURSEL, k, 0);
            return;
        }
    }
}

// The lists start at the process's current folder and its drive. A current folder that cannot be
// read gives way to the user's profile, then to the system drive's root.
void Form::showStartFolder()
{
    refreshDrives();
    std::vector<fs::path> candidates;
    std::error_code ec;
    const fs::path current = fs::current_path(ec);
    if (!ec)
        candidates.push_back(current);
    if (const wchar_t *profile = ::_wgetenv(L"USERPROFILE"); profile && profile[0])
        candidates.emplace_back(profile);
    wchar_t system[MAX_PATH] = {};
    if (::GetWindowsDirectoryW(system, MAX_PATH) > 0)
        candidates.push_back(fs::path(system).root_path());
    m_controller->showStartFolder(candidates);
}

korvalo::ListError Form::showFolder(const fs::path &path)
{
    const fs::path folder = normalFolder(path);
    std::vector<fs::path> subfolders;
    const korvalo::ListError err = korvalo::listSubfolders(folder, subfolders);
    if (!err.ok())
        return err;
    showDirFolder(folder, std::move(subfolders));
    return {};
}

void Form::restoreFolder(const fs::path &path)
{
    const fs::path folder = normalFolder(path);
    std::vector<fs::path> subfolders;
    if (!korvalo::listSubfolders(folder, subfolders).ok())
        subfolders.clear();
    showDirFolder(folder, std::move(subfolders));
}

// The chain from the drive's root down to the folder, each one level deeper, then the folder's
// subfolders one level deeper still; the folder itself is selected.
void Form::showDirFolder(const fs::path &folder, std::vector<fs::path> subfolders)
{
    m_dirPath = folder;
    const std::vector<fs::path> chain = korvalo::session::folderChain(folder, fs::path());

    const HWND list = control("Dir1");
    ::SendMessageW(list, WM_SETREDRAW, FALSE, 0);
    ::SendMessageW(list, LB_RESETCONTENT, 0, 0);
    m_dirItems.clear();
    const auto add = [&](const fs::path &path, const std::wstring &text, std::size_t depth) {
        const std::wstring shown = std::wstring(depth * 2, L' ') + text;
        ::SendMessageW(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(shown.c_str()));
        m_dirItems.push_back(path);
    };
    for (std::size_t k = 0; k < chain.size(); ++k)
        add(chain[k], pathText(k == 0 ? chain[k] : chain[k].filename()), k);
    for (const fs::path &name : subfolders)
        add(folder / name, pathText(name), chain.size());
    const int current = static_cast<int>(chain.size()) - 1;
    ::SendMessageW(list, LB_SETCURSEL, static_cast<WPARAM>(current), 0);
    ::SendMessageW(list, LB_SETTOPINDEX, 0, 0);
    ::SendMessageW(list, WM_SETREDRAW, TRUE, 0);
    ::InvalidateRect(list, nullptr, TRUE);
}

void Form::openDirItem()
{
    const int index = static_cast<int>(::SendMessageW(control("Dir1"), LB_GETCURSEL, 0, 0));
    if (index < 0 || index >= static_cast<int>(m_dirItems.size()))
        return;
    const fs::path folder = m_dirItems[static_cast<std::size_t>(index)];
    if (const korvalo::ListError err = showFolder(folder); !err.ok())
        m_controller->folderFailed(folder, err);
    else
        m_controller->folderShown(folder);
    stepDrawn("folder");
}

void Form::showSongs(const korvalo::MusicFileList &songs)
{
    const HWND list = control("File1");
    ::SendMessageW(list, WM_SETREDRAW, FALSE, 0);
    ::SendMessageW(list, LB_RESETCONTENT, 0, 0);
    ::SendMessageW(list, LB_INITSTORAGE, static_cast<WPARAM>(songs.count()),
                   static_cast<LPARAM>(songs.count()) * 64);
    int widest = 0;
    const HDC dc = ::GetDC(list);
    const HGDIOBJ old = ::SelectObject(dc, m_font);
    for (int k = 0; k < songs.count(); ++k) {
        const std::wstring name = wide(songs.nameView(k));
        ::SendMessageW(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(name.c_str()));
        SIZE size;
        if (k < 2000 &&
            ::GetTextExtentPoint32W(dc, name.c_str(), static_cast<int>(name.size()), &size))
            widest = std::max(widest, static_cast<int>(size.cx));
    }
    ::SelectObject(dc, old);
    ::ReleaseDC(list, dc);
    // Long names can be scrolled to.
    ::SendMessageW(list, LB_SETHORIZONTALEXTENT, static_cast<WPARAM>(widest + 8), 0);
    ::SendMessageW(list, WM_SETREDRAW, TRUE, 0);
    ::InvalidateRect(list, nullptr, TRUE);
}

void Form::showCount(const std::string &count)
{
    setText("Label3", count);
}

void Form::showOption(Mode mode)
{
    const bool alreadyUsed = mode == Mode::AlreadyUsed;
    ::SendMessageW(control("Option1"), BM_SETCHECK, alreadyUsed ? BST_UNCHECKED : BST_CHECKED, 0);
    ::SendMessageW(control("Option2"), BM_SETCHECK, alreadyUsed ? BST_CHECKED : BST_UNCHECKED, 0);
}

void Form::showButtons(const korvalo::session::PassButtons &buttons)
{
    setText("Command1", buttons.command1Caption);
    enable("Command1", buttons.command1);
    enable("Command2", buttons.command2);
}

void Form::holdInput(bool hold)
{
    if (hold)
        m_focusBefore = ::GetFocus();
    for (const char *name : {"Command1", "Command2", "Option1", "Option2", "Drive1", "Dir1"})
        enable(name, !hold);
    if (hold) {
        m_progressView.begin();
        ::SetTimer(m_window, kProgressTimer, kProgressInterval, nullptr);
        stepDrawn("running");
        return;
    }
    ::KillTimer(m_window, kProgressTimer);
    drawProgress(m_controller->progress()); // the last file, which the timer may have missed
    setText("Frame3", kFrame3);
    // The focus goes back where it was, once the buttons are set (posted: they are set next).
    ::PostMessageW(m_window, kRestoreFocus, 0, 0);
}

void Form::restoreFocus()
{
    if (m_focusBefore && ::IsWindowEnabled(m_focusBefore))
        ::SetFocus(m_focusBefore);
    else
        ::SetFocus(enabled("Command1") ? control("Command1") : control("Command2"));
}

void Form::onProgressTimer()
{
    if (m_controller && m_controller->running())
        drawProgress(m_controller->progress());
}

void Form::drawProgress(const korvalo::session::Progress &progress)
{
    const korvalo::session::ProgressDrawing drawing = m_progressView.show(progress);
    const HWND bar = control("ProgressBar1");
    if (drawing.range)
        ::SendMessageW(bar, PBM_SETRANGE32, static_cast<WPARAM>(drawing.range->minimum),
                       static_cast<LPARAM>(drawing.range->maximum));
    if (drawing.value)
        ::SendMessageW(bar, PBM_SETPOS, static_cast<WPARAM>(*drawing.value), 0);
    if (drawing.text)
        setText("Label5", *drawing.text);
    const std::string heading = drawing.heading.empty() ? kFrame3 : drawing.heading;
    if (windowText(control("Frame3")) != heading)
        setText("Frame3", heading);
}

// --- Boxes and controls ----------------------------------------------------------------------

korvalo::session::Answer Form::ask(const Question &question)
{
    return askQuestion(m_window, question, m_observer);
}

void Form::wake()
{
    // On the worker's thread: the window hears of it through its own message queue, and the
    // worker touches no window.
    ::PostMessageW(m_window, kPlanFinished, 0, 0);
}

void Form::closeWindow()
{
    // Posted: the controller that asks is not ended in the middle of its own call.
    ::PostMessageW(m_window, WM_CLOSE, 0, 0);
}

void Form::tell(const Notice &notice)
{
    showMessage(m_window,
                notice.kind == Notice::Kind::Information ? BoxIcon::Information : BoxIcon::Warning,
                notice.title, notice.text, m_observer);
}

void Form::setText(std::string_view name, const std::string &text)
{
    ::SetWindowTextW(control(name), wide(text).c_str());
}

void Form::enable(std::string_view name, bool on)
{
    ::EnableWindow(control(name), on ? TRUE : FALSE);
}

bool Form::enabled(std::string_view name) const
{
    return ::IsWindowEnabled(control(name)) != FALSE;
}

void Form::stepDrawn(const char *step) const
{
    if (m_observer)
        m_observer->stepDrawn(*this, step);
}

} // namespace win32
