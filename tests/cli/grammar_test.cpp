// The command line is written down in four places, the help, the manual page, the bash
// completion and the README: each held to the parser's own tables of commands and options.

#include <gtest/gtest.h>

#include <cstdlib>
#include <regex>
#include <set>
#include <sstream>

#include "app/cli.h"
#include "tests/support/test_env.h"

namespace kordb {
namespace {

using Words = std::set<std::string>;

std::string source(const std::string& file) {
    const char* dir = std::getenv("KORDB_SOURCE_DIR");
    return test::readFile(std::filesystem::path(dir ? dir : ".") / file);
}

// The options a piece of text names ("\-\-" in roff), "connection options" standing for the
// three of them.
Words optionsIn(std::string text) {
    text = std::regex_replace(text, std::regex(R"(\\-)"), "-");
    Words found;
    static const std::regex option("--[a-z][a-z-]*");
    for (std::sregex_iterator it(text.begin(), text.end(), option), end; it != end; ++it)
        found.insert(it->str());
    if (text.find("connection options") != std::string::npos)
        found.insert({"--server", "--database", "--user"});
    return found;
}

Words optionsOf(const CliCommand& c) {
    Words w(c.flags.begin(), c.flags.end());
    w.insert(c.valueOptions.begin(), c.valueOptions.end());
    return w;
}

// The lines from the first one starting with head to the first one ending it.
std::string block(const std::string& text, const std::string& head, const std::regex& ends) {
    size_t at = text.find(head);
    if (at == std::string::npos) return {};
    std::istringstream in(text.substr(at));
    std::string out, line;
    for (bool first = true; std::getline(in, line); first = false) {
        if (!first && std::regex_search(line, ends)) break;
        out += line + "\n";
    }
    return out;
}

TEST(Grammar, HelpManualPageCompletionAndReadmeFollowTheParsersTables) {
    std::ostringstream helpOut, err;
    std::string arg0 = "kordb-cli", arg1 = "--help";
    char* argv[] = {arg0.data(), arg1.data()};
    ASSERT_EQ(runCli(2, argv, helpOut, err, CliEnvironment{}), 0);
    const std::string help = helpOut.str();
    const std::string man = source("packaging/kordb-cli.1");
    const std::string bash = source("packaging/kordb-cli.bash");
    const std::string readme = source("README.md");

    const std::string synopsis = block(man, ".SH SYNOPSIS", std::regex(R"(^\.SH DESCRIPTION)"));
    Words commands, valueOptions, manEntries;
    for (const auto& m : optionsIn(block(man, ".SH OPTIONS", std::regex(R"(^\.SH OUTPUT)"))))
        manEntries.insert(m);
    for (const CliCommand& c : cliGrammar()) {
        SCOPED_TRACE(c.name);
        commands.insert(c.name);
        valueOptions.insert(c.valueOptions.begin(), c.valueOptions.end());
        const Words options = optionsOf(c);
        // The help's and the manual's synopsis of the command name exactly its options.
        EXPECT_EQ(optionsIn(block(help, "  kordb-cli " + c.name + " ", std::regex("^ {6}[^ ]|^$"))),
                  options)
            << help;
        EXPECT_EQ(
            optionsIn(block(synopsis, ".B kordb-cli " + c.name + "\n", std::regex(R"(^\.br)"))),
            options);
        for (const std::string& o : options) EXPECT_TRUE(manEntries.count(o)) << o;
        // The completion offers exactly its options.
        std::smatch m;
        const std::regex line("\\n\\s*" + c.name + "\\) opts=\"([^\"]*)\"");
        ASSERT_TRUE(std::regex_search(bash, m, line)) << "no completion for " << c.name;
        EXPECT_EQ(optionsIn(m[1].str()), options);
        EXPECT_NE(readme.find("`" + c.name), std::string::npos) << "README";
    }
    std::smatch m;
    // Before a command, only what every command takes.
    const auto common = cliCommonOptions();
    for (const std::string& o : common) EXPECT_TRUE(manEntries.count(o)) << o;
    ASSERT_TRUE(std::regex_search(bash, m, std::regex("local opts=\"([^\"]*)\"")));
    EXPECT_EQ(optionsIn(m[1].str()), Words(common.begin(), common.end()));

    commands.insert("help");
    ASSERT_TRUE(std::regex_search(bash, m,
                                  std::regex("compgen -W \"([a-z ]*)\" -- \"\\$cur\"\\)\n"
                                             "    elif")));
    std::istringstream listed(m[1].str());
    EXPECT_EQ(Words(std::istream_iterator<std::string>(listed), {}), commands);
    // The completion skips the value of every option that takes one.
    ASSERT_TRUE(std::regex_search(bash, m, std::regex(R"(\n\s*(--[a-z |-]*)\) \(\(i\+\+\)\))")));
    EXPECT_EQ(optionsIn(m[1].str()), valueOptions);

    // What the tool reads today, in each.
    for (const std::string* text : {&help, &man, &readme}) {
        for (const char* format : {".xls", ".xlsx", ".xlsm", ".ods"})
            EXPECT_NE(text->find(format), std::string::npos) << format;
        EXPECT_EQ(text->find("must be saved as"), std::string::npos);
    }
}

}  // namespace
}  // namespace kordb
