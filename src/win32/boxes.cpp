#include "win32/boxes.h"

#include "session/texts.h"
#include "win32/wide.h"

#include <commctrl.h>

#include <algorithm>
#include <vector>

namespace win32 {

namespace {

using korvalo::session::Question;

struct Button
{
    std::wstring caption;
    int answer = 0;
};

struct Box
{
    BoxIcon icon = BoxIcon::Warning;
    std::wstring title;
    std::wstring text;
    std::vector<Button> buttons;
    int defaultAnswer = 0;
    int escapeAnswer = 0;
};

// The first button of a task dialog; the buttons' ids follow it in order.
constexpr int kFirstButton = 100;

using TaskDialogIndirectFunction = HRESULT(WINAPI *)(const TASKDIALOGCONFIG *, int *, int *,
                                                     BOOL *);

// Only common controls 6 has task dialogs: looked up, so that the program still starts where an
// older library is loaded.
TaskDialogIndirectFunction taskDialogIndirect()
{
    const HMODULE comctl = ::GetModuleHandleW(L"comctl32.dll");
    if (!comctl)
        return nullptr;
    return reinterpret_cast<TaskDialogIndirectFunction>(
        reinterpret_cast<void (*)()>(::GetProcAddress(comctl, "TaskDialogIndirect")));
}

int answerAt(const Box &box, int index)
{
    if (index < 0 || index >= static_cast<int>(box.buttons.size()))
        return box.escapeAnswer;
    return box.buttons[static_cast<std::size_t>(index)].answer;
}

// The buttons the keyboard reaches in a task dialog.
struct KeyButtons
{
    int defaultId = 0;
    int escapeId = 0; // 0: the escape answer has no button of its own
    BoxObserver *observer = nullptr;
};

// Esc and the close button send the box IDCANCEL. Windows then ends the box with it; Wine's task
// dialog ignores it when no button is a Cancel button of its own. Either way it is taken here as
// a click on the escape answer's button.
LRESULT CALLBACK escapeToButton(HWND box, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                DWORD_PTR escapeId)
{
    if (message == WM_COMMAND && LOWORD(wParam) == IDCANCEL && escapeId != 0) {
        ::PostMessageW(box, TDM_CLICK_BUTTON, static_cast<WPARAM>(escapeId), 0);
        return 0;
    }
    if (message == WM_NCDESTROY)
        ::RemoveWindowSubclass(box, escapeToButton, 0);
    return ::DefSubclassProc(box, message, wParam, lParam);
}

// The box stands centred over the window it belongs to, wherever the system would put it (a box
// asked as the window starts went to the screen's corner).
void centreOnOwner(HWND box)
{
    const HWND owner = ::GetWindow(box, GW_OWNER);
    RECT o, b;
    if (!owner || !::GetWindowRect(owner, &o) || !::GetWindowRect(box, &b))
        return;
    const int width = b.right - b.left, height = b.bottom - b.top;
    const int left = o.left + ((o.right - o.left) - width) / 2;
    const int top = o.top + ((o.bottom - o.top) - height) / 2;
    ::SetWindowPos(box, nullptr, left, top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

// As the box opens, the default button takes the keyboard focus, so that Enter reaches it even
// where its owner was clicked just before.
HRESULT CALLBACK taskDialogEvent(HWND box, UINT event, WPARAM, LPARAM, LONG_PTR data)
{
    const KeyButtons &keys = *reinterpret_cast<const KeyButtons *>(data);
    if (event == TDN_CREATED) {
        centreOnOwner(box);
        if (keys.observer)
            keys.observer->boxPlaced(box, ::GetWindow(box, GW_OWNER));
        ::SetWindowSubclass(box, escapeToButton, 0, static_cast<DWORD_PTR>(keys.escapeId));
        ::SetForegroundWindow(box);
        if (const HWND button = ::GetDlgItem(box, keys.defaultId))
            ::SetFocus(button);
    }
    return S_OK;
}

bool withTaskDialog(HWND owner, const Box &box, BoxObserver *observer, int &answer)
{
    const TaskDialogIndirectFunction show = taskDialogIndirect();
    if (!show)
        return false;
    std::vector<TASKDIALOG_BUTTON> buttons;
    KeyButtons keys;
    keys.defaultId = kFirstButton;
    keys.observer = observer;
    for (std::size_t k = 0; k < box.buttons.size(); ++k) {
        const int id = kFirstButton + static_cast<int>(k);
        buttons.push_back({id, box.buttons[k].caption.c_str()});
        if (box.buttons[k].answer == box.defaultAnswer)
            keys.defaultId = id;
        if (box.buttons[k].answer == box.escapeAnswer && keys.escapeId == 0)
            keys.escapeId = id;
    }
    TASKDIALOGCONFIG config = {};
    config.cbSize = sizeof config;
    config.hwndParent = owner;
    // Esc and the close button cancel: they give the escape answer.
    config.dwFlags = TDF_ALLOW_DIALOG_CANCELLATION | TDF_POSITION_RELATIVE_TO_WINDOW;
    config.pszWindowTitle = box.title.c_str();
    switch (box.icon) {
    case BoxIcon::Warning:
        config.pszMainIcon = TD_WARNING_ICON;
        break;
    case BoxIcon::Information:
        config.pszMainIcon = TD_INFORMATION_ICON;
        break;
    case BoxIcon::Question:
        // Task dialogs have no question icon of their own.
        config.dwFlags |= TDF_USE_HICON_MAIN;
        config.hMainIcon = ::LoadIconW(nullptr, IDI_QUESTION);
        break;
    }
    config.pszContent = box.text.c_str();
    config.cButtons = static_cast<UINT>(buttons.size());
    config.pButtons = buttons.data();
    config.nDefaultButton = keys.defaultId;
    config.pfCallback = taskDialogEvent;
    config.lpCallbackData = reinterpret_cast<LONG_PTR>(&keys);
    int pressed = 0;
    if (FAILED(show(&config, &pressed, nullptr, nullptr)))
        return false;
    answer = pressed == IDCANCEL ? box.escapeAnswer : answerAt(box, pressed - kFirstButton);
    return true;
}

// The message box's buttons get the box's captions as it opens.
struct Captions
{
    std::vector<std::pair<int, std::wstring>> byId;
    HHOOK hook = nullptr;
};
thread_local Captions *t_captions = nullptr;

LRESULT CALLBACK captionHook(int code, WPARAM wParam, LPARAM lParam)
{
    Captions *captions = t_captions;
    if (code == HCBT_ACTIVATE && captions) {
        const HWND box = reinterpret_cast<HWND>(wParam);
        for (const auto &[id, caption] : captions->byId)
            ::SetDlgItemTextW(box, id, caption.c_str());
        const HHOOK hook = captions->hook;
        t_captions = nullptr;
        ::UnhookWindowsHookEx(hook);
        return 0;
    }
    return ::CallNextHookEx(nullptr, code, wParam, lParam);
}

int withMessageBox(HWND owner, const Box &box)
{
    // A message box has at most three buttons, and only a Cancel button answers Esc: the escape
    // answer's button goes last where there is one.
    std::vector<int> order;
    for (std::size_t k = 0; k < box.buttons.size() && order.size() < 3; ++k)
        if (box.buttons[k].answer != box.escapeAnswer)
            order.push_back(static_cast<int>(k));
    const auto escape = std::find_if(box.buttons.begin(), box.buttons.end(),
                                     [&](const Button &b) { return b.answer == box.escapeAnswer; });
    if (escape != box.buttons.end()) {
        if (order.size() == 3)
            order.pop_back();
        order.push_back(static_cast<int>(escape - box.buttons.begin()));
    }
    UINT style = MB_OK;
    std::vector<int> ids{IDOK};
    if (order.size() == 2) {
        style = MB_OKCANCEL;
        ids = {IDOK, IDCANCEL};
    } else if (order.size() == 3) {
        style = MB_YESNOCANCEL;
        ids = {IDYES, IDNO, IDCANCEL};
    }
    switch (box.icon) {
    case BoxIcon::Warning:
        style |= MB_ICONWARNING;
        break;
    case BoxIcon::Information:
        style |= MB_ICONINFORMATION;
        break;
    case BoxIcon::Question:
        style |= MB_ICONQUESTION;
        break;
    }
    for (std::size_t k = 0; k < order.size(); ++k)
        if (box.buttons[static_cast<std::size_t>(order[k])].answer == box.defaultAnswer)
            style |= k == 0 ? MB_DEFBUTTON1 : k == 1 ? MB_DEFBUTTON2 : MB_DEFBUTTON3;

    Captions captions;
    for (std::size_t k = 0; k < order.size(); ++k)
        captions.byId.emplace_back(ids[k], box.buttons[static_cast<std::size_t>(order[k])].caption);
    captions.hook = ::SetWindowsHookExW(WH_CBT, captionHook, nullptr, ::GetCurrentThreadId());
    t_captions = captions.hook ? &captions : nullptr;
    const int pressed = ::MessageBoxW(owner, box.text.c_str(), box.title.c_str(), style);
    if (t_captions) {
        ::UnhookWindowsHookEx(captions.hook);
        t_captions = nullptr;
    }
    for (std::size_t k = 0; k < order.size(); ++k)
        if (ids[k] == pressed)
            return answerAt(box, order[k]);
    return box.escapeAnswer;
}

int show(HWND owner, const Box &box, const char *kind, BoxObserver *observer)
{
    if (observer)
        observer->boxOpened(kind, box.icon, utf8(box.title), utf8(box.text));
    int answer = box.escapeAnswer;
    if (!withTaskDialog(owner, box, observer, answer))
        answer = withMessageBox(owner, box);
    if (observer)
        observer->boxAnswered(kind, answer);
    return answer;
}

const char *questionKind(Question::Kind kind)
{
    switch (kind) {
    case Question::Kind::ShuffleAgain:
        return "ShuffleAgain";
    case Question::Kind::StripOtherDigits:
        return "StripOtherDigits";
    case Question::Kind::Recovery:
        return "Recovery";
    case Question::Kind::DamagedRecord:
        return "DamagedRecord";
    case Question::Kind::OrderingFolder:
        return "OrderingFolder";
    case Question::Kind::CloseDuringPass:
        return "CloseDuringPass";
    case Question::Kind::UnfinishedElsewhere:
        return "UnfinishedElsewhere";
    case Question::Kind::ForeignPrefixes:
        return "ForeignPrefixes";
    }
    return "Question";
}

} // namespace

korvalo::session::Answer askQuestion(HWND owner, const Question &question, BoxObserver *observer)
{
    // A box's buttons answer with their numbers: the question's choices in order.
    Box box;
    box.icon = question.tone == Question::Tone::Warning ? BoxIcon::Warning : BoxIcon::Question;
    box.title = wide(question.title);
    box.text = wide(question.text);
    box.defaultAnswer = box.escapeAnswer = -1;
    for (const Question::Choice &choice : question.choices) {
        const int number = static_cast<int>(box.buttons.size());
        box.buttons.push_back({wide(choice.caption), number});
        if (choice.answer == question.defaultAnswer)
            box.defaultAnswer = number;
        if (choice.answer == question.escapeAnswer)
            box.escapeAnswer = number;
    }
    const int number = show(owner, box, questionKind(question.kind), observer);
    if (number < 0 || number >= static_cast<int>(question.choices.size()))
        return question.escapeAnswer;
    return question.choices[static_cast<std::size_t>(number)].answer;
}

void showMessage(HWND owner, BoxIcon icon, const std::string &title, const std::string &text,
                 BoxObserver *observer)
{
    Box box;
    box.icon = icon;
    box.title = wide(title);
    box.text = wide(text);
    box.buttons.push_back({wide(korvalo::texts::caption::kOk), 0});
    show(owner, box, "message", observer);
}

} // namespace win32
