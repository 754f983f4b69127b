#pragma once
// An Operator that records what the procedures show and answers message boxes from a script.

#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "core/operator.h"

namespace kordb::test {

struct Box {
    std::string text;
    std::string title;
    Icon icon;
    Buttons buttons;
    std::string details;  // behind "Show Details..."; empty for a plain box
};

class Recorder : public Operator {
  public:
    // Window-like state the procedures read and write.
    std::string fields[5];
    std::vector<std::string> comboItems;
    int comboIndex = -1;
    std::vector<std::string> list;
    std::vector<Box> boxes;
    // Every box's text, for failure messages: safe whatever the count.
    std::string allBoxes() const {
        std::string all;
        for (const Box& b : boxes) all += "[" + b.text + "] ";
        return all;
    }
    std::deque<int> answers;  // for Yes/No boxes; Yes when empty
    bool verifyEnabled = false;
    bool startEnabled = false;
    bool connectedShown = false;
    std::vector<Control> focusMoves;
    int refreshes = 0;
    std::deque<std::optional<FileChoice>> dialogChoices;  // nullopt = cancel
    struct DialogCall {
        std::string title, folder, filter;
    };
    std::vector<DialogCall> dialogCalls;

    // Picks the combo entry with this text (adds it when missing), as a click would.
    void pick(const std::string& sheet);
    std::vector<std::string> boxTexts() const;

    void listClear() override { list.clear(); }
    void listAdd(const std::string& line) override { list.push_back(line); }
    void listRefresh() override { ++refreshes; }
    int messageBox(const std::string& text, const std::string& title, Icon icon,
                   Buttons buttons) override;
    int detailedMessageBox(const std::string& text, const std::string& title, Icon icon,
                           Buttons buttons, const std::string& details) override;
    void setVerifyEnabled(bool on) override { verifyEnabled = on; }
    void setStartEnabled(bool on) override { startEnabled = on; }
    void showConnected() override { connectedShown = true; }
    void setFocus(Control c) override { focusMoves.push_back(c); }
    std::string fieldText(int index) override { return fields[index]; }
    void setFieldText(int index, const std::string& text) override { fields[index] = text; }
    std::string comboText() override;
    void comboClear() override {
        comboItems.clear();
        comboIndex = -1;
    }
    void comboAdd(const std::string& item) override { comboItems.push_back(item); }
    std::optional<FileChoice> openFileDialog(const std::string& title, const std::string& folder,
                                             const std::string& filter) override;
};

}  // namespace kordb::test
