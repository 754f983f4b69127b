#include "tests/support/recorder.h"

namespace kordb::test {

void Recorder::pick(const std::string& sheet) {
    for (size_t i = 0; i < comboItems.size(); ++i)
        if (comboItems[i] == sheet) {
            comboIndex = int(i);
            return;
        }
    comboItems.push_back(sheet);
    comboIndex = int(comboItems.size()) - 1;
}

std::vector<std::string> Recorder::boxTexts() const {
    std::vector<std::string> r;
    for (auto& b : boxes) r.push_back(b.text);
    return r;
}

int Recorder::messageBox(const std::string& text, const std::string& title, Icon icon,
                         Buttons buttons) {
    return detailedMessageBox(text, title, icon, buttons, {});
}

int Recorder::detailedMessageBox(const std::string& text, const std::string& title, Icon icon,
                                 Buttons buttons, const std::string& details) {
    boxes.push_back({text, title, icon, buttons, details});
    if (buttons == Buttons::Ok) return kAnswerOk;
    if (answers.empty()) return kAnswerYes;
    int a = answers.front();
    answers.pop_front();
    return a;
}

std::string Recorder::comboText() {
    if (comboIndex < 0 || comboIndex >= int(comboItems.size())) return {};
    return comboItems[size_t(comboIndex)];
}

std::optional<FileChoice> Recorder::openFileDialog(const std::string& title,
                                                   const std::string& folder,
                                                   const std::string& filter) {
    dialogCalls.push_back({title, folder, filter});
    if (dialogChoices.empty()) return std::nullopt;
    auto c = dialogChoices.front();
    dialogChoices.pop_front();
    return c;
}

}  // namespace kordb::test
