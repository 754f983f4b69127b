#pragma once
// The window MAINMENU: every control where the design puts it, the operator through which the
// procedures reach the controls, and the window's own behaviours (key preview with Enter and
// Up arrow moving through the tab order, select-all on entering a text box, Exit).

#include <QComboBox>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QTimer>
#include <QWidget>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "core/files.h"
#include "core/operator.h"
#include "form/form.h"
#include "settings/settings_store.h"

class QFileDialog;
class QFrame;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;

namespace kordb {

class KeyPreview;
class FocusEntry;

// The design's positions are in twips; 15 make one pixel at 96 dots per inch.
constexpr int twips(int t) {
    return t / 15;
}

// The design's font, Verdana 8.25 pt, or the nearest sans where Verdana is not installed.
QFont designFont(bool bold);

// The window's side of a message box: icon, title (empty = the window caption), button set
// and the code of the pressed button.
QMessageBox::Icon qtIcon(Icon icon);
QString boxTitle(const std::string& title);
QMessageBox::StandardButtons qtButtons(Buttons buttons);
int answerCode(QMessageBox::StandardButton pressed);
// The box as shown, not yet run.
// details: the box's detailed text ("Show Details..."), none when empty.
std::unique_ptr<QMessageBox> makeMessageBox(const std::string& text, const std::string& title,
                                            Icon icon, Buttons buttons, QWidget* parent,
                                            const std::string& details = {});

// "description|pattern[|description|pattern...]" (patterns separated by ";") as Qt's
// "description (pattern ...)" entries joined by ";;".
QString qtFileFilter(const std::string& filter);
// The open dialog as shown, not yet run: title, starting folder, filter; any name accepted.
std::unique_ptr<QFileDialog> makeFileDialog(const std::string& title, const std::string& folder,
                                            const std::string& filter, QWidget* parent);

// A pick-only list that lets the window refill it each time it drops down.
class DropDownList : public QComboBox {
  public:
    explicit DropDownList(QWidget* parent) : QComboBox(parent) {}
    std::function<void()> onDropDown;
    void showPopup() override;
};

class MAINMENU : public QWidget, public Operator {
    Q_OBJECT

  public:
    // Creating the window loads it: the controls in their starting states, then Form_Load.
    // settingsFolder: where the settings store keeps its file (empty = the user's default).
    explicit MAINMENU(std::filesystem::path programFolder = executableFolder(),
                      std::filesystem::path settingsFolder = {});
    ~MAINMENU() override;

    Form& form() { return *form_; }

    // Centres the window on the screen it will open on.
    void centreOnScreen();

    // The controls, by their design names (each also carries that name as its objectName;
    // array elements as "TxtField(0)", "Label1(5)").
    QFrame* Frame1() const { return frame1_; }
    QLineEdit* TxtField(int index) const { return txtField_[index]; }
    QPushButton* CSearch() const { return cSearch_; }
    DropDownList* Combo1() const { return combo1_; }
    QLabel* Label1(int index) const { return label1_[index]; }
    QLabel* CLbl() const { return cLbl_; }
    QPushButton* CCONNECT() const { return cConnect_; }
    QListWidget* List1() const { return list1_; }
    QLabel* Label2() const { return label2_; }
    QPushButton* CVerify() const { return cVerify_; }
    QPushButton* CConvert() const { return cConvert_; }
    QPushButton* CExit() const { return cExit_; }
    QWidget* control(Control c) const;

    // The window's own event procedures.
    void Form_KeyDown(int16_t KeyCode, int16_t Shift);
    void TxtField_GotFocus(int16_t Index);
    void CExit_Click();

    // Operator.
    using QWidget::setFocus;
    void listClear() override;
    void listAdd(const std::string& line) override;
    void listRefresh() override;
    int messageBox(const std::string& text, const std::string& title, Icon icon,
                   Buttons buttons) override;
    int detailedMessageBox(const std::string& text, const std::string& title, Icon icon,
                           Buttons buttons, const std::string& details) override;
    void setVerifyEnabled(bool on) override;
    void setStartEnabled(bool on) override;
    void showConnected() override;
    void setFocus(Control c) override;
    std::string fieldText(int index) override;
    void setFieldText(int index, const std::string& text) override;
    std::string comboText() override;
    void comboClear() override;
    void comboAdd(const std::string& item) override;
    std::optional<FileChoice> openFileDialog(const std::string& title, const std::string& folder,
                                             const std::string& filter) override;

    // The shortest time between two repaints of List1 while lines pour in.
    static constexpr int kListRepaintMs = 30;

  private:
    void buildControls();
    void buildInputFrame();
    void buildLowerControls();
    QPushButton* commandButton(const char* caption, const QRect& r, const char* name,
                               QWidget* parent);
    void connectEvents();
    // Moves the focus as Tab (forward) or Shift+Tab would, once the key has been delivered.
    void queueFocusMove(bool forward);
    void moveFocus(bool forward);
    void showListEnd();

    SettingsStore settings_;
    std::unique_ptr<Form> form_;

    QFrame* frame1_ = nullptr;
    QLineEdit* txtField_[kFieldCount] = {};
    QPushButton* cSearch_ = nullptr;
    DropDownList* combo1_ = nullptr;
    QLabel* label1_[6] = {};
    QLabel* cLbl_ = nullptr;
    QPushButton* cConnect_ = nullptr;
    QListWidget* list1_ = nullptr;
    QLabel* label2_ = nullptr;
    QPushButton* cVerify_ = nullptr;
    QPushButton* cConvert_ = nullptr;
    QPushButton* cExit_ = nullptr;

    KeyPreview* keyPreview_ = nullptr;
    FocusEntry* focusEntry_ = nullptr;
    QElapsedTimer listPainted_;  // since List1's last repaint
    QTimer listCatchUp_;         // shows the lines added since, once the run gives way
};

}  // namespace kordb
