// The manuals both programs write of their option tables: --help, the man
// page and the bash completion say only what a row of the table says, so a
// row must say it. Rows are added to the tables from many places; these
// catch one added without its words, or twice.
#include <gtest/gtest.h>

#include <set>
#include <sstream>

#include "../../corvane/src/options.h"
#include "manual.h"
#include "options.h"

TEST(Manual, EveryOptionIsDescribedOnceUnderAHeadingOfItsManual) {
    Options player;
    corvane::Options server;
    for (const Manual& m : {playerManual(player), corvane::manual(server)}) {
        std::set<std::string> headings, names;
        for (const Manual::Section& s : m.sections) headings.insert(s.title);
        for (const OptionRule& r : m.options) {
            EXPECT_TRUE(names.insert(r.name).second) << m.program << ": " << r.name << " twice";
            EXPECT_TRUE(r.alias.empty() || names.insert(r.alias).second) << m.program << ": " << r.alias << " twice";
            if (r.hidden) continue;
            EXPECT_FALSE(r.help.empty()) << m.program << " " << r.name << ": no help text (.doc(...) on its row)";
            EXPECT_TRUE(headings.count(r.section)) << m.program << " " << r.name << ": heading \"" << r.section
                                                   << "\" is not among the manual's sections";
            EXPECT_EQ(r.takes == OptionRule::Takes::NOTHING, r.valueName.empty())
                << m.program << " " << r.name << ": the help must name the value exactly when it takes one";
        }
        // --help is filled to fit an 80-column terminal without wrapping.
        std::istringstream help(helpText(m));
        for (std::string line; std::getline(help, line);) {
            size_t columns = 0;
            for (unsigned char c : line) columns += (c & 0xC0) != 0x80;
            EXPECT_LE(columns, 79u) << m.program << " --help: \"" << line << "\"";
        }
    }
}
