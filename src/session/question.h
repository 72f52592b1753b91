#pragma once

// A question Korvalo asks the user before it renames anything, and who answers it. Every front
// end (the window, the terminal) implements Asker; the questions themselves, their texts and their
// answers are the session's.

#include "passes/passes.h"
#include "passes/recoveryplan.h"

#include <compare>
#include <cstddef>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace korvalo::session {

// The answers, a type for each question, so that an answer read as the wrong kind does not
// compile.
// Leave the matter for now: nothing is renamed (Recovery, DamagedRecord, UnfinishedElsewhere).
struct Later
{
    auto operator<=>(const Later &) const = default;
};
// Names carry a prefix already (ShuffleAgain, ForeignPrefixes).
enum class PrefixedAnswer
{
    Cancel,     // rename nothing
    AddAnother, // a second prefix in front
    NewDigits   // new digits in place of the prefix
};
// Names begin with digits Korvalo did not write (StripOtherDigits).
using DigitAnswer = PassQuestions::DigitAnswer;
// An unfinished pass (Recovery): a RecoveryChoice, or Later.
// The damaged record (DamagedRecord): set it aside and take the folder as it is, or Later.
struct LeaveRecord
{
    auto operator<=>(const LeaveRecord &) const = default;
};
// The folder files pass through to be stored in order (OrderingFolder).
enum class ReturnAnswer
{
    MoveBack,
    Cancel
};
// The window is closed while a plan runs (CloseDuringPass).
enum class CloseAnswer
{
    Stop,
    GoOn
};
// At start-up (UnfinishedElsewhere): the folder of that index to open, or Later.
struct OpenFolder
{
    std::size_t index = 0;
    auto operator<=>(const OpenFolder &) const = default;
};
using Answer = std::variant<Later, PrefixedAnswer, DigitAnswer, RecoveryChoice, LeaveRecord,
                            ReturnAnswer, CloseAnswer, OpenFolder>;

struct Question
{
    enum class Kind
    {
        ShuffleAgain,        // listed names carry Korvalo's prefix already
        StripOtherDigits,    // names begin with digits Korvalo did not write
        Recovery,            // an unfinished pass
        DamagedRecord,       // the folder's record is damaged
        OrderingFolder,      // the folder is the one files pass through to be stored
        CloseDuringPass,     // the window is closed while a pass runs
        UnfinishedElsewhere, // at start-up: a folder to open
        ForeignPrefixes      // most names begin with digits like a prefix written elsewhere
    };
    // How the question looks: a plain question, or one about something that went wrong.
    enum class Tone
    {
        Question,
        Warning
    };
    struct Choice
    {
        std::string caption; // a button's caption
        Answer answer;
        std::string key; // what to type on a terminal for it ("1", "y", ...)
    };

    Kind kind = Kind::ShuffleAgain;
    Tone tone = Tone::Question;
    std::string title;
    std::string text;
    std::vector<Choice> choices;
    Answer defaultAnswer; // Enter, or an empty line on a terminal
    Answer escapeAnswer;  // Esc, the box's close button, or the end of the input
    // The answer when nobody can be asked (korvalo-cli not on a terminal): always the safe one.
    Answer unattendedAnswer;
};

class Asker
{
public:
    virtual ~Asker() = default;
    // False when nobody can be asked: the question's unattended answer is taken, and the report
    // says how to give another answer.
    virtual bool attended() const { return true; }
    // An answer given beforehand (an option on korvalo-cli's command line): taken without asking.
    virtual std::optional<Answer> given(const Question &question) const
    {
        (void)question;
        return std::nullopt;
    }
    // Asks and waits; gives one of the question's answers.
    virtual Answer ask(const Question &question) = 0;
};

} // namespace korvalo::session
