#pragma once
// The state every procedure shares, owned in one place: the window-level variables, the
// module-level ones, and the services the procedures reach through them.

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>

#include "app/operator.h"
#include "settings/settings_store.h"
#include "source/workbook.h"

namespace kordb {

namespace odbc {
class Connection;
}

inline constexpr const char* kAppCaption = "Korvin Database Migration Tools";
inline constexpr const char* kVersionLine = "Ver 7.0 [20090407]";
inline constexpr const char* kSettingsApp = "KORDB";
inline constexpr const char* kSettingsSection = "GeneralSetting";

struct AppState {
    // Window level.
    std::string KeyColumn;
    std::string TableName;
    std::string SheetName;
    std::string DupKeys;
    std::string ErrKeys;
    std::string WorkbookTitle;
    int32_t ErrCount = 0;
    bool ErrFound = false;
    int16_t LoopIndex = 0;

    // Module level.
    std::unique_ptr<odbc::Connection> DestConn;
    std::string SheetSQL;
    std::string DestSQL;
    std::string PluSQL;
    std::string ConfirmAnswer;

    // What the file dialog reports when it is cancelled: its last choice.
    FileChoice lastChoice;

    AppState();
    ~AppState();
};

// One window's procedures: the operator they talk to, the state they share, and where their
// files live. Every event procedure takes a Form.
struct Form {
    Form(Operator& ui, SettingsStore& settings, std::filesystem::path programFolder);

    Operator& ui;
    SettingsStore& settings;
    std::filesystem::path programFolder;  // the running executable's folder
    std::filesystem::path errorFolder;    // where error files go (programFolder when writable)
    WorkbookCache workbooks;
    AppState st;
};

// The folder error files go to: folder itself when it can be written, otherwise the per-user
// data folder "KORDB".
std::filesystem::path errorFileFolder(const std::filesystem::path& programFolder);

// The running executable's folder.
std::filesystem::path executableFolder();

}  // namespace kordb
