#include "app/main_window.h"

#include <QAbstractItemView>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontDatabase>
#include <QFrame>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QScreen>
#include <QStringList>
#include <QStyle>

#include "app/keyboard.h"
#include "app/procedures.h"
#include "core/product.h"

namespace kordb {

namespace {

QString qs(const std::string& s) {
    return QString::fromStdString(s);
}

QRect design(int left, int top, int width, int height) {
    return QRect(twips(left), twips(top), twips(width), twips(height));
}

void place(QWidget* w, const QRect& r, const char* name) {
    w->setGeometry(r);
    w->setObjectName(QString::fromLatin1(name));
}

}  // namespace

QFont designFont(bool bold) {
    // DejaVu Sans descends from Bitstream Vera, drawn by Verdana's designer: closest in width.
    static const char* const kFamilies[] = {"Verdana",         "DejaVu Sans", "Bitstream Vera Sans",
                                            "Liberation Sans", "Arial",       "Helvetica"};
    static const QString family = [] {
        const QStringList installed = QFontDatabase::families();
        for (const char* f : kFamilies)
            if (installed.contains(QString::fromLatin1(f), Qt::CaseInsensitive))
                return QString::fromLatin1(f);
        return QString::fromLatin1("Sans Serif");
    }();
    QFont font(family);
    font.setStyleHint(QFont::SansSerif);
    font.setPointSizeF(8.25);
    font.setBold(bold);
    return font;
}

QMessageBox::Icon qtIcon(Icon icon) {
    switch (icon) {
        case Icon::Critical:
            return QMessageBox::Critical;
        case Icon::Question:
            return QMessageBox::Question;
        case Icon::Exclamation:
            return QMessageBox::Warning;
        case Icon::None:
            break;
    }
    return QMessageBox::NoIcon;
}

QString boxTitle(const std::string& title) {
    return title.empty() ? QString::fromLatin1(kAppCaption) : qs(title);
}

QMessageBox::StandardButtons qtButtons(Buttons buttons) {
    return buttons == Buttons::YesNo ? (QMessageBox::Yes | QMessageBox::No) : QMessageBox::Ok;
}

int answerCode(QMessageBox::StandardButton pressed) {
    switch (pressed) {
        case QMessageBox::Yes:
            return kAnswerYes;
        case QMessageBox::No:
            return kAnswerNo;
        default:
            return kAnswerOk;
    }
}

std::unique_ptr<QMessageBox> makeMessageBox(const std::string& text, const std::string& title,
                                            Icon icon, Buttons buttons, QWidget* parent,
                                            const std::string& details) {
    auto box = std::make_unique<QMessageBox>(qtIcon(icon), boxTitle(title), qs(text),
                                             qtButtons(buttons), parent);
    box->setTextFormat(Qt::PlainText);
    if (!details.empty()) box->setDetailedText(qs(details));
    box->setDefaultButton(buttons == Buttons::YesNo ? QMessageBox::Yes : QMessageBox::Ok);
    return box;
}

QString qtFileFilter(const std::string& filter) {
    const QStringList parts = qs(filter).split(QLatin1Char('|'));
    QStringList entries;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        const QString description = parts[i].trimmed();
        const QString patterns = parts[i + 1]
                                     .split(QLatin1Char(';'), Qt::SkipEmptyParts)
                                     .replaceInStrings(QStringLiteral(" "), QString())
                                     .join(QLatin1Char(' '));
        // Qt reads the patterns from the entry's last parentheses; a description that
        // already ends with them is shown as it is.
        const QString tail = QLatin1Char('(') + patterns + QLatin1Char(')');
        entries << (description.endsWith(tail) ? description
                                               : description + QLatin1Char(' ') + tail);
    }
    if (parts.size() % 2 == 1 && !parts.last().isEmpty())  // a lone pattern
        entries << parts.last();
    return entries.join(QStringLiteral(";;"));
}

std::unique_ptr<QFileDialog> makeFileDialog(const std::string& title, const std::string& folder,
                                            const std::string& filter, QWidget* parent) {
    auto dialog =
        std::make_unique<QFileDialog>(parent, qs(title), qs(folder), qtFileFilter(filter));
    dialog->setAcceptMode(QFileDialog::AcceptOpen);
    // No check that the file exists: a typed name is reported as it is.
    dialog->setFileMode(QFileDialog::AnyFile);
    return dialog;
}

