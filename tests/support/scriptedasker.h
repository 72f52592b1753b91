#pragma once

// An Asker for session tests: its answers are scripted per kind of question (or queued, taken
// first), it can play a user who is not there or an answer given beforehand, and it keeps every
// question the session put to it. A question asked without a scripted answer is answered with the
// question's escape and counted, so a test can fail on it. A scripted answer may be a key instead:
// Key::Enter gives the question's default, Key::Esc its escape.

#include "session/question.h"

#include <deque>
#include <map>
#include <optional>
#include <variant>
#include <vector>

class ScriptedAsker : public korvalo::session::Asker
{
public:
    using Question = korvalo::session::Question;
    using Answer = korvalo::session::Answer;
    enum class Key
    {
        Enter,
        Esc
    };
    using Press = std::variant<Answer, Key>;

    std::map<Question::Kind, Press> answers;       // asked: the answer for a kind
    std::deque<Press> queue;                       // asked: taken before `answers`
    std::map<Question::Kind, Answer> givenAnswers; // given beforehand: never asked
    bool isAttended = true;                        // false: nobody can be asked
    mutable std::vector<Question> met;             // every question put, asked or not
    std::vector<Question> asked;                   // the questions ask() was called with
    int unscripted = 0;                            // asked with no answer scripted

    bool attended() const override { return isAttended; }

    std::optional<Answer> given(const Question &question) const override
    {
        met.push_back(question);
        if (const auto it = givenAnswers.find(question.kind); it != givenAnswers.end())
            return it->second;
        return std::nullopt;
    }

    Answer ask(const Question &question) override
    {
        asked.push_back(question);
        if (!queue.empty()) {
            const Press press = queue.front();
            queue.pop_front();
            return pressed(question, press);
        }
        if (const auto it = answers.find(question.kind); it != answers.end())
            return pressed(question, it->second);
        ++unscripted;
        return question.escapeAnswer;
    }

    static Answer pressed(const Question &question, const Press &press)
    {
        if (const Answer *answer = std::get_if<Answer>(&press))
            return *answer;
        return std::get<Key>(press) == Key::Enter ? question.defaultAnswer : question.escapeAnswer;
    }
};
