#include "app/cli.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <sstream>

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

#include "app/cli_check.h"
#include "app/cli_safety.h"
#include "app/procedures.h"
#include "core/files.h"
#include "core/product.h"
#include "core/tables.h"
#include "core/text.h"
#include "form/form.h"
#include "settings/odbc.h"
#include "settings/settings_store.h"
#include "source/workbook.h"
#include "source/worksheet.h"
#include "verification/error_files.h"

namespace kordb {

namespace fs = std::filesystem;

namespace {

constexpr const char* kPasswordVariable = "KORDB_PASSWORD";

constexpr const char* kUsage =
    "usage: kordb-cli sheets WORKBOOK\n"
    "       kordb-cli cells --sheet NAME WORKBOOK [--rows N] [--types]\n"
    "       kordb-cli verify --sheet NAME WORKBOOK [connection options] [--yes]\n"
    "       kordb-cli plan --sheet NAME WORKBOOK [connection options] [--row-by-row]\n"
    "       kordb-cli check --sheet NAME WORKBOOK [connection options]\n"
    "       kordb-cli migrate --sheet NAME WORKBOOK [connection options] [--yes] [--no-verify]\n"
    "                         [--atomic] [--row-by-row]\n"
    "       kordb-cli undo JOURNAL [connection options] [--yes] [--skip-changed]\n"
    "                         [--other-destination]\n"
    "       kordb-cli --help\n";

constexpr const char* kHelp =
    "kordb-cli - Korvin Database Migration Tools without a window\n"
    "\n"
    "Runs the procedures of the kordb window from a command line, for scripted and\n"
    "scheduled loads of a workbook (.xls, .xlsx, .xlsm or .ods, told apart by their\n"
    "content) into the destination database.\n"
    "\n"
    "Commands\n"
    "  kordb-cli sheets WORKBOOK\n"
    "      Prints the workbook's sheet names, one a line, in workbook order (a tab,\n"
    "      CR, LF or backslash in a name written as cells writes it; --sheet takes\n"
    "      the name so written too).\n"
    "\n"
    "  kordb-cli cells --sheet NAME WORKBOOK [--rows N] [--types]\n"
    "      Prints the sheet as the tool reads it, tab-separated: the header row (the\n"
    "      column names), then one line per data row, every column. Numbers are the\n"
    "      shortest decimal that reads back to the same value, TRUE and FALSE 1 and 0,\n"
    "      dates ISO 8601, empty cells and error values nothing; a tab, CR, LF or\n"
    "      backslash inside a text is written \\t, \\r, \\n, \\\\. A column holding\n"
    "      both numbers and text is read as text throughout, as Verify and Start read\n"
    "      it.\n"
    "        --rows N     stops after N data rows.\n"
    "        --types      adds, after the header, each column's type: text, number,\n"
    "                     date or empty.\n"
    "\n"
    "  kordb-cli verify --sheet NAME WORKBOOK [connection options] [--yes]\n"
    "      Verifies one sheet as the window's Verify button does, and appends the rows\n"
    "      it reports to the error files (WORKBOOK's file name + \"_Migrate_NULL.txt\",\n"
    "      \"_Migrate_CODEERR.txt\", \"_Migrate_DUPLICATE.txt\", \"_Migrate_PLUERR.txt\",\n"
    "      \"_Migrate_OK.txt\"). Verification never touches the destination: the connection\n"
    "      options (and --yes) are accepted and not used, so one command line serves both\n"
    "      commands.\n"
    "\n"
    "  kordb-cli plan --sheet NAME WORKBOOK [connection options] [--row-by-row]\n"
    "      Connects and runs Start's look-ups and column rules over the sheet without\n"
    "      writing anything (not the destination, not the error files, not the settings;\n"
    "      no verification), and prints one line per worksheet row: \"insert [code]\",\n"
    "      \"update [code] Column: old -> new; ...\" (only the columns whose stored value\n"
    "      would change; \"KINV_MT_PLU.Column\" for the item's look-up row),\n"
    "      \"unchanged [code]\", \"skip [key] exists\", \"skip row N: no key\", or\n"
    "      \"refuse [code] Column: reason; ...\" for each value the destination's column\n"
    "      would not take (too long, not a number, out of range, not a date, empty but\n"
    "      NOT NULL). Then the note \"# plan: N insert, N update, N unchanged, N skip,\n"
    "      N refused\".\n"
    "\n"
    "  kordb-cli check --sheet NAME WORKBOOK [connection options]\n"
    "      Connects and tells whether the destination fits the sheet, keeping nothing:\n"
    "      the server and the driver; the table (and KINV_MT_PLU for items) and every\n"
    "      column the rules write, missing ones, and each column's type and size against\n"
    "      what the sheet holds, naming the first row that does not fit; whether the key\n"
    "      has a primary key or an index; the rights Start and undo need (SELECT, INSERT,\n"
    "      UPDATE, DELETE), proved by writing the first rows Start would write through\n"
    "      Start's own statements, reading them back, in a transaction that is always\n"
    "      rolled back; the round trip and the time Start can be expected to take. One\n"
    "      line per finding, \"does not fit\" in those that need mending, then the note\n"
    "      \"# check: the destination fits NAME\" or \"# check: N findings do not fit\n"
    "      NAME\".\n"
    "\n"
    "  kordb-cli migrate --sheet NAME WORKBOOK [connection options] [--yes] [--no-verify]\n"
    "                    [--atomic] [--row-by-row]\n"
    "      Connects, verifies the sheet, and migrates it only when verification found no\n"
    "      error, as the window enables Start only then.\n"
    "        --yes        answers the start confirmation with Yes. Without it the question\n"
    "                     is asked on the terminal (y or yes to go on), and answered No\n"
    "                     when standard input is not a terminal.\n"
    "        --no-verify  skips the verification, for a sheet verified separately.\n"
    "        --atomic     stores the whole sheet in one transaction: at the first error\n"
    "                     everything is rolled back, the error is shown as usual, a note\n"
    "                     says that nothing was stored, and the status is 1.\n"
    "        --row-by-row looks each worksheet row up on its own instead of many rows'\n"
    "                     keys at once (plan too): slower over a network, for comparison\n"
    "                     and for a driver that refuses a look-up of many keys.\n"
    "      Every migration records, before each row it writes, what it changes in an undo\n"
    "      journal in the error-file folder: WORKBOOK's file name + \"_Migrate_UNDO_\" +\n"
    "      local yyyymmdd-hhmmss + \".jsonl\". A note names it.\n"
    "\n"
    "  kordb-cli undo JOURNAL [connection options] [--yes] [--skip-changed]\n"
    "                         [--other-destination]\n"
    "      Takes back what the migration the journal recorded stored, newest write first,\n"
    "      all in one transaction: deletes the rows it inserted and gives the rows it\n"
    "      changed their previous values in the columns it wrote, each only where the row\n"
    "      still holds what the migration left there. A row changed since is listed\n"
    "      (\"changed since ...\") and stops the undo before anything changes; writes\n"
    "      that failed or were rolled back are passed over. Asks for confirmation as\n"
    "      migrate does. Only a journal of a migration is taken: inserts and updates of\n"
    "      the sheet's own tables, every column named there present in the destination.\n"
    "        --skip-changed       undoes the rest, leaving each row changed since (an\n"
    "                             item with its PLU row) as it is.\n"
    "        --other-destination  undoes against a destination other than the one the\n"
    "                             journal was written against (status 3 without it).\n"
    "\n"
    "Options\n"
    "  --sheet NAME       the sheet to use, as picked from the window's sheet list. A name\n"
    "                     that differs from a sheet's only in letter case or surrounding\n"
    "                     blanks picks that sheet; a name the workbook lacks is a usage error.\n"
    "  --server NAME      destination server, or an ODBC data source name\n"
    "  --database NAME    destination database\n"
    "  --user NAME        login user\n"
    "  --help             this text\n"
    "  --version          the version line\n"
    "  Options take their value as the next argument or after \"=\" (--sheet=NAME).\n"
    "\n"
    "Connection\n"
    "  The password is read from the environment variable KORDB_PASSWORD, never from the\n"
    "  command line, where other users could read it. A value not given (or an empty\n"
    "  KORDB_PASSWORD) comes from the settings store that the window's Connect button\n"
    "  writes (KORDB.ini in the per-user configuration folder, $XDG_CONFIG_HOME or\n"
    "  ~/.config). kordb-cli never writes the settings store. When a value is still empty,\n"
    "  it says \"Message: Empty Field !!!\" as the window does and ends with status 3.\n"
    "\n"
    "Output\n"
    "  standard output  every line the window adds to its list, as it is added (line breaks\n"
    "                   inside it joined with \" / \").\n"
    "  standard error   every message box as one line: its title, \": \" and its text (a\n"
    "                   box without a title of its own, such as the error-number box, shows\n"
    "                   \"Korvin Database Migration Tools\"; a text of several lines is\n"
    "                   joined with \" / \"); notes of kordb-cli itself, starting with \"# \",\n"
    "                   among them once the folder that receives the error files; and, when\n"
    "                   standard error is a terminal, a progress line during migration with\n"
    "                   rows done, rows per second and time left (rows done are the rows\n"
    "                   listed: a class, debtor or creditor sheet lists only the rows it\n"
    "                   inserts, so rows already present go by uncounted).\n"
    "  Error files go to the folder of the kordb-cli executable, the same folder as the\n"
    "  window's, or to the per-user data folder KORDB when that folder cannot be written\n"
    "  or lies under a system prefix (/usr, /opt, ...), whoever runs it.\n"
    "\n"
    "Exit status\n"
    "  0  all done and no error\n"
    "  1  verification found an error (an error box during verification counts too: the\n"
    "     sheet was not fully verified), the migration reported one, plan found a value\n"
    "     the destination would refuse, check found something that does not fit, undo\n"
    "     met a row changed since, or an error rolled the undo back\n"
    "  2  usage error, an unknown sheet, or the start or undo confirmation answered No\n"
    "     (nothing was changed)\n"
    "  3  no connection (including an empty connection value), the workbook, the picked\n"
    "     sheet or the undo journal cannot be read, or the journal is not this\n"
    "     destination's\n";

struct CliArgs {
    std::string verb;
    std::string file;  // the workbook, or the journal of undo
    std::optional<std::string> sheet, server, database, user, rows;
    bool yes = false;
    bool noVerify = false;
    bool atomic = false;
    bool skipChanged = false;
    bool rowByRow = false;
    bool otherDestination = false;
    bool types = false;
    bool help = false;
    bool version = false;
};

// Each command, what it takes as its one argument, and whether it needs --sheet.
struct VerbSpec {
    std::string_view name;
    std::string_view argument;
    bool needsSheet;
};
constexpr VerbSpec kVerbs[] = {
    {"sheets", "WORKBOOK", false}, {"cells", "WORKBOOK", true},   {"verify", "WORKBOOK", true},
    {"plan", "WORKBOOK", true},    {"migrate", "WORKBOOK", true}, {"undo", "JOURNAL", false},
    {"check", "WORKBOOK", true},
};

// Each option: a flag or a value, and the commands it goes with (empty: every command).
struct OptionSpec {
    std::string_view name;
    std::string_view alias;
    bool CliArgs::*flag;
    std::optional<std::string> CliArgs::*value;
    std::string_view verbs;
};
constexpr std::string_view kConnecting = "verify plan migrate undo check";
constexpr OptionSpec kOptions[] = {
    {"--help", "-h", &CliArgs::help, nullptr, ""},
    {"--version", "", &CliArgs::version, nullptr, ""},
    {"--yes", "-y", &CliArgs::yes, nullptr, "verify migrate undo"},
    {"--no-verify", "", &CliArgs::noVerify, nullptr, "migrate"},
    {"--atomic", "", &CliArgs::atomic, nullptr, "migrate"},
    {"--row-by-row", "", &CliArgs::rowByRow, nullptr, "plan migrate"},
    {"--skip-changed", "", &CliArgs::skipChanged, nullptr, "undo"},
    {"--other-destination", "", &CliArgs::otherDestination, nullptr, "undo"},
    {"--types", "", &CliArgs::types, nullptr, "cells"},
    {"--rows", "", nullptr, &CliArgs::rows, "cells"},
    {"--sheet", "", nullptr, &CliArgs::sheet, "cells verify plan migrate check"},
    {"--server", "", nullptr, &CliArgs::server, kConnecting},
    {"--database", "", nullptr, &CliArgs::database, kConnecting},
    {"--user", "", nullptr, &CliArgs::user, kConnecting},
};

bool listsWord(std::string_view list, std::string_view word) {
    while (!list.empty()) {
        size_t end = list.find(' ');
        if (list.substr(0, end) == word) return true;
        if (end == std::string_view::npos) break;
        list.remove_prefix(end + 1);
    }
    return false;
}

// Reads one option at argv[i] into a; returns the problem, or empty.
std::string readOption(int argc, char** argv, int& i, CliArgs& a, std::vector<std::string>& given) {
    std::string arg = argv[i];
    std::string name = arg;
    std::optional<std::string> inlineValue;
    if (size_t eq = arg.find('='); eq != std::string::npos && arg.rfind("--", 0) == 0) {
        name = arg.substr(0, eq);
        inlineValue = arg.substr(eq + 1);
    }
    if (name == "--password" || name == "-p")
        return std::string(
                   "the password is not taken from the command line, where other users could "
                   "read it: set ") +
               kPasswordVariable;
    for (const OptionSpec& o : kOptions) {
        if (name != o.name && name != o.alias) continue;
        given.emplace_back(o.name);
        if (o.flag) {
            if (inlineValue) return "option " + name + " takes no value";
            a.*o.flag = true;
        } else if (inlineValue) {
            a.*o.value = *inlineValue;
        } else if (i + 1 < argc) {
            a.*o.value = argv[++i];
        } else {
            return "option " + name + " needs a value";
        }
        return {};
    }
    return "unknown option " + name;
}

// Returns the problem with the command line, or empty when it is usable.
std::string parseArgs(int argc, char** argv, CliArgs& a) {
    std::vector<std::string> positional, given;
    bool optionsEnded = false;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
            positional.push_back(arg);
        } else if (arg == "--") {
            optionsEnded = true;
        } else if (std::string problem = readOption(argc, argv, i, a, given); !problem.empty()) {
            return problem;
        }
    }
    if (a.help || a.version) return {};
    if (positional.empty()) return "no command given";
    a.verb = positional[0];
    if (a.verb == "help") {
        a.help = true;
        return {};
    }
    const VerbSpec* verb = nullptr;
    for (const VerbSpec& v : kVerbs)
        if (v.name == a.verb) verb = &v;
    if (!verb) return "unknown command " + a.verb;
    if (positional.size() < 2 || positional[1].empty())
        return a.verb + " needs a " + std::string(verb->argument);
    if (positional.size() > 2) return "unexpected argument " + positional[2];
    a.file = positional[1];
    for (const std::string& name : given)
        for (const OptionSpec& o : kOptions)
            if (o.name == name && !o.verbs.empty() && !listsWord(o.verbs, a.verb))
                return "option " + name + " does not go with " + a.verb;
    if (verb->needsSheet && (!a.sheet || a.sheet->empty())) return a.verb + " needs --sheet NAME";
    if (a.rows) {
        char* end = nullptr;
        errno = 0;
        unsigned long long n = std::strtoull(a.rows->c_str(), &end, 10);
        if (a.rows->empty() || *end || errno || n > 0xFFFFFFFFull || (*a.rows)[0] == '-')
            return "--rows takes a whole number of rows, not " + *a.rows;
    }
    return {};
}