void DropDownList::showPopup() {
    // The list is rebuilt from the workbook before it drops; an error there is reported and
    // the list drops down with what it holds.
    if (onDropDown) onDropDown();
    QComboBox::showPopup();
}

MAINMENU::MAINMENU(std::filesystem::path programFolder, std::filesystem::path settingsFolder)
    : QWidget(nullptr), settings_(std::move(settingsFolder)) {
    form_ = std::make_unique<Form>(*this, settings_, std::move(programFolder));
    buildControls();
    connectEvents();
    Form_Load(*form_);
    // The server field takes the focus when the window first shows, for a reason that the
    // focus watch passes over; its restored text is selected as every other arrival does.
    txtField_[0]->setFocus(Qt::OtherFocusReason);
    TxtField_GotFocus(0);
}

MAINMENU::~MAINMENU() = default;

QPushButton* MAINMENU::commandButton(const char* caption, const QRect& r, const char* name,
                                     QWidget* parent) {
    auto* b = new QPushButton(QString::fromLatin1(caption), parent);
    b->setFont(designFont(true));
    // Enter presses the focused button, as it does on the window system it came from.
    b->setAutoDefault(true);
    place(b, r, name);
    return b;
}

void MAINMENU::buildControls() {
    setObjectName(QStringLiteral("MAINMENU"));
    setWindowTitle(QString::fromLatin1(kAppCaption));
    setFont(designFont(false));
    setFixedSize(twips(10500), twips(7455));
    buildInputFrame();
    buildLowerControls();

    QWidget* order[] = {txtField_[0], txtField_[1], txtField_[2], txtField_[3],
                        txtField_[4], combo1_,      cConnect_,    cVerify_,
                        cConvert_,    cExit_,       list1_,       cSearch_};
    for (size_t i = 0; i + 1 < std::size(order); ++i) setTabOrder(order[i], order[i + 1]);
}

void MAINMENU::buildInputFrame() {
    frame1_ = new QFrame(this);
    frame1_->setFrameStyle(QFrame::Box | QFrame::Sunken);
    frame1_->setFocusPolicy(Qt::NoFocus);
    place(frame1_, design(120, 120, 10335, 2535), "Frame1");

    static const char* const kCaptions[6] = {
        "Server Name ", "Database Name ",         "User ID ",
        "Password ",    "Source Excel File Path", "Excel Sheet Name "};
    static const char* const kLabelNames[6] = {"Label1(0)", "Label1(1)", "Label1(2)",
                                               "Label1(3)", "Label1(4)", "Label1(5)"};
    static const int kRowTops[6] = {240, 600, 960, 1320, 1680, 2040};
    for (int i = 0; i < 6; ++i) {
        label1_[i] = new QLabel(QString::fromLatin1(kCaptions[i]), frame1_);
        label1_[i]->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        place(label1_[i], design(240, kRowTops[i], i < 4 ? 1695 : 2175, 255), kLabelNames[i]);
    }

    static const char* const kFieldNames[kFieldCount] = {
        "TxtField(0)", "TxtField(1)", "TxtField(2)", "TxtField(3)", "TxtField(4)"};
    static const int kFieldWidths[kFieldCount] = {3615, 3615, 2055, 2055, 7215};
    for (int i = 0; i < kFieldCount; ++i) {
        txtField_[i] = new QLineEdit(frame1_);
        place(txtField_[i], design(2520, kRowTops[i], kFieldWidths[i], 330), kFieldNames[i]);
    }
    txtField_[kPassword]->setEchoMode(QLineEdit::Password);
    txtField_[kPassword]->setStyleSheet(QStringLiteral("lineedit-password-character: 42"));  // "*"

    cSearch_ = commandButton("...", design(9720, 1680, 375, 330), "CSearch", frame1_);
    cSearch_->setFont(font());  // not one of the four bold command buttons

    combo1_ = new DropDownList(frame1_);
    combo1_->setEditable(false);
    place(combo1_, design(2520, 2040, 3615, 315), "Combo1");
}

