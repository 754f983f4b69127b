#pragma once
// The state every procedure shares, owned in one place: the window-level variables, the
// module-level ones, and the services the procedures reach through them.

#include <cstdint>
#include <exception>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "core/operator.h"

namespace kordb {

// Owned here, defined on the floors below: the state only holds them.
namespace odbc {
class Connection;
}
class SettingsStore;
class WorkbookCache;

struct AppState {
    // Window level.
    std::string KeyColumn;
    std::string TableName;
    std::string SheetName;
    // The keys the latest verification left out of its final listing: those the duplicate
    // checks found.
    std::vector<std::string> ErrKeys;
    std::string WorkbookTitle;
    int32_t ErrCount = 0;
    bool ErrFound = false;

    // Module level.
    std::shared_ptr<odbc::Connection> DestConn;
    // The latest worksheet statement opened through the form.
    std::string SheetSQL;
    std::string DestSQL;
    std::string PluSQL;
    std::string ConfirmAnswer;

    // What the file dialog reports when it is cancelled: its last choice.
    FileChoice lastChoice;

    AppState();
    ~AppState();
};

// What the procedures report having done, so that a caller without a window can tell an
// outcome without reading the boxes.
struct Outcome {
    int errors = 0;         // errors reported by a trap, each also shown in its box
    std::string lastError;  // the description of the latest
    // The undo journal of the latest Start; empty when it wrote nothing.
    std::filesystem::path journal;
    // The latest Start ran in one transaction and rolled it back: nothing was stored.
    bool rolledBack = false;
    // Why the latest Start or plan went on looking rows up one at a time; empty when it did not
    // have to.
    std::string rowByRowBecause;
    // Why the latest Start went on writing one row at a time: the destination refused a batch
    // whose rows it then took one by one. Empty when it did not.
    std::string writtenOneByOneBecause;
    // The worksheet row the latest Start reached (the header is row 1).
    long lastRow = 0;
};

// One window's procedures: the operator they talk to, the state they share, and where their
// files live. Every event procedure takes a Form.
struct Form {
    Form(Operator& ui, SettingsStore& settings, std::filesystem::path programFolder);

    Operator& ui;
    SettingsStore& settings;
    std::filesystem::path programFolder;       // the running executable's folder
    std::filesystem::path errorFolder;         // where error files go (programFolder when writable)
    std::shared_ptr<WorkbookCache> workbooks;  // made on first use by the worksheet layer
    AppState st;
    Outcome outcome;
    // Start stores the whole sheet or nothing: one transaction, rolled back at the first
    // error. The companion's --atomic; the window leaves it off.
    bool atomicStart = false;
    // Start and the plan look each row up on its own, as the first releases did: for
    // comparison, and for a driver that refuses a look-up of many keys at once.
    bool rowByRow = false;
    // The destination compares text keys ignoring trailing blanks (SQL Server): Verify's
    // duplicate check must too. Set by each Connect.
    bool keysIgnoreTrailingBlanks = false;
};

// A box of the program's own: title "Message", OK.
void showMessage(Form& f, const std::string& text, Icon icon);
// The common trap: records the error and shows its description with the critical icon.
void showError(Form& f, const std::exception& e);
// Records an error whose trap reacts in its own way.
void recordError(Form& f, const std::string& description);

}  // namespace kordb