std::string escapeCell(const std::string& s);

// The index of the sheet the name picks: the exact name, else the one name equal to it when
// trimmed and upper-cased, as the procedures use names; -1 when none or ambiguous. A name as
// `sheets` prints it (a line break in it written \n) picks its sheet too.
int pickSheet(const std::vector<std::string>& sheets, const std::string& name) {
    for (size_t i = 0; i < sheets.size(); ++i)
        if (sheets[i] == name || escapeCell(sheets[i]) == name) return int(i);
    int found = -1;
    for (size_t i = 0; i < sheets.size(); ++i) {
        if (trimUpper(sheets[i]) != trimUpper(name) &&
            trimUpper(escapeCell(sheets[i])) != trimUpper(name))
            continue;
        if (found >= 0) return -1;
        found = int(i);
    }
    return found;
}

std::string joinLines(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c == '\r' || c == '\n') {
            if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
            out += " / ";
        } else {
            out += c;
        }
    }
    return out;
}

std::string clockText(double seconds) {
    long s = long(seconds + 0.5);
    char buf[32];
    if (s >= 3600)
        std::snprintf(buf, sizeof buf, "%ld:%02ld:%02ld", s / 3600, s / 60 % 60, s % 60);
    else
        std::snprintf(buf, sizeof buf, "%ld:%02ld", s / 60, s % 60);
    return buf;
}

}  // namespace

