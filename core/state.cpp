#include "core/state.h"

#include <QCoreApplication>
#include <QStandardPaths>

#include <algorithm>
#include <fstream>
#include <system_error>

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace kordb {

namespace fs = std::filesystem;

AppState::AppState() = default;
AppState::~AppState() = default;

Form::Form(Operator& ui_, SettingsStore& settings_, fs::path programFolder_)
    : ui(ui_),
      settings(settings_),
      programFolder(std::move(programFolder_)),
      errorFolder(errorFileFolder(programFolder)) {}

void showMessage(Form& f, const std::string& text, Icon icon) {
    f.ui.messageBox(text, "Message", icon, Buttons::Ok);
}

void recordError(Form& f, const std::string& description) {
    ++f.outcome.errors;
    f.outcome.lastError = description;
}

void showError(Form& f, const std::exception& e) {
    recordError(f, e.what());
    showMessage(f, e.what(), Icon::Critical);
}

bool isSystemFolder(const fs::path& folder) {
#ifdef _WIN32
    (void)folder;
    return false;
#else
    std::error_code ec;
    fs::path p = fs::weakly_canonical(folder, ec);
    if (ec) p = folder.lexically_normal();
    for (const char* name : {"/usr", "/opt", "/bin", "/sbin", "/lib", "/lib64", "/snap", "/app"}) {
        fs::path prefix(name);
        if (std::mismatch(prefix.begin(), prefix.end(), p.begin(), p.end()).first == prefix.end())
            return true;
    }
    return false;
#endif
}

fs::path errorFileFolder(const fs::path& programFolder) {
    std::error_code ec;
#ifndef _WIN32
    // Root can write anywhere: a writable system folder still is not the program's to fill.
    if (!programFolder.empty() && !isSystemFolder(programFolder) &&
        ::access(programFolder.c_str(), W_OK) == 0)
        return programFolder;
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
    fs::path data = fs::path(QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation)
                                 .toStdU16String()) /
                    "KORDB";
    fs::create_directories(data, ec);
    return data;
}

fs::path executableFolder() {
    std::error_code ec;
#ifdef _WIN32
    wchar_t buf[32768];
    DWORD n = GetModuleFileNameW(nullptr, buf, DWORD(std::size(buf)));
    if (n > 0 && n < std::size(buf)) return fs::path(std::wstring(buf, n)).parent_path();
#else
    fs::path self = fs::read_symlink("/proc/self/exe", ec);
    if (!ec) return self.parent_path();
#endif
    if (QCoreApplication::instance())
        return fs::path(QCoreApplication::applicationDirPath().toStdU16String());
    return fs::current_path(ec);
}

}  // namespace kordb
