#include "app/state.h"

#include <QCoreApplication>
#include <QStandardPaths>

#include <fstream>
#include <system_error>

#ifndef _WIN32
#include <unistd.h>
#endif

#include "settings/odbc.h"

namespace kordb {

namespace fs = std::filesystem;

AppState::AppState() = default;
AppState::~AppState() = default;

Form::Form(Operator& ui_, SettingsStore& settings_, fs::path programFolder_)
    : ui(ui_),
      settings(settings_),
      programFolder(std::move(programFolder_)),
      errorFolder(errorFileFolder(programFolder)) {}

fs::path errorFileFolder(const fs::path& programFolder) {
    std::error_code ec;
#ifndef _WIN32
    if (!programFolder.empty() && ::access(programFolder.c_str(), W_OK) == 0) return programFolder;
#else
    if (!programFolder.empty()) {
        fs::path probe = programFolder / ".kordb-write-test";
        std::ofstream out(probe);
        if (out) {
            out.close();
            fs::remove(probe, ec);
            return programFolder;
        }
    }
#endif
    fs::path data =
        fs::path(
            QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation).toStdString()) /
        "KORDB";
    fs::create_directories(data, ec);
    return data;
}

fs::path executableFolder() {
    std::error_code ec;
#ifndef _WIN32
    fs::path self = fs::read_symlink("/proc/self/exe", ec);
    if (!ec) return self.parent_path();
#endif
    if (QCoreApplication::instance())
        return fs::path(QCoreApplication::applicationDirPath().toStdString());
    return fs::current_path(ec);
}

}  // namespace kordb