// ---------------------------------------------------------------------------------------------

CliOperator::CliOperator(std::ostream& out, std::ostream& err, const CliEnvironment& env)
    : out_(out), err_(err), env_(env) {}

CliOperator::~CliOperator() {
    stopProgress();
}

void CliOperator::note(const std::string& text) {
    clearProgress();
    err_ << "# " << text << '\n' << std::flush;
}

void CliOperator::listAdd(const std::string& line) {
    // On a shared terminal the progress line must leave the row before the list line is printed.
    if (env_.stdoutIsTerminal) clearProgress();
    // One list line, one output line, whatever a cell held.
    out_ << joinLines(line) << '\n' << std::flush;
    if (progressOn_) {
        ++done_;
        drawProgress(env_.stdoutIsTerminal);
    }
}

int CliOperator::messageBox(const std::string& text, const std::string& title, Icon,
                            Buttons buttons) {
    clearProgress();
    std::string line = (title.empty() ? std::string(kAppCaption) : title) + ": " + joinLines(text);
    if (buttons == Buttons::Ok) {
        err_ << line << '\n' << std::flush;
        return kAnswerOk;
    }
    int answer = kAnswerNo;
    if (confirm_ == Confirm::Yes) {
        err_ << line << '\n';
        answer = kAnswerYes;
        note("answered Yes (--yes)");
    } else if (confirm_ == Confirm::AskTerminal && env_.readAnswer) {
        err_ << line << " [y/N] " << std::flush;
        std::optional<std::string> reply = env_.readAnswer();
        if (!reply) err_ << '\n';
        std::string r = reply ? toUpper(trimBlanks(*reply)) : std::string();
        answer = (r == "Y" || r == "YES") ? kAnswerYes : kAnswerNo;
    } else {
        err_ << line << '\n';
        note("answered No: standard input is not a terminal and --yes was not given");
    }
    // Time spent waiting for the answer is no part of the rate.
    started_ = std::chrono::steady_clock::now();
    return answer;
}

