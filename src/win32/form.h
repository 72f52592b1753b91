#pragma once

#include "browse/listerror.h"
#include "passes/rename.h"
#include "session/progressview.h"
#include "session/windowcontroller.h"
#include "win32/boxes.h"

#include <windows.h>

#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace win32 {

class Form;

// Watches the window from outside (a recorder, an accessibility aid): told on the window's thread
// each time the window has drawn a step, and of every box it shows.
class FormObserver : public BoxObserver
{
public:
    // `step` names what was drawn: "start", "folder", "drive", "drives", "option", "pass",
    // "running" or "finished".
    virtual void stepDrawn(const Form &form, const char *step) = 0;
};

// The program's one window on Windows, made of the system's own controls, the twin of the Qt
// window: the same controls, captions, places and tab order (the layout table), the same
// enabling rules, and the folder session behind it for every decision and text. Drive1 and Dir1
// choose the folder, File1 shows its songs and Label3 counts them; Option1 and Option2 choose
// which pass button is enabled; Command1 runs the shuffle pass, Command2 the prefix removal pass.
// A pass runs on the session's worker thread; a timer draws its progress, and the worker's end
// comes back as a message to the window.
class Form : private korvalo::session::WindowHooks
{
public:
    static bool registerClass(HINSTANCE instance);
    // The passes rename through `renameCalls`; `observer`, when there is one, outlives the window.
    explicit Form(HINSTANCE instance,
                  korvalo::RenameSystem &renameCalls = korvalo::systemRenameCalls(),
                  FormObserver *observer = nullptr);
    ~Form() override;
    Form(const Form &) = delete;
    Form &operator=(const Form &) = delete;

    HWND window() const { return m_window; }
    // Tab, Enter and Esc among the controls.
    bool dialogMessage(MSG &message);

    // What an observer reads besides the controls' own state: a control by its name in the
    // layout table, the dpi the window is drawn for, Dir1's folder, whether a plan runs.
    HWND control(std::string_view name) const;
    int dpi() const { return m_dpi; }
    const std::filesystem::path &dirPath() const { return m_dirPath; }
    bool running() const { return m_controller && m_controller->running(); }

private:
    static LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT handle(UINT message, WPARAM wParam, LPARAM lParam);
    void onCreate(HWND window);
    void buildControls();
    void onCommand(int id, int code);
    int px(int twips) const;

    void showStartFolder();
    void refreshDrives();
    void openDirItem();
    void showDirFolder(const std::filesystem::path &folder,
                       std::vector<std::filesystem::path> subfolders);
    void onProgressTimer();
    void drawProgress(const korvalo::session::Progress &progress);
    void restoreFocus();

    // What the controller has the window draw and ask.
    void showSongs(const korvalo::MusicFileList &songs) override;
    void showCount(const std::string &count) override;
    void showOption(korvalo::session::Mode mode) override;
    void showButtons(const korvalo::session::PassButtons &buttons) override;
    // Dir1 shows `folder`: its chain from the drive's root and its subfolders. On failure
    // nothing changes.
    korvalo::ListError showFolder(const std::filesystem::path &folder) override;
    void restoreFolder(const std::filesystem::path &folder) override;
    void showDriveOf(const std::filesystem::path &folder) override;
    void holdInput(bool hold) override;
    void tell(const korvalo::session::Notice &notice) override;
    korvalo::session::Answer ask(const korvalo::session::Question &question) override;
    void wake() override;
    void closeWindow() override;

    void setText(std::string_view name, const std::string &utf8);
    void enable(std::string_view name, bool on);
    bool enabled(std::string_view name) const;
    // Tells the observer, if any, that a step was drawn.
    void stepDrawn(const char *step) const;

    HINSTANCE m_instance;
    HWND m_window = nullptr;
    HFONT m_font = nullptr;
    HFONT m_percentFont = nullptr;
    int m_dpi = 96;
    std::map<std::string_view, HWND> m_controls;

    korvalo::session::ProgressView m_progressView;
    std::vector<std::filesystem::path> m_drives; // Drive1's items
    int m_shownDrive = -1;
    std::filesystem::path m_dirPath;               // Dir1's path
    std::vector<std::filesystem::path> m_dirItems; // Dir1's items
    HWND m_focusBefore = nullptr;
    FormObserver *m_observer;
    std::unique_ptr<korvalo::session::WindowController> m_controller;
};

} // namespace win32
