#pragma once

// What the window benchmarks share: finding the window's controls, and hooks that end the
// benchmark on any message box or question, which would block a user's pass.

#include "benchutil.h"
#include "qtwindow/form1.h"

namespace bench {

// A control of the window, found by its object name ("Dir1", "Command1", ...).
template <typename T> T *control(Form1 &form, const char *name)
{
    T *found = form.findChild<T *>(QLatin1String(name));
    if (!found)
        fail(std::string("the window has no ") + name);
    return found;
}

inline void failOnMessageBox(Form1 &form)
{
    form.setMessageHook([](QMessageBox::Icon, const QString &title, const QString &text) {
        bench::fail("the window showed a message box: " + title.toStdString() + ": " +
                    text.toStdString());
    });
    form.setQuestionHook([](const korvalo::session::Question &q) {
        bench::fail("the window asked a question: " + q.title + ": " + q.text);
        return q.escapeAnswer;
    });
}

} // namespace bench