std::string CliOperator::fieldText(int index) {
    return index >= 0 && index < kFieldCount ? fields_[index] : std::string();
}

void CliOperator::setFieldText(int index, const std::string& text) {
    if (index >= 0 && index < kFieldCount) fields_[index] = text;
}

std::string CliOperator::comboText() {
    return comboIndex_ >= 0 && size_t(comboIndex_) < combo_.size() ? combo_[size_t(comboIndex_)]
                                                                   : std::string();
}

void CliOperator::comboClear() {
    combo_.clear();
    comboIndex_ = -1;
}

std::optional<FileChoice> CliOperator::openFileDialog(const std::string&, const std::string&,
                                                      const std::string&) {
    return std::nullopt;  // a command line names its workbook
}

void CliOperator::startProgress(uint32_t totalRows) {
    progressOn_ = true;
    total_ = totalRows;
    done_ = 0;
    started_ = std::chrono::steady_clock::now();
}

void CliOperator::stopProgress() {
    progressOn_ = false;
    clearProgress();
}

void CliOperator::clearProgress() {
    if (!progressShown_) return;
    err_ << "\r\033[K" << std::flush;
    progressShown_ = false;
}

void CliOperator::drawProgress(bool force) {
    if (!env_.stderrIsTerminal || !progressOn_) return;
    auto now = std::chrono::steady_clock::now();
    if (!force && progressShown_ && now - drawn_ < std::chrono::milliseconds(100)) return;
    double elapsed = std::chrono::duration<double>(now - started_).count();
    std::ostringstream line;
    line << "  " << done_;
    if (total_ > 0) line << "/" << total_;
    line << " rows";
    if (elapsed > 0.05 && done_ > 0) {
        double rate = done_ / elapsed;
        char buf[32];
        std::snprintf(buf, sizeof buf, "%.1f", rate);
        line << "  " << buf << " rows/s";
        if (total_ > done_) line << "  " << clockText((total_ - done_) / rate) << " left";
    }
    err_ << '\r' << line.str() << "\033[K" << std::flush;
    progressShown_ = true;
    drawn_ = now;
}

