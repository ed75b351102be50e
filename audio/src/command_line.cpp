#include "command_line.h"

#include <cstdlib>

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

bool parseIntIn(const std::string& text, int lo, int hi, int& out) {
    if (text.empty()) return false;
    char* end = nullptr;
    long v = std::strtol(text.c_str(), &end, 10);
    if (*end || v < lo || v > hi) return false;
    out = int(v);
    return true;
}

bool parseNumberIn(const std::string& text, double lo, double hi, double& out) {
    if (text.empty()) return false;
    char* end = nullptr;
    double v = std::strtod(text.c_str(), &end);
    if (*end || !(v >= lo && v <= hi)) return false;
    out = v;
    return true;
}
