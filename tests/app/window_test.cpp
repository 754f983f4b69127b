// The window as designed: controls, captions, positions, fonts, starting states, tab order.

#include <QFontDatabase>
#include <QFrame>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QScreen>

#include "settings/settings_store.h"
#include "tests/app/window_fixture.h"

namespace kordb::test {
namespace {

struct Designed {
    QWidget* widget;
    QWidget* container;
    QString caption;
    QRect pixels;
};

TEST(WindowDesign, EveryControlWhereAndAsDesigned) {
    WindowFixture f("design", false);
    f.open(false);
    MAINMENU& w = *f.window;
    EXPECT_EQ(w.windowTitle(), "Korvin Database Migration Tools");
    EXPECT_EQ(w.size(), QSize(700, 497));
    EXPECT_EQ(w.minimumSize(), w.maximumSize()) << "fixed size";

    QWidget* frame = w.Frame1();
    const std::vector<Designed> table = {
        {w.Frame1(), &w, "", {8, 8, 689, 169}},
        {w.TxtField(0), frame, "", {168, 16, 241, 22}},
        {w.TxtField(1), frame, "", {168, 40, 241, 22}},
        {w.TxtField(2), frame, "", {168, 64, 137, 22}},
        {w.TxtField(3), frame, "", {168, 88, 137, 22}},
        {w.TxtField(4), frame, "", {168, 112, 481, 22}},
        {w.CSearch(), frame, "...", {648, 112, 25, 22}},
        {w.Combo1(), frame, "", {168, 136, 241, 21}},
        {w.Label1(0), frame, "Server Name ", {16, 16, 113, 17}},
        {w.Label1(1), frame, "Database Name ", {16, 40, 113, 17}},
        {w.Label1(2), frame, "User ID ", {16, 64, 113, 17}},
        {w.Label1(3), frame, "Password ", {16, 88, 113, 17}},
        {w.Label1(4), frame, "Source Excel File Path", {16, 112, 145, 17}},
        {w.Label1(5), frame, "Excel Sheet Name ", {16, 136, 145, 17}},
        {w.CLbl(), &w, "Connected", {24, 184, 145, 17}},
        {w.CCONNECT(), &w, "&Connect", {592, 184, 97, 25}},
        {w.List1(), &w, "", {8, 216, 681, 236}},
        {w.Label2(), &w, "Ver 7.0 [20090407]", {16, 464, 137, 25}},
        {w.CVerify(), &w, "&Verify", {376, 464, 97, 25}},
        {w.CConvert(), &w, "&Start", {480, 464, 97, 25}},
        {w.CExit(), &w, "&Exit", {584, 464, 97, 25}},
    };
    for (const Designed& d : table) {
        SCOPED_TRACE(d.widget->objectName().toStdString());
        EXPECT_EQ(d.widget->parentWidget(), d.container);
        EXPECT_EQ(d.widget->geometry(), d.pixels);
        if (auto* b = qobject_cast<QPushButton*>(d.widget)) {
            EXPECT_EQ(b->text(), d.caption);
        }
        if (auto* l = qobject_cast<QLabel*>(d.widget)) {
            EXPECT_EQ(l->text(), d.caption);
        }
        // Found by design name too, as later tests look them up.
        EXPECT_EQ(w.findChild<QWidget*>(d.widget->objectName()), d.widget);
    }
    EXPECT_EQ(w.TxtField(3)->objectName(), "TxtField(3)");
    EXPECT_EQ(w.Label1(5)->objectName(), "Label1(5)");
    EXPECT_EQ(w.findChild<QFrame*>("Frame1"), w.Frame1());
}

TEST(WindowDesign, FontsVerdanaOrNearestSansBoldOnCommandButtonsAndConnected) {
    WindowFixture f("fonts", false);
    f.open(false);
    MAINMENU& w = *f.window;
    const bool haveVerdana = QFontDatabase::families().contains("Verdana", Qt::CaseInsensitive);
    const QString family = w.font().family();
    if (haveVerdana)
        EXPECT_EQ(family, "Verdana");
    else
        EXPECT_TRUE(QFontDatabase::families().contains(family, Qt::CaseInsensitive) ||
                    family == "Sans Serif")
            << family.toStdString();
    EXPECT_FALSE(QFontDatabase::isFixedPitch(family));

    QWidget* boldOnes[] = {w.CCONNECT(), w.CVerify(), w.CConvert(), w.CExit(), w.CLbl()};
    for (QWidget* c : boldOnes) {
        SCOPED_TRACE(c->objectName().toStdString());
        EXPECT_DOUBLE_EQ(c->font().pointSizeF(), 8.25);
        EXPECT_EQ(c->font().family(), family);
        EXPECT_TRUE(c->font().bold());
    }
    QWidget* regular[] = {w.TxtField(0), w.TxtField(4), w.Combo1(), w.CSearch(),
                          w.Label1(0),   w.Label1(4),   w.List1(),  w.Label2()};
    for (QWidget* c : regular) {
        SCOPED_TRACE(c->objectName().toStdString());
        EXPECT_DOUBLE_EQ(c->font().pointSizeF(), 8.25);
        EXPECT_EQ(c->font().family(), family);
        EXPECT_FALSE(c->font().bold());
    }
}

TEST(WindowStart, FirstStartIsEmptyWithVerifyStartDisabledAndConnectedHidden) {
    WindowFixture f("first-start");
    MAINMENU& w = *f.window;
    for (int i = 0; i < 5; ++i) EXPECT_EQ(w.TxtField(i)->text(), "") << i;
    EXPECT_FALSE(w.CVerify()->isEnabled());
    EXPECT_FALSE(w.CConvert()->isEnabled());
    EXPECT_TRUE(w.CCONNECT()->isEnabled());
    EXPECT_TRUE(w.CExit()->isEnabled());
    EXPECT_TRUE(w.CSearch()->isEnabled());
    EXPECT_FALSE(w.CLbl()->isVisible());
    EXPECT_TRUE(w.Label2()->isVisible());
    EXPECT_EQ(w.Combo1()->count(), 0);
    EXPECT_EQ(w.Combo1()->currentIndex(), -1);
    EXPECT_FALSE(w.Combo1()->isEditable()) << "choice from the list only";
    EXPECT_EQ(w.List1()->count(), 0);
    EXPECT_TRUE(w.List1()->uniformItemSizes());
}

TEST(WindowStart, LaterStartRestoresConnectionFieldsWithPasswordMasked) {
    WindowFixture f("later-start", false);
    SettingsStore store(f.dir / "config");
    store.save("KORDB", "GeneralSetting", "cServer", "srv\\inst");
    store.save("KORDB", "GeneralSetting", "ConnTable", "KorDb");
    store.save("KORDB", "GeneralSetting", "cLogin", "sa");
    store.save("KORDB", "GeneralSetting", "cPassword", "s3cr\xc3\xa9t");  // "s3crét"
    f.open();
    MAINMENU& w = *f.window;
    EXPECT_EQ(w.TxtField(0)->text(), "srv\\inst");
    EXPECT_EQ(w.TxtField(1)->text(), "KorDb");
    EXPECT_EQ(w.TxtField(2)->text(), "sa");
    EXPECT_EQ(w.TxtField(3)->text(), QString::fromUtf8("s3cr\xc3\xa9t"));
    EXPECT_EQ(w.fieldText(3), "s3cr\xc3\xa9t");
    EXPECT_EQ(w.TxtField(3)->echoMode(), QLineEdit::Password);
    EXPECT_EQ(w.TxtField(3)->displayText(), "******") << "every character shown as *";
    EXPECT_EQ(w.TxtField(0)->displayText(), "srv\\inst");
    EXPECT_EQ(w.TxtField(0)->selectedText(), "srv\\inst") << "typing replaces the restored server";
    EXPECT_EQ(w.TxtField(4)->text(), "");
    EXPECT_EQ(w.Combo1()->count(), 0);
    EXPECT_FALSE(w.CLbl()->isVisible());
}

TEST(WindowStart, OpensCentredOnTheScreen) {
    WindowFixture f("centre");
    const QRect screen = f.window->screen()->availableGeometry();
    const QPoint c = f.window->geometry().center();
    EXPECT_LE(std::abs(c.x() - screen.center().x()), 1);
    EXPECT_LE(std::abs(c.y() - screen.center().y()), 1);
}

// The focus chain as Tab walks it, starting at the server field.
std::vector<std::string> names(const std::vector<QWidget*>& widgets) {
    std::vector<std::string> r;
    for (QWidget* w : widgets) r.push_back(nameOf(w));
    return r;
}

std::vector<std::string> tabWalk(WindowFixture& f, Qt::Key key, int steps) {
    f.window->TxtField(0)->setFocus(Qt::OtherFocusReason);
    std::vector<std::string> seen;
    for (int i = 0; i < steps; ++i) {
        QTest::keyClick(f.focused(), key,
                        key == Qt::Key_Backtab ? Qt::ShiftModifier : Qt::NoModifier);
        seen.push_back(f.focusName());
    }
    return seen;
}

TEST(WindowTabOrder, TabWalksTheDesignedOrderSkippingDisabledAndWraps) {
    WindowFixture f("tab-order");
    MAINMENU& w = *f.window;
    ASSERT_EQ(f.focusName(), "TxtField(0)") << "the first control in tab order has the focus";

    std::vector<QWidget*> expected = {w.TxtField(1), w.TxtField(2), w.TxtField(3), w.TxtField(4),
                                      w.Combo1(),    w.CCONNECT(),  w.CExit(),     w.List1(),
                                      w.CSearch(),   w.TxtField(0)};
    EXPECT_EQ(tabWalk(f, Qt::Key_Tab, 10), names(expected));

    w.setVerifyEnabled(true);
    w.setStartEnabled(true);
    expected = {w.TxtField(1), w.TxtField(2), w.TxtField(3), w.TxtField(4),
                w.Combo1(),    w.CCONNECT(),  w.CVerify(),   w.CConvert(),
                w.CExit(),     w.List1(),     w.CSearch(),   w.TxtField(0)};
    EXPECT_EQ(tabWalk(f, Qt::Key_Tab, 12), names(expected));

    std::vector<QWidget*> back(expected.rbegin() + 1, expected.rend());
    back.push_back(w.TxtField(0));
    EXPECT_EQ(tabWalk(f, Qt::Key_Backtab, 12), names(back));
}

}  // namespace
}  // namespace kordb::test
