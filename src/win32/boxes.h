#pragma once

// The window's boxes: the session's questions with their own buttons, and its messages with one
// "确定" button. A task dialog where the system has one (common controls 6, which the manifest
// asks for); otherwise a message box whose buttons are given the same captions.

#include "session/question.h"

#include <windows.h>

#include <string>

namespace win32 {

enum class BoxIcon
{
    Warning,
    Information,
    Question
};

// Told of every box, on the window's thread: opened (`kind`: the question's kind, or "message"),
// placed over its owner, answered.
class BoxObserver
{
public:
    virtual ~BoxObserver() = default;
    virtual void boxOpened(const char *kind, BoxIcon icon, const std::string &title,
                           const std::string &text) = 0;
    virtual void boxPlaced(HWND box, HWND owner) = 0;
    virtual void boxAnswered(const char *kind, int answer) = 0;
};

// Asks and gives one of the question's answers: Enter gives its default, Esc and the close button
// its escape answer.
korvalo::session::Answer askQuestion(HWND owner, const korvalo::session::Question &question,
                                     BoxObserver *observer = nullptr);
// Shows a message and waits until it is closed.
void showMessage(HWND owner, BoxIcon icon, const std::string &title, const std::string &text,
                 BoxObserver *observer = nullptr);

} // namespace win32
