#include "win32/program.h"

#include <commctrl.h>

namespace win32 {

int runWindow(HINSTANCE instance, int show, korvalo::RenameSystem &renameCalls,
              FormObserver *observer)
{
    INITCOMMONCONTROLSEX controls = {};
    controls.dwSize = sizeof controls;
    controls.dwICC = ICC_STANDARD_CLASSES | ICC_PROGRESS_CLASS;
    ::InitCommonControlsEx(&controls);

    if (!Form::registerClass(instance))
        return 1;
    Form form(instance, renameCalls, observer);
    if (!form.window())
        return 1;
    ::ShowWindow(form.window(), show);
    ::UpdateWindow(form.window());

    MSG message;
    while (::GetMessageW(&message, nullptr, 0, 0) > 0) {
        if (form.dialogMessage(message))
            continue;
        ::TranslateMessage(&message);
        ::DispatchMessageW(&message);
    }
    return static_cast<int>(message.wParam);
}

} // namespace win32
