#include "command_line.h"

#include <cstdlib>
#include <stdexcept>

#include "audio_constants.h"

const char* programVersion() { return LV_VERSION; }

bool CommandLine::next() {
    while (++mIndex < mArgc) {
        mArg = mArgv[mIndex];
        if (!mEndOfOptions && mArg == "--") {
            mEndOfOptions = true;
            continue;
        }
        mName = isInput() ? mArg : mArg.substr(0, mArg.find('='));
        return true;
    }
    return false;
}

bool CommandLine::isInput() const { return mEndOfOptions || mArg.empty() || mArg[0] != '-' || mArg == "-"; }

bool CommandLine::value(std::string& out, std::string& error) {
    size_t eq = mArg.find('=');
    if (eq != std::string::npos) {
        out = mArg.substr(eq + 1);
        return true;
    }
    if (mIndex + 1 >= mArgc) {
        error = mArg + " needs a value";
        return false;
    }
    out = mArgv[++mIndex];
    return true;
}

std::string CommandLine::optionalValue() {
    size_t eq = mArg.find('=');
    if (eq != std::string::npos) return mArg.substr(eq + 1);
    if (mIndex + 1 < mArgc && mArgv[mIndex + 1][0] != '-') return mArgv[++mIndex];
    return "";
}

namespace {

// strtol and strtod skip leading spaces and take a sign, and strtod hex and
// words ("inf"); a value is refused unless it is written plainly.
bool plainNumber(const std::string& text, const char* allowed) {
    return !text.empty() && ((text[0] >= '0' && text[0] <= '9') || text[0] == '-' || text[0] == '.') &&
           text.find_first_not_of(allowed) == std::string::npos;
}

}  // namespace

bool parseIntIn(const std::string& text, int lo, int hi, int& out) {
    if (!plainNumber(text, "-0123456789")) return false;
    char* end = nullptr;
    long v = std::strtol(text.c_str(), &end, 10);
    if (*end || v < lo || v > hi) return false;
    out = int(v);
    return true;
}

bool parseNumberIn(const std::string& text, double lo, double hi, double& out) {
    if (!plainNumber(text, "-+.0123456789eE")) return false;
    char* end = nullptr;
    double v = std::strtod(text.c_str(), &end);
    if (*end || !(v >= lo && v <= hi)) return false;
    out = v;
    return true;
}

OptionRule flagOption(const std::string& name, bool& target, const std::string& alias) {
    return {name, alias, OptionRule::Takes::NOTHING, [&target](const std::string&) { return target = true; }, ""};
}

OptionRule textOption(const std::string& name, std::string& target) {
    return {name, "", OptionRule::Takes::VALUE,
            [&target](const std::string& v) {
                target = v;
                return true;
            },
            ""};
}

OptionRule intOption(const std::string& name, int lo, int hi, int& target, const std::string& wants) {
    return {name, "", OptionRule::Takes::VALUE,
            [lo, hi, &target](const std::string& v) { return parseIntIn(v, lo, hi, target); }, wants};
}

OptionRule numberOption(const std::string& name, double lo, double hi, double& target, const std::string& wants) {
    return {name, "", OptionRule::Takes::VALUE,
            [lo, hi, &target](const std::string& v) { return parseNumberIn(v, lo, hi, target); }, wants};
}

std::vector<OptionRule> commonOptionRules(CommonOptions& o) {
    OptionRule capture{"--capture", "", OptionRule::Takes::OPTIONAL_VALUE,
                       [&o](const std::string& v) {
                           o.capture = true;
                           o.captureSource = v;
                           return true;
                       },
                       ""};
    OptionRule helpMan = flagOption("--help-man", o.helpMan);
    OptionRule helpCompletion = flagOption("--help-completion", o.helpCompletion);
    helpMan.hidden = helpCompletion.hidden = true;
    return {
        flagOption("--loop", o.loop).doc(kPlayingSection, "start the list again when it ends"),
        capture.doc(kLiveSection, "[SOURCE]",
                    "what the computer is playing, read from a PulseAudio or PipeWire source; by default the "
                    "monitor of the default output"),
        flagOption("--list-sources", o.listSources).doc(kLiveSection, "list the sources --capture can read, and exit"),
        textOption("--player", o.player)
            .doc(kLiveSection, "NAME",
                 "with --capture, the music player whose track is shown (its D-Bus name "
                 "org.mpris.MediaPlayer2.NAME, as playerctl -p takes it); by default the player playing, and of "
                 "several the one that started last"),
        flagOption("--verbose", o.verbose).doc(kOtherSection, "FFmpeg's messages"),
        flagOption("--help", o.help, "-h").doc(kOtherSection, "this text"),
        flagOption("--version", o.version).doc(kOtherSection, "the version"),
        helpMan,
        helpCompletion,
    };
}

OptionRule& optionRow(std::vector<OptionRule>& table, const std::string& name) {
    for (OptionRule& r : table)
        if (r.name == name) return r;
    throw std::logic_error("no option " + name + " in the table");
}

std::string fillIn(std::string text, const std::vector<std::pair<std::string, std::string>>& values) {
    for (const auto& [name, value] : values) {
        const std::string key = "{" + name + "}";
        for (size_t at; (at = text.find(key)) != std::string::npos;) text.replace(at, key.size(), value);
    }
    return text;
}

bool readCommandLine(int argc, char** argv, const std::vector<OptionRule>& table, std::vector<std::string>& inputs,
                     std::string& error, std::map<std::string, std::string>* given) {
    CommandLine args(argc, argv);
    while (args.next()) {
        if (args.isInput()) {
            inputs.push_back(args.arg());
            continue;
        }
        const OptionRule* rule = nullptr;
        std::string spelled;
        for (const OptionRule& r : table) {
            bool whole = r.takes == OptionRule::Takes::NOTHING;
            const std::string& written = whole ? args.arg() : args.name();
            if (written == r.name || (!r.alias.empty() && written == r.alias)) {
                rule = &r;
                spelled = written;
            }
        }
        if (!rule) {
            error = "unknown option " + args.arg();
            return false;
        }
        std::string value;
        if (rule->takes == OptionRule::Takes::VALUE && !args.value(value, error)) return false;
        if (rule->takes == OptionRule::Takes::OPTIONAL_VALUE) value = args.optionalValue();
        if (!rule->set(value)) {
            error = rule->name + " takes " + rule->wants + ", not \"" + value + "\"";
            return false;
        }
        if (given) (*given)[rule->name] = spelled;
    }
    return true;
}
