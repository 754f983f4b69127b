// Enter and Up arrow through the tab order, select-all on entering a text box, access keys,
// and Exit.

#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>

#include "app/procedures.h"
#include "tests/app/window_fixture.h"

namespace kordb::test {
namespace {

// Presses key on whatever has the focus, lets the queued focus move happen, and names the
// control that has the focus then.
std::string press(WindowFixture& f, Qt::Key key) {
    QTest::keyClick(f.focused(), key);
    QCoreApplication::processEvents();
    return f.focusName();
}

TEST(EnterAndUp, MoveThroughTheTabOrderBothWaysAndWrap) {
    WindowFixture f("enter-up");
    MAINMENU& w = *f.window;
    w.TxtField(0)->setFocus();
    EXPECT_EQ(press(f, Qt::Key_Return), nameOf(w.TxtField(1)));
    EXPECT_EQ(press(f, Qt::Key_Enter), nameOf(w.TxtField(2))) << "keypad Enter too";
    EXPECT_EQ(press(f, Qt::Key_Return), nameOf(w.TxtField(3)));
    EXPECT_EQ(press(f, Qt::Key_Return), nameOf(w.TxtField(4))) << "password to path";
    EXPECT_EQ(press(f, Qt::Key_Return), nameOf(w.Combo1()));
    EXPECT_EQ(press(f, Qt::Key_Return), nameOf(w.CCONNECT()));

    // Up from the server field wraps round to "...".
    w.TxtField(0)->setFocus();
    EXPECT_EQ(press(f, Qt::Key_Up), nameOf(w.CSearch()));
    EXPECT_EQ(press(f, Qt::Key_Up), nameOf(w.List1()));
    EXPECT_EQ(press(f, Qt::Key_Up), nameOf(w.CExit()));
    EXPECT_EQ(press(f, Qt::Key_Up), nameOf(w.CCONNECT())) << "disabled Start and Verify skipped";
    EXPECT_EQ(press(f, Qt::Key_Up), nameOf(w.Combo1()));
    EXPECT_EQ(press(f, Qt::Key_Up), nameOf(w.TxtField(4)));

    // Enter in the list goes on to "...", and on round to the server field.
    w.List1()->setFocus();
    EXPECT_EQ(press(f, Qt::Key_Return), nameOf(w.CSearch()));

    w.setVerifyEnabled(true);
    w.setStartEnabled(true);
    w.CExit()->setFocus();
    EXPECT_EQ(press(f, Qt::Key_Up), nameOf(w.CConvert()));
    EXPECT_EQ(press(f, Qt::Key_Up), nameOf(w.CVerify()));

    w.CVerify()->hide();  // hidden controls are skipped like disabled ones
    w.CConvert()->setFocus();
    EXPECT_EQ(press(f, Qt::Key_Up), nameOf(w.CCONNECT()));
}

TEST(EnterAndUp, TheFocusedControlGetsTheKeyBeforeTheFocusMoves) {
    WindowFixture f("key-first");
    MAINMENU& w = *f.window;

    // The text box sees its Enter while it still has the focus.
    QWidget* focusAtReturn = nullptr;
    QObject::connect(w.TxtField(3), &QLineEdit::returnPressed,
                     [&] { focusAtReturn = f.focused(); });
    w.TxtField(3)->setFocus();
    EXPECT_EQ(press(f, Qt::Key_Return), nameOf(w.TxtField(4)));
    EXPECT_EQ(focusAtReturn, w.TxtField(3));

    // The list moves its selection up and then gives the focus away.
    for (const char* line : {"one", "two", "three"}) w.listAdd(line);
    w.List1()->setCurrentRow(2);
    w.List1()->setFocus();
    EXPECT_EQ(press(f, Qt::Key_Up), nameOf(w.CExit()));
    EXPECT_EQ(w.List1()->currentRow(), 1);

    // A button pressed with Enter does its work; here Connect finds the fields empty, puts
    // the focus on the server field, and that is where it stays.
    auto boxSeen = onNextModal<QMessageBox>([](QMessageBox* b) { b->accept(); });
    w.CCONNECT()->setFocus();
    QTest::keyClick(w.CCONNECT(), Qt::Key_Return);
    QCoreApplication::processEvents();
    EXPECT_TRUE(*boxSeen) << "Enter pressed Connect";
    EXPECT_EQ(f.focusName(), "TxtField(0)");
}

TEST(EnterAndUp, UpInTheDroppedDownListKeepsTheEntryAndLeaves) {
    WindowFixture f("up-in-popup");
    MAINMENU& w = *f.window;
    for (const char* s : {"KINV_MT_ITEM", "KINV_MT_CLASS", "KLED_MT_DEBTOR"}) w.comboAdd(s);
    w.Combo1()->setCurrentIndex(2);
    w.Combo1()->setFocus();
    w.Combo1()->showPopup();  // path empty: the list drops down as it is
    ASSERT_TRUE(w.Combo1()->view()->isVisible());
    QTest::keyClick(w.Combo1()->view(), Qt::Key_Up);
    QCoreApplication::processEvents();
    EXPECT_FALSE(w.Combo1()->view()->isVisible());
    EXPECT_EQ(f.focusName(), "TxtField(4)");
    EXPECT_EQ(w.comboText(), "KINV_MT_CLASS");
    EXPECT_EQ(w.form().st.TableName, "KINV_MT_CLASS") << "the move counts as a pick";
    EXPECT_EQ(w.form().st.KeyColumn, "ClassCode");
}

TEST(SelectAll, EnteringATextBoxByKeyOrByTheProgramSelectsItsText) {
    WindowFixture f("select-all");
    MAINMENU& w = *f.window;
    const char* texts[] = {"srv", "db", "user", "pw", "/x/book.xls"};
    for (int i = 0; i < 5; ++i) w.setFieldText(i, texts[i]);
    auto selectedAll = [&](int i) {
        QLineEdit* e = w.TxtField(i);
        return e->hasFocus() && e->selectionStart() == 0 &&
               e->selectionLength() == e->text().size();
    };

    w.TxtField(0)->setFocus(Qt::OtherFocusReason);
    QTest::keyClick(f.focused(), Qt::Key_Tab);
    EXPECT_TRUE(selectedAll(1)) << "Tab";
    QTest::keyClick(f.focused(), Qt::Key_Backtab, Qt::ShiftModifier);
    EXPECT_TRUE(selectedAll(0)) << "Shift+Tab";
    w.TxtField(2)->setFocus(Qt::OtherFocusReason);
    w.TxtField(2)->deselect();
    EXPECT_EQ(press(f, Qt::Key_Return), nameOf(w.TxtField(3)));
    EXPECT_TRUE(selectedAll(3)) << "Enter";
    EXPECT_EQ(press(f, Qt::Key_Up), nameOf(w.TxtField(2)));
    EXPECT_TRUE(selectedAll(2)) << "Up";

    // Typing replaces the selected text.
    QTest::keyClicks(w.TxtField(2), "sa");
    EXPECT_EQ(w.TxtField(2)->text(), "sa");

    // The procedures' focus moves select as well (an empty field found by Connect, say).
    w.setFocus(Control::Path);
    EXPECT_TRUE(selectedAll(4));

    // A click places the caret where it lands.
    QLineEdit* db = w.TxtField(1);
    QTest::mouseClick(db, Qt::LeftButton, Qt::NoModifier,
                      QPoint(db->width() - 4, db->height() / 2));
    EXPECT_TRUE(db->hasFocus());
    EXPECT_FALSE(db->hasSelectedText());
}

TEST(AccessKeys, AltLettersPressTheirButtonsExitClosesAtOnce) {
    WindowFixture f("access-keys");
    MAINMENU& w = *f.window;
    QSignalSpy verify(w.CVerify(), &QPushButton::clicked);
    QSignalSpy start(w.CConvert(), &QPushButton::clicked);
    QTest::keyClick(&w, Qt::Key_V, Qt::AltModifier);
    QTest::keyClick(&w, Qt::Key_S, Qt::AltModifier);
    QTest::qWait(200);
    EXPECT_EQ(verify.count(), 0) << "disabled";
    EXPECT_EQ(start.count(), 0) << "disabled";

    QString boxText;
    auto seen = onNextModal<QMessageBox>([&](QMessageBox* b) {
        boxText = b->text();
        b->accept();
    });
    QTest::keyClick(&w, Qt::Key_C, Qt::AltModifier);
    EXPECT_TRUE(waitUntil([&] { return *seen; }));
    EXPECT_EQ(boxText, "Empty Field !!!");
    EXPECT_TRUE(waitUntil([&] { return f.focused() == w.TxtField(0); })) << f.focusName();

    w.setVerifyEnabled(true);
    w.setStartEnabled(true);
    w.CLbl()->show();
    f.activate();  // the offscreen platform does not hand activation back after a box
    QTest::keyClick(&w, Qt::Key_E, Qt::AltModifier);
    EXPECT_TRUE(waitUntil([&] { return !w.isVisible(); }));
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr) << "closed without a question";
}

}  // namespace
}  // namespace kordb::test