// ---------------------------------------------------------------------------------------------

CliEnvironment systemEnvironment() {
    CliEnvironment env;
#ifdef _WIN32
    env.stdinIsTerminal = ::_isatty(::_fileno(stdin)) != 0;
    env.stdoutIsTerminal = ::_isatty(::_fileno(stdout)) != 0;
    env.stderrIsTerminal = ::_isatty(::_fileno(stderr)) != 0;
#else
    env.stdinIsTerminal = ::isatty(STDIN_FILENO) == 1;
    env.stdoutIsTerminal = ::isatty(STDOUT_FILENO) == 1;
    env.stderrIsTerminal = ::isatty(STDERR_FILENO) == 1;
#endif
    env.readAnswer = []() -> std::optional<std::string> {
        std::string line;
        if (!std::getline(std::cin, line)) return std::nullopt;
        return line;
    };
    env.getEnv = [](const std::string& name) -> std::optional<std::string> {
        const char* v = std::getenv(name.c_str());
        if (!v) return std::nullopt;
        return std::string(v);
    };
    env.programFolder = executableFolder();
    return env;
}

namespace {

int usageError(std::ostream& err, const std::string& problem) {
    err << "# " << problem << '\n';
    std::istringstream usage(kUsage);
    for (std::string line; std::getline(usage, line);) err << "# " << line << '\n';
    err << "# (kordb-cli --help tells more)\n" << std::flush;
    return kExitUsage;
}

// The four connection fields filled as the window would have them, the options and the
// password variable taking the place of stored values. Returns false when one stays empty.
bool fillConnectionFields(Form& form, CliOperator& op, const CliArgs& a,
                          const CliEnvironment& env) {
    Form_Load(form);
    if (a.server) op.setFieldText(kServer, *a.server);
    if (a.database) op.setFieldText(kDatabase, *a.database);
    if (a.user) op.setFieldText(kUser, *a.user);
    if (env.getEnv) {
        std::optional<std::string> pw = env.getEnv(kPasswordVariable);
        if (pw && !pw->empty()) op.setFieldText(kPassword, *pw);
    }
    static const char* const kSources[] = {"--server", "--database", "--user", kPasswordVariable};
    static const char* const kNames[] = {"server", "database", "user", "password"};
    for (int i = kServer; i <= kPassword; ++i) {
        if (!op.fieldText(i).empty()) continue;
        op.messageBox("Empty Field !!!", "Message", Icon::Critical, Buttons::Ok);
        op.note(std::string("no ") + kNames[i] + ": give " + kSources[i] +
                " or store it with the window's Connect");
        return false;
    }
    return true;
}

// The workbook and the sheet a command works on.
struct Chosen {
    std::string path;   // as the file dialog reports it: the full path
    std::string title;  // the file name without its folder: error files are named after it
    std::string sheet;  // the sheet list's entry, as listed
    std::string table() const { return trimUpper(sheet); }
};

uint32_t sheetRows(Form& form, const Chosen& chosen) {
    const std::string& sheet = chosen.sheet;
    try {
        auto book = workbookCache(form).get(chosen.path);
        int index = book->findSheet(sheet);
        if (index < 0) index = book->findSheet(trimUpper(sheet));
        return index < 0 ? 0 : book->sheet(index).dataRows;
    } catch (const std::exception&) {
        return 0;  // the progress line then goes without a total
    }
}

}  // namespace

