// The command-line grammar the player and the spectrum server share: options
// start with "-" and take a value as "--name value" or "--name=value"; "--"
// ends the options; every other argument is a file or folder.
#pragma once

#include <string>

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

// Whole numbers and numbers within [lo, hi], the whole text read; false for
// anything else, leaving `out` alone.
bool parseIntIn(const std::string& text, int lo, int hi, int& out);
bool parseNumberIn(const std::string& text, double lo, double hi, double& out);
