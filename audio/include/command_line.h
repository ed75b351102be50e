// The command-line grammar the player and the spectrum server share: options
// start with "-" and take a value as "--name value" or "--name=value"; "--"
// ends the options; every other argument is a file or folder.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

class CommandLine {
public:
    CommandLine(int argc, char** argv) : mArgc(argc), mArgv(argv) {}

    // Moves to the next argument (skipping a "--"); false after the last.
    bool next();
    const std::string& arg() const { return mArg; }
    // The option's name without an "=value" part.
    const std::string& name() const { return mName; }
    // A file or folder rather than an option.
    bool isInput() const;
    // The option's value; false with `error` set when none follows.
    bool value(std::string& out, std::string& error);
    // For options whose value may be left out ("--capture [SOURCE]"): the
    // "=value", else the next argument unless it is an option; "" for none.
    std::string optionalValue();

private:
    int mArgc;
    char** mArgv;
    int mIndex = 0;
    bool mEndOfOptions = false;
    std::string mArg;
    std::string mName;
};

// Whole numbers and numbers within [lo, hi], the whole text read and written
// plainly (no spaces, no plus sign before them, no hex or words like "inf");
// false for anything else, leaving `out` alone.
bool parseIntIn(const std::string& text, int lo, int hi, int& out);
bool parseNumberIn(const std::string& text, double lo, double hi, double& out);

// One option of a program's command line: a row of the table the program
// reads its arguments by, and what --help, the man page and the shell
// completion say of it (manual.h), so that none of them can drift from what
// the program takes.
struct OptionRule {
    enum class Takes { NOTHING, VALUE, OPTIONAL_VALUE };
    // What the shell completes a value with.
    enum class Completes { TEXT, FILE, FOLDER, WORDS };
    OptionRule(std::string name_, std::string alias_, Takes takes_, std::function<bool(const std::string&)> set_,
               std::string wants_)
        : name(std::move(name_)), alias(std::move(alias_)), takes(takes_), set(std::move(set_)),
          wants(std::move(wants_)) {}

    std::string name;    // "--fps"
    std::string alias;   // "-h", or ""
    Takes takes = Takes::NOTHING;
    // Stores the value ("" for NOTHING, and for an OPTIONAL_VALUE left out);
    // false for a value the option does not take, which is then refused with
    // "<name> takes <wants>, not "<value>"".
    std::function<bool(const std::string&)> set;
    std::string wants;

    std::string section;     // the heading it is listed under in --help
    std::string help;        // what it does, one paragraph
    std::string valueName;   // "N", "WxH"; in brackets when it may be left out
    Completes completes = Completes::TEXT;
    std::vector<std::string> words;   // for WORDS
    bool hidden = false;     // read, but left out of --help, man page and completion

    // The row's words, chained onto the row's maker:
    //   intOption("--fps", ...).doc("Rendering a video", "N", "frames a second")
    OptionRule& doc(std::string sectionTitle, std::string value, std::string text) {
        section = std::move(sectionTitle);
        valueName = std::move(value);
        help = std::move(text);
        return *this;
    }
    OptionRule& doc(std::string sectionTitle, std::string text) {
        return doc(std::move(sectionTitle), "", std::move(text));
    }
    OptionRule& completeWith(Completes what, std::vector<std::string> choices = {}) {
        completes = what;
        words = std::move(choices);
        return *this;
    }
};

// Rows for the usual kinds of option. A flag must be written whole
// ("--loop=1" is an unknown option); the others take "=value" too.
OptionRule flagOption(const std::string& name, bool& target, const std::string& alias = "");
OptionRule textOption(const std::string& name, std::string& target);
OptionRule intOption(const std::string& name, int lo, int hi, int& target, const std::string& wants);
OptionRule numberOption(const std::string& name, double lo, double hi, double& target, const std::string& wants);

// What both programs take: files (or live sound), the list and the
// diagnostics.
struct CommonOptions {
    std::vector<std::string> inputs;   // files and folders; none: the demo song
    bool capture = false;
    std::string captureSource;         // empty: the default output's monitor
    std::string player;                // --player: the MPRIS player whose track capture shows; empty: any
    bool listSources = false;
    bool loop = false;
    bool verbose = false;
    bool help = false;
    bool version = false;
    // The build writes the man page and the bash completion from the table.
    bool helpMan = false;
    bool helpCompletion = false;
};
// Headings of --help both programs list options under.
inline constexpr char kPlayingSection[] = "Playing";
inline constexpr char kLiveSection[] = "Live sound";
inline constexpr char kOtherSection[] = "Other";
std::vector<OptionRule> commonOptionRules(CommonOptions& options);
// The row of `name`, for a program to say more of a shared option.
OptionRule& optionRow(std::vector<OptionRule>& table, const std::string& name);

// `text` with each "{NAME}" replaced by its value: usage texts that name
// the constants' values from their one home.
std::string fillIn(std::string text, const std::vector<std::pair<std::string, std::string>>& values);

// Reads the arguments by `table`, files and folders into `inputs`. False
// with `error` set for an unknown option or a missing or refused value.
// `given`, when asked for, maps each option given to the way it was written
// (its name or its alias), for messages that quote the user.
bool readCommandLine(int argc, char** argv, const std::vector<OptionRule>& table, std::vector<std::string>& inputs,
                     std::string& error, std::map<std::string, std::string>* given = nullptr);