namespace {

// Text of one cell for `cells`: one row stays one line.
std::string escapeCell(const std::string& s) {
    std::string out;
    out.reserve(s.size());
    for (char c : s) {
        switch (c) {
            case '\t':
                out += "\\t";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\\':
                out += "\\\\";
                break;
            default:
                out += c;
        }
    }
    return out;
}

std::string cellText(const Value& v) {
    return v.isNumber() ? formatNumberExact(v.toNumber()) : escapeCell(v.toText());
}

const char* kindName(Workbook::ColumnKind k) {
    switch (k) {
        case Workbook::ColumnKind::Empty:
            return "empty";
        case Workbook::ColumnKind::Number:
            return "number";
        case Workbook::ColumnKind::Date:
            return "date";
        case Workbook::ColumnKind::Text:
        case Workbook::ColumnKind::Mixed:
            break;
    }
    return "text";
}

// Reads the picked sheet and notes each cell that held an error value and was read as empty.
// Damage found only now ends every command as damage found at open does, with the reader's
// message once: the procedures would each report it again, wrapped in their own words.
bool readPickedSheet(Form& form, CliOperator& op, const Chosen& chosen) {
    try {
        auto book = workbookCache(form).get(chosen.path);
        int index = resolveSheet(*book, chosen.table(), chosen.sheet);
        if (index < 0) return true;
        for (const auto& e : book->sheet(index).errors)
            op.note("cell " + cellAddress(e.row, e.col) + " of sheet " + book->sheetName(index) +
                    " holds the error " + errorText(e.code) + ", read as empty");
        return true;
    } catch (const std::exception& e) {
        showError(form, e);
        return false;
    }
}

// `cells`: the picked sheet as the worksheet layer reads it.
int runCells(Form& form, const Chosen& chosen, const CliArgs& a, std::ostream& out) {
    try {
        auto book = workbookCache(form).get(chosen.path);
        auto sheet = std::make_unique<SheetRecordset>(
            book, "SELECT * FROM " + sheetRef(chosen.table()), chosen.sheet);
        std::string line;
        for (int c = 0; c < sheet->fieldCount(); ++c)
            line += (c ? "\t" : "") + escapeCell(sheet->fieldName(c));
        out << line << '\n';
        if (a.types) {
            int index = resolveSheet(*book, chosen.table(), chosen.sheet);
            const auto& kinds = book->sheet(index).kinds;
            line.clear();
            // An empty sheet still has its one column "F1", as the engine reads it.
            for (size_t c = 0; c < size_t(sheet->fieldCount()); ++c)
                line +=
                    std::string(c ? "\t" : "") + (c < kinds.size() ? kindName(kinds[c]) : "empty");
            out << line << '\n';
        }
        unsigned long long limit = a.rows ? std::stoull(*a.rows) : ~0ull;
        for (unsigned long long n = 0; n < limit && !sheet->eof(); ++n, sheet->moveNext()) {
            line.clear();
            for (int c = 0; c < sheet->fieldCount(); ++c)
                line += (c ? "\t" : "") + cellText(sheet->field(c));
            out << line << '\n';
        }
        out << std::flush;
        return kExitOk;
    } catch (const std::exception& e) {
        showError(form, e);
        return kExitNoSource;
    }
}

// Start's request and the plan's: the chosen sheet into the destination connected.
MigrateRequest startRequest(Form& form, const Chosen& chosen, const CliArgs& a) {
    MigrateRequest r = destinationRequest(form);
    r.workbookPath = chosen.path;
    r.workbookTitle = chosen.title;
    r.pickedSheet = chosen.sheet;
    r.tableName = chosen.table();
    r.keyColumn = table::keyColumnFor(r.tableName);
    r.atomic = a.atomic;
    r.rowByRow = a.rowByRow;
    return r;
}

// Connect, as the window's Connect does once the fields are filled in.
int connect(Form& form, CliOperator& op, const CliArgs& a, const CliEnvironment& env) {
    if (!fillConnectionFields(form, op, a, env)) return kExitNoSource;
    op.note("connecting to " + op.fieldText(kServer) + ", database " + op.fieldText(kDatabase) +
            ", user " + op.fieldText(kUser));
    OpenDestination(form);
    if (form.st.DestConn && form.st.DestConn->isOpen()) return kExitOk;
    // The window stays silent about the driver's reason; a script needs it.
    op.note("the connection failed: " + form.outcome.lastError);
    return kExitNoSource;
}

// Verify; kExitOk when the sheet may be migrated.
int verify(Form& form, CliOperator& op, const Chosen& chosen) {
    op.note("error files: " + form.errorFolder.string());
    showVerifyStart(op);
    const std::string table = chosen.table();
    VerifyRequest request{
        workbookCache(form),          chosen.path, chosen.sheet, table, table::keyColumnFor(table),
        form.keysIgnoreTrailingBlanks};
    ErrorFileSink files(form.errorFolder, chosen.title);
    VerifyFindings found = verifySheet(request, files);
    return showVerifyResult(form, found, request.keyColumn) ? kExitFindings : kExitOk;
}

int migrate(Form& form, CliOperator& op, const CliArgs& a, const CliEnvironment& env,
            const Chosen& chosen) {
    const std::string& sheet = chosen.sheet;
    op.setConfirm(a.yes                 ? CliOperator::Confirm::Yes
                  : env.stdinIsTerminal ? CliOperator::Confirm::AskTerminal
                                        : CliOperator::Confirm::No);
    uint32_t total = env.stderrIsTerminal ? sheetRows(form, chosen) : 0;
    int errors = form.outcome.errors;
    auto started = std::chrono::steady_clock::now();
    op.startProgress(total);
    int answer = kAnswerNo;
    try {
        answer = op.messageBox("Confirm to Start Migrate ? ", "Question", Icon::Question,
                               Buttons::YesNo);
        if (answer != kAnswerNo) {
            ListLines lines(op);
            showMigrateReport(form, migrateSheet(startRequest(form, chosen, a), lines));
            showMessage(form, "Completed.", Icon::Exclamation);
        }
    } catch (const std::exception& e) {
        showError(form, e);
    }
    op.stopProgress();
    noteStartSafety(form, op);
    if (form.outcome.errors > errors) {
        op.note("the migration of " + sheet + " reported an error");
        return kExitFindings;
    }
    if (answer != kAnswerYes) {
        op.note("not confirmed: " + sheet + " was not migrated");
        return kExitUsage;
    }
    double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.1f", seconds);
    op.note("migrated " + sheet + " in " + buf + " s");
    return kExitOk;
}

}  // namespace

