#pragma once

// What the window benchmarks share: a message box would block a user's pass, so any of them
// ends the benchmark.

#include "benchutil.h"
#include "window/form1.h"

namespace bench {

inline void failOnMessageBox(Form1 &form)
{
    form.setMessageHook([](QMessageBox::Icon, const QString &title, const QString &text) {
        bench::fail("the window showed a message box: " + title.toStdString() + ": " +
                    text.toStdString());
    });
}

} // namespace bench
