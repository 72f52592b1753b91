// korvalo.exe: Korvalo's window on Windows, made of the system's own controls.

#include "win32/form.h"

#include <windows.h>

#include <commctrl.h>

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int show)
{
    INITCOMMONCONTROLSEX controls = {};
    controls.dwSize = sizeof controls;
    controls.dwICC = ICC_STANDARD_CLASSES | ICC_PROGRESS_CLASS;
    ::InitCommonControlsEx(&controls);

    if (!win32::Form::registerClass(instance))
        return 1;
    win32::Form form(instance);
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