std::vector<CliCommand> cliGrammar() {
    std::vector<CliCommand> out;
    for (const VerbSpec& v : kVerbs) {
        CliCommand c{std::string(v.name), std::string(v.argument), v.needsSheet, {}, {}};
        for (const OptionSpec& o : kOptions)
            if (!o.verbs.empty() && listsWord(o.verbs, v.name))
                (o.value ? c.valueOptions : c.flags).push_back(std::string(o.name));
        out.push_back(std::move(c));
    }
    return out;
}

std::vector<std::string> cliCommonOptions() {
    std::vector<std::string> out;
    for (const OptionSpec& o : kOptions)
        if (o.verbs.empty()) out.push_back(std::string(o.name));
    return out;
}

int runCli(int argc, char** argv, std::ostream& out, std::ostream& err, const CliEnvironment& env) {
    CliArgs a;
    std::string problem = parseArgs(argc, argv, a);
    if (!problem.empty()) return usageError(err, problem);
    if (a.help) {
        out << kHelp << std::flush;
        return kExitOk;
    }
    if (a.version) {
        out << "kordb-cli " << kVersionLine << '\n' << std::flush;
        return kExitOk;
    }

    CliOperator op(out, err, env);
    SettingsStore settings(env.settingsFolder);
    Form form(op, settings, env.programFolder);
    if (a.verb == "undo") {  // no workbook: the journal names what it changed
        std::optional<JournalReader> journal;
        try {
            journal.emplace(pathFromUtf8(a.file));
        } catch (const std::exception& e) {
            showError(form, e);
            return kExitNoSource;
        }
        if (int status = connect(form, op, a, env); status != kExitOk) return status;
        op.setConfirm(a.yes                 ? CliOperator::Confirm::Yes
                      : env.stdinIsTerminal ? CliOperator::Confirm::AskTerminal
                                            : CliOperator::Confirm::No);
        UndoOptions options;
        options.skipChanged = a.skipChanged;
        return runUndo(form, op, *journal, options, a.otherDestination, out);
    }

    // The workbook as the file dialog reports it: the full path and the bare file name.
    std::error_code ec;
    fs::path path = fs::absolute(fs::path(a.file), ec);
    if (ec) path = a.file;
    Chosen chosen{path.string(), path.filename().string(), {}};

    std::vector<std::string> sheets;
    try {
        sheets = readSheetNames(chosen.path);
    } catch (const std::exception& e) {
        showError(form, e);
        return kExitNoSource;
    }
    if (a.verb == "sheets") {
        // One name a line, whatever it holds.
        for (const std::string& name : sheets) out << escapeCell(name) << '\n';
        out << std::flush;
        return kExitOk;
    }

    int index = pickSheet(sheets, *a.sheet);
    if (index < 0) {
        std::string names;
        for (const std::string& name : sheets)
            names += (names.empty() ? "" : ", ") + escapeCell(name);
        const bool several = std::count_if(sheets.begin(), sheets.end(), [&](const auto& n) {
                                 return trimUpper(n) == trimUpper(*a.sheet);
                             }) > 1;
        op.note((several ? "more than one sheet fits \"" : "no sheet \"") + *a.sheet + "\" in " +
                path.string() + " (its sheets: " + (names.empty() ? "none" : names) + ")" +
                (several ? ": give the name exactly as listed" : ""));
        return kExitUsage;
    }
    chosen.sheet = sheets[size_t(index)];
    if (!readPickedSheet(form, op, chosen)) return kExitNoSource;
    if (a.verb == "cells") return runCells(form, chosen, a, out);
    if (a.verb == "verify") return verify(form, op, chosen);

    if (int status = connect(form, op, a, env); status != kExitOk) return status;
    if (a.verb == "check") return runCheck(form, op, chosen.path, chosen.sheet, out);
    // A plan does not verify: verification writes the error files.
    if (a.verb == "plan") return runPlan(form, op, startRequest(form, chosen, a), out);
    if (!a.noVerify && verify(form, op, chosen) != kExitOk) {
        op.note("verification found an error: " + chosen.sheet + " was not migrated");
        return kExitFindings;
    }
    return migrate(form, op, a, env, chosen);
}

}  // namespace kordb
