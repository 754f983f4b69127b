#pragma once
// What the procedures need from the window, and nothing more. The Qt window implements it,
// the headless companion prints through it, and tests replace it with a recorder.

#include <optional>
#include <string>
#include <vector>

namespace kordb {

enum class Icon { None, Critical, Question, Exclamation };
enum class Buttons { Ok, YesNo };

// Button codes a message box returns.
inline constexpr int kAnswerOk = 1;
inline constexpr int kAnswerYes = 6;
inline constexpr int kAnswerNo = 7;

// The field array TxtField, by index: the index is how every procedure names a field.
enum Field : int { kServer = 0, kDatabase = 1, kUser = 2, kPassword = 3, kPath = 4 };
inline constexpr int kFieldCount = 5;

// Controls that can take the focus, in tab order.
enum class Control {
    Server,    // TxtField(0)
    Database,  // TxtField(1)
    User,      // TxtField(2)
    Password,  // TxtField(3)
    Path,      // TxtField(4)
    Combo1,
    CConnect,
    CVerify,
    CConvert,
    CExit,
    List1,
    CSearch,
};
inline Control fieldControl(int index) {
    return static_cast<Control>(index);
}

struct FileChoice {
    std::string fileName;   // full path
    std::string fileTitle;  // name without folder
};

class Operator {
  public:
    virtual ~Operator() = default;

    // List1
    virtual void listClear() = 0;
    virtual void listAdd(const std::string& line) = 0;
    virtual void listRefresh() = 0;

    // A modal box; an empty title shows the window's caption. Returns the pressed button's code.
    virtual int messageBox(const std::string& text, const std::string& title, Icon icon,
                           Buttons buttons) = 0;
    // The same box with a reason behind its "Show Details..."; where there is no such button,
    // the box alone.
    virtual int detailedMessageBox(const std::string& text, const std::string& title, Icon icon,
                                   Buttons buttons, const std::string& details) {
        (void)details;
        return messageBox(text, title, icon, buttons);
    }

    virtual void setVerifyEnabled(bool on) = 0;
    virtual void setStartEnabled(bool on) = 0;
    virtual void showConnected() = 0;
    virtual void setFocus(Control c) = 0;

    // TxtField(0..4)
    virtual std::string fieldText(int index) = 0;
    virtual void setFieldText(int index, const std::string& text) = 0;

    // Combo1: its text is the selected entry, or empty when nothing is selected.
    virtual std::string comboText() = 0;
    virtual void comboClear() = 0;
    virtual void comboAdd(const std::string& item) = 0;

    // The file-open dialog; nullopt when cancelled.
    virtual std::optional<FileChoice> openFileDialog(const std::string& title,
                                                     const std::string& folder,
                                                     const std::string& filter) = 0;
};

// An operator without a window, for a procedure run as a service: no list, every box answered
// with its default button (Yes where it asks), no buttons, fields or dialog. A caller overrides
// what it reports or answers.
class WindowlessOperator : public Operator {
  public:
    void listClear() override {}
    void listAdd(const std::string&) override {}
    void listRefresh() override {}
    int messageBox(const std::string&, const std::string&, Icon, Buttons buttons) override {
        return buttons == Buttons::YesNo ? kAnswerYes : kAnswerOk;
    }
    void setVerifyEnabled(bool) override {}
    void setStartEnabled(bool) override {}
    void showConnected() override {}
    void setFocus(Control) override {}
    std::string fieldText(int) override { return {}; }
    void setFieldText(int, const std::string&) override {}
    std::string comboText() override { return {}; }
    void comboClear() override {}
    void comboAdd(const std::string&) override {}
    std::optional<FileChoice> openFileDialog(const std::string&, const std::string&,
                                             const std::string&) override {
        return std::nullopt;
    }
};

}  // namespace kordb
