#pragma once

// A question Korvalo asks the user before it renames anything, and who answers it. Every front
// end (the window, the terminal) implements Asker; the questions themselves, their texts and their
// answers are the session's.

#include <optional>
#include <string>
#include <vector>

namespace korvalo::session {

struct Question
{
    enum class Kind
    {
        ShuffleAgain,        // listed names carry Korvalo's prefix already: kNo / kYes / kReplace
        StripOtherDigits,    // names begin with digits Korvalo did not write: DigitChoice
        Recovery,            // an unfinished pass: RecoveryChoice, or kLater
        DamagedRecord,       // the folder's record is damaged: kLeaveRecord / kLater
        OrderingFolder,      // the folder is the one files pass through to be stored: kYes / kNo
        CloseDuringPass,     // the window is closed while a pass runs: kYes (stop) / kNo (go on)
        UnfinishedElsewhere, // at start-up: a folder to open (its index), or kLater
        ForeignPrefixes      // most names begin with digits like a prefix written elsewhere: as
                             // ShuffleAgain
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
        int answer = 0;
        std::string key; // what to type on a terminal for it ("1", "y", ...)
    };

    Kind kind = Kind::ShuffleAgain;
    Tone tone = Tone::Question;
    std::string title;
    std::string text;
    std::vector<Choice> choices;
    int defaultAnswer = 0; // Enter, or an empty line on a terminal
    int escapeAnswer = 0;  // Esc, the box's close button, or the end of the input
    // The answer when nobody can be asked (korvalo-cli not on a terminal): always the safe one.
    int unattendedAnswer = 0;
};

// The answers that are not an enum of the core's.
inline constexpr int kNo = 0;
inline constexpr int kYes = 1;
inline constexpr int kLater = -1;      // leave the matter for now: nothing is renamed
inline constexpr int kLeaveRecord = 2; // set the damaged record aside, take the folder as it is
inline constexpr int kReplace = 3;     // prefixes there already: new digits in their place

class Asker
{
public:
    virtual ~Asker() = default;
    // False when nobody can be asked: the question's unattended answer is taken, and the report
    // says how to give another answer.
    virtual bool attended() const { return true; }
    // An answer given beforehand (an option on korvalo-cli's command line): taken without asking.
    virtual std::optional<int> given(const Question &question) const
    {
        (void)question;
        return std::nullopt;
    }
    // Asks and waits; gives one of the question's answers.
    virtual int ask(const Question &question) = 0;
};

} // namespace korvalo::session
