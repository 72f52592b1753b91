#pragma once

#include <QMessageBox>
#include <QString>

#include <vector>

// A question the window asks in a message box: its buttons in order, each with the answer it
// gives, the answer of Enter and the answer of Esc (and of the box's close button).
struct Question
{
    struct Choice
    {
        QString caption;
        int answer = 0;
    };

    QMessageBox::Icon icon = QMessageBox::Question;
    QString title;
    QString text;
    std::vector<Choice> choices;
    int defaultAnswer = 0;
    int escapeAnswer = 0;
};