void MAINMENU::buildLowerControls() {
    cLbl_ = new QLabel(QStringLiteral("Connected"), this);
    cLbl_->setFont(designFont(true));
    cLbl_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    place(cLbl_, design(360, 2760, 2175, 255), "CLbl");
    cLbl_->hide();

    cConnect_ = commandButton("&Connect", design(8880, 2760, 1455, 375), "CCONNECT", this);

    list1_ = new QListWidget(this);
    list1_->setUniformItemSizes(true);
    list1_->setSelectionMode(QAbstractItemView::SingleSelection);
    place(list1_, design(120, 3240, 10215, 3540), "List1");

    label2_ = new QLabel(QString::fromLatin1(kVersionLine), this);
    label2_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    place(label2_, design(240, 6960, 2055, 375), "Label2");

    cVerify_ = commandButton("&Verify", design(5640, 6960, 1455, 375), "CVerify", this);
    cConvert_ = commandButton("&Start", design(7200, 6960, 1455, 375), "CConvert", this);
    cExit_ = commandButton("&Exit", design(8760, 6960, 1455, 375), "CExit", this);
    cVerify_->setEnabled(false);
    cConvert_->setEnabled(false);
}

void MAINMENU::connectEvents() {
    connect(cConnect_, &QPushButton::clicked, this, [this] { CCONNECT_Click(*form_); });
    connect(cSearch_, &QPushButton::clicked, this, [this] { CSearch_Click(*form_); });
    connect(cVerify_, &QPushButton::clicked, this, [this] { CVerify_Click(*form_); });
    connect(cConvert_, &QPushButton::clicked, this, [this] { CConvert_Click(*form_); });
    connect(cExit_, &QPushButton::clicked, this, [this] { CExit_Click(); });
    combo1_->onDropDown = [this] { Combo1_DropDown(*form_); };
    // A pick from the list and a keyboard move of the selection; clearing the list is neither.
    connect(combo1_, &QComboBox::activated, this, [this] { Combo1_Click(*form_); });

    keyPreview_ = new KeyPreview([this](int16_t k, int16_t s) { Form_KeyDown(k, s); }, this);
    for (int c = int(Control::Server); c <= int(Control::CSearch); ++c)
        keyPreview_->watch(control(Control(c)));
    keyPreview_->watch(combo1_->view());  // the dropped-down list has the keyboard

    focusEntry_ = new FocusEntry([this](int16_t i) { TxtField_GotFocus(i); }, this);
    for (int16_t i = 0; i < kFieldCount; ++i) focusEntry_->watch(txtField_[i], i);

    listCatchUp_.setSingleShot(true);
    listCatchUp_.setInterval(0);
    connect(&listCatchUp_, &QTimer::timeout, this, [this] {
        showListEnd();
        list1_->viewport()->update();
    });
}

void MAINMENU::centreOnScreen() {
    QScreen* screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen();
    if (!screen) return;
    setGeometry(
        QStyle::alignedRect(Qt::LeftToRight, Qt::AlignCenter, size(), screen->availableGeometry()));
}

QWidget* MAINMENU::control(Control c) const {
    switch (c) {
        case Control::Server:
        case Control::Database:
        case Control::User:
        case Control::Password:
        case Control::Path:
            return txtField_[int(c)];
        case Control::Combo1:
            return combo1_;
        case Control::CConnect:
            return cConnect_;
        case Control::CVerify:
            return cVerify_;
        case Control::CConvert:
            return cConvert_;
        case Control::CExit:
            return cExit_;
        case Control::List1:
            return list1_;
        case Control::CSearch:
            return cSearch_;
    }
    return nullptr;
}

void MAINMENU::Form_KeyDown(int16_t KeyCode, int16_t /*Shift*/) {
    if (KeyCode == kKeyReturn)
        queueFocusMove(true);
    else if (KeyCode == kKeyUp)
        queueFocusMove(false);
}

void MAINMENU::queueFocusMove(bool forward) {
    QMetaObject::invokeMethod(
        this, [this, forward] { moveFocus(forward); }, Qt::QueuedConnection);
}

