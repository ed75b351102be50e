#include "manual.h"

#include <cctype>
#include <cstdio>
#include <sstream>

#include "audio_constants.h"

namespace {

constexpr size_t kWidth = 79;
constexpr size_t kTermColumn = 23;   // where an option's or a key's text starts in --help

std::vector<std::string> split(const std::string& text, const std::string& by) {
    std::vector<std::string> parts;
    size_t from = 0;
    for (size_t at; (at = text.find(by, from)) != std::string::npos; from = at + by.size())
        parts.push_back(text.substr(from, at - from));
    parts.push_back(text.substr(from));
    return parts;
}

bool isExample(const std::string& line) { return line.compare(0, 2, "  ") == 0; }

// `paragraph` filled to kWidth: the first line after `first` (already
// written out), the next ones indented by `indent`.
void fill(std::ostringstream& out, const std::string& paragraph, size_t first, size_t indent) {
    std::istringstream words(paragraph);
    size_t column = first;
    bool lineEmpty = true;
    for (std::string word; words >> word;) {
        if (!lineEmpty && column + 1 + word.size() > kWidth) {
            out << '\n' << std::string(indent, ' ');
            column = indent;
            lineEmpty = true;
        }
        if (!lineEmpty) {
            out << ' ';
            ++column;
        }
        out << word;
        column += word.size();
        lineEmpty = false;
    }
    out << '\n';
}

// Paragraphs at `indent`, a blank line between them; examples as written.
void text(std::ostringstream& out, const std::string& paragraphs, size_t indent) {
    bool firstParagraph = true;
    for (const std::string& paragraph : split(paragraphs, "\n\n")) {
        if (!firstParagraph) out << '\n';
        firstParagraph = false;
        for (const std::string& line : split(paragraph, "\n")) {
            if (isExample(line)) {
                out << std::string(indent, ' ') << line << '\n';
            } else {
                out << std::string(indent, ' ');
                fill(out, line, indent, indent);
            }
        }
    }
}

void entry(std::ostringstream& out, const std::string& term, const std::string& what) {
    out << "  " << term;
    if (2 + term.size() + 1 > kTermColumn) out << '\n' << std::string(kTermColumn, ' ');
    else out << std::string(kTermColumn - 2 - term.size(), ' ');
    fill(out, what, kTermColumn, kTermColumn);
}

// A short alias (-h) goes first, as is usual; a long one is an older word
// kept working, so the name in use comes first.
std::string optionNames(const OptionRule& r) {
    if (r.alias.empty()) return r.name;
    return r.alias.rfind("--", 0) == 0 ? r.name + ", " + r.alias : r.alias + ", " + r.name;
}

std::string optionTerm(const OptionRule& r) {
    std::string term = optionNames(r);
    return r.valueName.empty() ? term : term + " " + r.valueName;
}

// The rows under each section, in the table's order; a row under a heading
// the manual does not list goes under the last one, so it is never lost.
std::vector<std::vector<const OptionRule*>> rowsBySection(const Manual& m) {
    std::vector<std::vector<const OptionRule*>> rows(m.sections.size());
    for (const OptionRule& r : m.options) {
        if (r.hidden || rows.empty()) continue;
        size_t at = rows.size() - 1;
        for (size_t i = 0; i < m.sections.size(); ++i)
            if (m.sections[i].title == r.section) at = i;
        rows[at].push_back(&r);
    }
    return rows;
}

// roff-safe text: backslashes, hyphens (a minus in options, so that they
// can be searched for and copied), and a line's leading control character.
// Beyond ASCII, groff's input is not UTF-8 everywhere (man(1) may run it
// as Latin-1): each other character goes in as its \[uXXXX] escape.
std::string roff(const std::string& s) {
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(s[i]);
        if (c == '\\') out += "\\e";
        else if (c == '-') out += "\\-";
        else if (c < 0x80) out += char(c);
        else {
            const int extra = c >= 0xf0 ? 3 : c >= 0xe0 ? 2 : c >= 0xc0 ? 1 : 0;
            unsigned code = c & (0x3f >> extra);
            int taken = 0;
            while (taken < extra && i + 1 < s.size() && (static_cast<unsigned char>(s[i + 1]) & 0xc0) == 0x80) {
                code = code << 6 | (static_cast<unsigned char>(s[++i]) & 0x3f);
                ++taken;
            }
            char escape[16];
            std::snprintf(escape, sizeof escape, "\\[u%04X]", taken == extra && extra ? code : 0xFFFDu);
            out += escape;
        }
    }
    return out;
}

std::string roffLine(const std::string& s) {
    std::string line = roff(s);
    return !line.empty() && (line[0] == '.' || line[0] == '\'') ? "\\&" + line : line;
}

void roffText(std::ostringstream& out, const std::string& paragraphs) {
    bool firstParagraph = true;
    for (const std::string& paragraph : split(paragraphs, "\n\n")) {
        if (!firstParagraph) out << ".PP\n";
        firstParagraph = false;
        bool inExample = false;
        for (const std::string& line : split(paragraph, "\n")) {
            if (isExample(line) != inExample) {
                inExample = !inExample;
                out << (inExample ? ".RS 4\n.nf\n" : ".fi\n.RE\n");
            }
            out << roffLine(inExample ? line.substr(2) : line) << '\n';
        }
        if (inExample) out << ".fi\n.RE\n";
    }
}

