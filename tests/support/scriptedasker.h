#pragma once

// An Asker for session tests: its answers are scripted per kind of question (or queued, taken
// first), it can play a user who is not there or an answer given beforehand, and it keeps every
// question the session put to it. A question asked without a scripted answer is answered with the
// question's escape and counted, so a test can fail on it. A scripted answer may be a key instead:
// kEnter gives the question's default, kEsc its escape.

#include "session/question.h"

#include <deque>
#include <map>
#include <optional>
#include <vector>

class ScriptedAsker : public korvalo::session::Asker
{
public:
    using Question = korvalo::session::Question;

    static constexpr int kEnter = -1000;
    static constexpr int kEsc = -1001;

    std::map<Question::Kind, int> answers;      // asked: the answer for a kind
    std::deque<int> queue;                      // asked: taken before `answers`
    std::map<Question::Kind, int> givenAnswers; // given beforehand: never asked
    bool isAttended = true;                     // false: nobody can be asked
    mutable std::vector<Question> met;          // every question put, asked or not
    std::vector<Question> asked;                // the questions ask() was called with
    int unscripted = 0;                         // asked with no answer scripted

    bool attended() const override { return isAttended; }

    std::optional<int> given(const Question &question) const override
    {
        met.push_back(question);
        if (const auto it = givenAnswers.find(question.kind); it != givenAnswers.end())
            return it->second;
        return std::nullopt;
    }

    int ask(const Question &question) override
    {
        asked.push_back(question);
        if (!queue.empty()) {
            const int answer = queue.front();
            queue.pop_front();
            return pressed(question, answer);
        }
        if (const auto it = answers.find(question.kind); it != answers.end())
            return pressed(question, it->second);
        ++unscripted;
        return question.escapeAnswer;
    }

private:
    static int pressed(const Question &question, int answer)
    {
        return answer == kEnter ? question.defaultAnswer
               : answer == kEsc ? question.escapeAnswer
                                : answer;
    }
};