void MAINMENU::moveFocus(bool forward) {
    // Leaving a dropped-down list keeps the entry the keys moved to, and closes the list.
    if (combo1_->view()->isVisible()) {
        const int row = combo1_->view()->currentIndex().row();
        combo1_->hidePopup();
        if (row >= 0 && row != combo1_->currentIndex()) {
            combo1_->setCurrentIndex(row);
            Combo1_Click(*form_);
        }
    }
    focusNextPrevChild(forward);
}

void MAINMENU::TxtField_GotFocus(int16_t Index) {
    QLineEdit* field = txtField_[Index];
    field->setSelection(0, int(field->text().size()));
}

void MAINMENU::CExit_Click() {
    close();
}

void MAINMENU::listClear() {
    list1_->clear();
}

void MAINMENU::listAdd(const std::string& line) {
    list1_->addItem(qs(line));
    if (!listCatchUp_.isActive()) listCatchUp_.start();
}

void MAINMENU::listRefresh() {
    // Painting every one of tens of thousands of lines would make a run crawl; the eye needs
    // no more than a few dozen pictures a second. The run keeps the thread, so the repaint is
    // synchronous and takes no input.
    if (listPainted_.isValid() && listPainted_.elapsed() < kListRepaintMs) {
        if (!listCatchUp_.isActive()) listCatchUp_.start();
        return;
    }
    showListEnd();
    list1_->viewport()->repaint();
    listPainted_.start();
}

void MAINMENU::showListEnd() {
    if (list1_->count() > 0) list1_->scrollToBottom();
}

int MAINMENU::messageBox(const std::string& text, const std::string& title, Icon icon,
                         Buttons buttons) {
    auto box = makeMessageBox(text, title, icon, buttons, this);
    return answerCode(QMessageBox::StandardButton(box->exec()));
}

int MAINMENU::detailedMessageBox(const std::string& text, const std::string& title, Icon icon,
                                 Buttons buttons, const std::string& details) {
    auto box = makeMessageBox(text, title, icon, buttons, this, details);
    return answerCode(QMessageBox::StandardButton(box->exec()));
}

void MAINMENU::setVerifyEnabled(bool on) {
    cVerify_->setEnabled(on);
}
void MAINMENU::setStartEnabled(bool on) {
    cConvert_->setEnabled(on);
}
void MAINMENU::showConnected() {
    cLbl_->show();
}

void MAINMENU::setFocus(Control c) {
    QWidget* w = control(c);
    w->setFocus(Qt::OtherFocusReason);
    // Entering a text box selects its text also when the window is not active yet and the
    // focus event comes only with the activation.
    if (int(c) <= int(Control::Path)) TxtField_GotFocus(int16_t(c));
}

std::string MAINMENU::fieldText(int index) {
    return txtField_[index]->text().toStdString();
}

void MAINMENU::setFieldText(int index, const std::string& text) {
    txtField_[index]->setText(qs(text));
}

std::string MAINMENU::comboText() {
    const int i = combo1_->currentIndex();
    return i < 0 ? std::string() : combo1_->itemText(i).toStdString();
}

void MAINMENU::comboClear() {
    combo1_->clear();
}

void MAINMENU::comboAdd(const std::string& item) {
    const bool first = combo1_->count() == 0;
    combo1_->addItem(qs(item));
    // Qt selects the first entry of an empty list by itself; the list stays unpicked.
    if (first) combo1_->setCurrentIndex(-1);
}

std::optional<FileChoice> MAINMENU::openFileDialog(const std::string& title,
                                                   const std::string& folder,
                                                   const std::string& filter) {
    auto dialog = makeFileDialog(title, folder, filter, this);
    if (dialog->exec() != QDialog::Accepted || dialog->selectedFiles().isEmpty())
        return std::nullopt;
    QString chosen = dialog->selectedFiles().constFirst();
    // The dialog reads a typed name holding a double quote as a list of quoted names, and so
    // reports another file; where the name as typed is a file, that is the one meant.
    if (const auto* edit = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))) {
        const QString typed = dialog->directory().absoluteFilePath(edit->text());
        if (edit->text().contains(u'"') && QFileInfo(typed).isFile()) chosen = typed;
    }
    const QString path = QDir::toNativeSeparators(chosen);
    return FileChoice{path.toStdString(), QFileInfo(path).fileName().toStdString()};
}

}  // namespace kordb