std::string upper(std::string s) {
    for (char& c : s) c = char(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

std::string shellWords(const std::vector<std::string>& words) {
    std::string out;
    for (const std::string& w : words) out += (out.empty() ? "" : " ") + w;
    return out;
}

}  // namespace

std::string helpText(const Manual& m) {
    std::ostringstream out;
    out << "Usage: " << m.program << ' ' << m.synopsis << "\n\n";
    text(out, m.description, 0);
    const auto rows = rowsBySection(m);
    for (size_t i = 0; i < rows.size(); ++i) {
        if (rows[i].empty()) continue;
        out << '\n' << m.sections[i].title << ":\n";
        for (const OptionRule* r : rows[i]) entry(out, optionTerm(*r), r->help);
        if (!m.sections[i].note.empty()) text(out, m.sections[i].note, 2);
    }
    for (const Manual::Topic& t : m.topics) {
        out << '\n' << t.title << ":\n";
        if (!t.text.empty()) text(out, t.text, 2);
        for (const Manual::Entry& e : t.entries) entry(out, e.term, e.text);
    }
    return out.str();
}

std::string manPage(const Manual& m, const std::string& version) {
    std::ostringstream out;
    out << ".\\\" Written by " << m.program << " --help-man from its option table.\n";
    out << ".TH " << upper(m.program) << " 1 \"\" \"Lumenvortex " << version << "\" \"User Commands\"\n";
    out << ".SH NAME\n" << m.program << " \\- " << roff(m.summary) << '\n';
    out << ".SH SYNOPSIS\n.B " << m.program << '\n' << roffLine(m.synopsis) << '\n';
    out << ".SH DESCRIPTION\n";
    roffText(out, m.description);
    out << ".SH OPTIONS\n";
    const auto rows = rowsBySection(m);
    for (size_t i = 0; i < rows.size(); ++i) {
        if (rows[i].empty()) continue;
        out << ".SS " << roff(m.sections[i].title) << '\n';
        for (const OptionRule* r : rows[i]) {
            out << ".TP\n\\fB" << roff(optionNames(*r)) << "\\fR";
            if (!r->valueName.empty()) out << " \\fI" << roff(r->valueName) << "\\fR";
            out << '\n' << roffLine(r->help) << '\n';
        }
        if (!m.sections[i].note.empty()) {
            out << ".PP\n";
            roffText(out, m.sections[i].note);
        }
    }
    for (const Manual::Topic& t : m.topics) {
        out << ".SH " << roff(upper(t.title)) << '\n';
        if (!t.text.empty()) roffText(out, t.text);
        for (const Manual::Entry& e : t.entries)
            out << ".TP\n.B " << roffLine(e.term) << '\n' << roffLine(e.text) << '\n';
    }
    return out.str();
}

std::string bashCompletion(const Manual& m) {
    std::vector<std::string> names, files, folders, typed;
    std::ostringstream words;
    for (const OptionRule& r : m.options) {
        if (r.hidden) continue;
        names.push_back(r.name);
        if (!r.alias.empty()) names.push_back(r.alias);
        if (r.takes != OptionRule::Takes::VALUE) continue;
        switch (r.completes) {
            case OptionRule::Completes::FILE: files.push_back(r.name); break;
            case OptionRule::Completes::FOLDER: folders.push_back(r.name); break;
            case OptionRule::Completes::TEXT: typed.push_back(r.name); break;
            case OptionRule::Completes::WORDS:
                words << "        " << r.name << ") COMPREPLY=($(compgen -W '" << shellWords(r.words)
                      << "' -- \"$cur\")); return ;;\n";
                break;
        }
    }
    auto alternatives = [](const std::vector<std::string>& v) {
        std::string out;
        for (const std::string& s : v) out += (out.empty() ? "" : "|") + s;
        return out;
    };
    const std::string fn = "_" + m.program;
    std::ostringstream out;
    out << "# bash completion for " << m.program << ", written by " << m.program
        << " --help-completion from its option table.\n"
        << fn << "() {\n"
        << "    local cur=${COMP_WORDS[COMP_CWORD]} prev=\n"
        << "    ((COMP_CWORD > 0)) && prev=${COMP_WORDS[COMP_CWORD-1]}\n"
        << "    # \"--name=value\": bash splits it at the \"=\"\n"
        << "    if [[ $cur == = ]]; then\n        cur=\n"
        << "    elif [[ $prev == = ]] && ((COMP_CWORD > 1)); then\n        prev=${COMP_WORDS[COMP_CWORD-2]}\n"
        << "    fi\n"
        << "    case $prev in\n";
    if (!files.empty())
        out << "        " << alternatives(files)
            << ") compopt -o filenames 2>/dev/null; mapfile -t COMPREPLY < <(compgen -f -- \"$cur\"); return ;;\n";
    if (!folders.empty())
        out << "        " << alternatives(folders)
            << ") compopt -o filenames 2>/dev/null; mapfile -t COMPREPLY < <(compgen -d -- \"$cur\"); return ;;\n";
    out << words.str();
    if (!typed.empty()) out << "        " << alternatives(typed) << ") COMPREPLY=(); return ;;\n";
    out << "    esac\n"
        << "    if [[ $cur == -* ]]; then\n"
        << "        COMPREPLY=($(compgen -W '" << shellWords(names) << "' -- \"$cur\"))\n"
        << "    else\n"
        << "        compopt -o filenames 2>/dev/null; mapfile -t COMPREPLY < <(compgen -f -- \"$cur\")\n"
        << "    fi\n"
        << "}\n"
        << "complete -F " << fn << ' ' << m.program << '\n';
    return out.str();
}

bool answerHelp(const CommonOptions& o, const Manual& m) {
    if (o.help) std::fputs(helpText(m).c_str(), stdout);
    else if (o.helpMan) std::fputs(manPage(m, programVersion()).c_str(), stdout);
    else if (o.helpCompletion) std::fputs(bashCompletion(m).c_str(), stdout);
    else return false;
    return true;
}
