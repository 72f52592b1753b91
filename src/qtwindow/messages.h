#pragma once

// The session's texts and questions as message boxes: the window's only way of telling and asking.

#include "session/question.h"

#include <QMessageBox>
#include <QString>

#include <string>

class QWidget;

namespace messages {

// A text of the session's table (UTF-8) on the screen.
QString text(const std::string &utf8);

// Shows a box with an OK button and waits for it.
void showBox(QWidget *parent, QMessageBox::Icon icon, const QString &title, const QString &text);

// Asks the question in a box, one button per choice in order; Enter gives its default answer, Esc
// and the box's close button its escape answer.
korvalo::session::Answer askInBox(QWidget *parent, const korvalo::session::Question &question);

} // namespace messages
