#include "form/form.h"

#include "core/files.h"

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

}  // namespace kordb
