// A program's manual: its option table and the words around it. --help, the
// man page and the bash completion are all written from one Manual, so what
// they list is what the command line takes.
//
// Text is given as paragraphs on one line each, separated by "\n\n"; --help
// wraps them, the man page leaves that to the pager. A line starting with
// two spaces is an example and is kept as it is.
#pragma once

#include <string>
#include <vector>

#include "command_line.h"

struct Manual {
    // A heading options are listed under (their OptionRule::section), with
    // a paragraph after them.
    struct Section {
        std::string title;
        std::string note;
    };
    struct Entry {
        std::string term;   // "Esc, Ctrl+Q", "2", "PULSE_SERVER"
        std::string text;
    };
    // What follows the options: keys, exit statuses, environment, files, or
    // prose alone. The man page makes each a section of its own.
    struct Topic {
        std::string title;
        std::string text;
        std::vector<Entry> entries;
    };

    std::string program;       // "lumenvortex"
    std::string summary;       // the man page's NAME line
    std::string synopsis;      // "[OPTIONS] [FILE|FOLDER ...]"
    std::string description;
    std::vector<Section> sections;
    std::vector<OptionRule> options;
    std::vector<Topic> topics;
};

// The titles of the topics the man page files under its usual section names.
inline constexpr char kExitStatusTopic[] = "Exit status";
inline constexpr char kEnvironmentTopic[] = "Environment";
inline constexpr char kFilesTopic[] = "Files";

std::string helpText(const Manual& manual);
// roff for man(7), section 1.
std::string manPage(const Manual& manual, const std::string& version);
// A bash completion script for the program.
std::string bashCompletion(const Manual& manual);

// What --help, --help-man or --help-completion ask of `manual`, written to
// standard output: true when one of them was asked.
bool answerHelp(const CommonOptions& options, const Manual& manual);
