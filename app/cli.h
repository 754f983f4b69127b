#pragma once
// The headless companion: the window's procedures driven from a command line, for scripted and
// scheduled loads. It talks to them through the same Operator the window implements.

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

#include "core/operator.h"

namespace kordb {

// Exit statuses.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFindings = 1;  // verification found an error, or migration reported one
inline constexpr int kExitUsage = 2;     // also: the start confirmation was answered No
inline constexpr int kExitNoSource = 3;  // no connection, or the workbook cannot be read

// What the companion takes from the process it runs in, so that it can be driven in tests.
struct CliEnvironment {
    bool stdinIsTerminal = false;   // the start confirmation is asked there
    bool stdoutIsTerminal = false;  // list lines then share the progress line's screen
    bool stderrIsTerminal = false;  // the progress line is drawn there
    // One answer line typed on the terminal; nullopt at end of input.
    std::function<std::optional<std::string>()> readAnswer;
    std::function<std::optional<std::string>(const std::string&)> getEnv;
    std::filesystem::path programFolder;   // the running executable's folder
    std::filesystem::path settingsFolder;  // empty: the per-user configuration folder
};

// The environment of this process.
CliEnvironment systemEnvironment();

// The command line's grammar as the parser reads it, for what must describe it the same way
// (the help, the manual page, the completion).
struct CliCommand {
    std::string name;
    std::string argument;  // "WORKBOOK", "JOURNAL"
    bool needsSheet = false;
    std::vector<std::string> flags;         // its own options, without a value
    std::vector<std::string> valueOptions;  // its own options taking a value
};
std::vector<CliCommand> cliGrammar();
// Options every command takes.
std::vector<std::string> cliCommonOptions();

// Runs one command line; returns the exit status.
int runCli(int argc, char** argv, std::ostream& out, std::ostream& err, const CliEnvironment& env);

// Operator without a window: List1 lines go to out, message boxes to err as one line each,
// Yes/No boxes are answered by a fixed answer or on the terminal.
class CliOperator : public Operator {
  public:
    enum class Confirm { Yes, AskTerminal, No };

    CliOperator(std::ostream& out, std::ostream& err, const CliEnvironment& env);
    ~CliOperator() override;

    void setConfirm(Confirm c) { confirm_ = c; }

    // While on, every List1 line counts as a row done on the terminal's progress line.
    void startProgress(uint32_t totalRows);
    void stopProgress();

    // A note of the companion's own: "# " text on err.
    void note(const std::string& text);

    void listClear() override {}
    void listAdd(const std::string& line) override;
    void listRefresh() override {}
    int messageBox(const std::string& text, const std::string& title, Icon icon,
                   Buttons buttons) override;
    void setVerifyEnabled(bool) override {}
    void setStartEnabled(bool) override {}
    void showConnected() override {}
    void setFocus(Control) override {}
    std::string fieldText(int index) override;
    void setFieldText(int index, const std::string& text) override;
    std::string comboText() override;
    void comboClear() override;
    void comboAdd(const std::string& item) override { combo_.push_back(item); }
    std::optional<FileChoice> openFileDialog(const std::string& title, const std::string& folder,
                                             const std::string& filter) override;

  private:
    void clearProgress();
    void drawProgress(bool force);

    std::ostream& out_;
    std::ostream& err_;
    const CliEnvironment& env_;
    Confirm confirm_ = Confirm::No;
    std::string fields_[kFieldCount];
    std::vector<std::string> combo_;
    int comboIndex_ = -1;

    bool progressOn_ = false;
    bool progressShown_ = false;
    uint32_t total_ = 0;
    uint32_t done_ = 0;
    std::chrono::steady_clock::time_point started_{};
    std::chrono::steady_clock::time_point drawn_{};
};

}  // namespace kordb
