#include "qtwindow/messages.h"

#include "session/texts.h"

#include <QPushButton>

#include <utility>
#include <vector>

namespace messages {

using Question = korvalo::session::Question;

QString text(const std::string &utf8)
{
    return QString::fromStdString(utf8);
}

void showBox(QWidget *parent, QMessageBox::Icon icon, const QString &title, const QString &body)
{
    QMessageBox box(icon, title, body, QMessageBox::Ok, parent);
    box.button(QMessageBox::Ok)->setText(text(korvalo::texts::caption::kOk));
    box.exec();
}

korvalo::session::Answer askInBox(QWidget *parent, const Question &q)
{
    const QMessageBox::Icon icon =
        q.tone == Question::Tone::Warning ? QMessageBox::Warning : QMessageBox::Question;
    QMessageBox box(icon, text(q.title), text(q.text), QMessageBox::NoButton, parent);
    std::vector<std::pair<QAbstractButton *, korvalo::session::Answer>> answers;
    for (const Question::Choice &choice : q.choices) {
        QPushButton *button = box.addButton(text(choice.caption), QMessageBox::ActionRole);
        answers.emplace_back(button, choice.answer);
        if (choice.answer == q.defaultAnswer)
            box.setDefaultButton(button);
        if (choice.answer == q.escapeAnswer)
            box.setEscapeButton(button);
    }
    box.exec();
    for (const auto &[button, answer] : answers)
        if (button == box.clickedButton())
            return answer;
    return q.escapeAnswer;
}

} // namespace messages
