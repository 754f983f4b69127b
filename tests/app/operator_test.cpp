// The window's side of the operator: message boxes, the file dialog, the worksheet list
// refilled on each drop-down, picks, and List1's progress display.

#include <QDir>
#include <QElapsedTimer>
#include <QEvent>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>

#include <chrono>

#include "app/procedures.h"
#include "tests/app/window_fixture.h"

namespace kordb::test {
namespace {

TEST(MessageBoxes, IconTitleTextAndButtonsAsAsked) {
    struct Case {
        Icon icon;
        std::string title;
        Buttons buttons;
        QMessageBox::Icon qtIcon;
        QString shownTitle;
        QMessageBox::StandardButtons shownButtons;
    };
    const Case cases[] = {
        {Icon::Critical, "Message", Buttons::Ok, QMessageBox::Critical, "Message", QMessageBox::Ok},
        {Icon::Exclamation, "Message", Buttons::Ok, QMessageBox::Warning, "Message",
         QMessageBox::Ok},
        {Icon::Question, "Question", Buttons::YesNo, QMessageBox::Question, "Question",
         QMessageBox::Yes | QMessageBox::No},
        {Icon::None, "", Buttons::Ok, QMessageBox::NoIcon, "Korvin Database Migration Tools",
         QMessageBox::Ok},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.title);
        auto box =
            makeMessageBox("Confirm to Start Migrate ? ", c.title, c.icon, c.buttons, nullptr);
        EXPECT_EQ(box->icon(), c.qtIcon);
        EXPECT_EQ(box->windowTitle(), c.shownTitle);
        EXPECT_EQ(box->standardButtons(), c.shownButtons);
        EXPECT_EQ(box->text(), "Confirm to Start Migrate ? ") << "text kept with its blank";
        EXPECT_EQ(box->textFormat(), Qt::PlainText) << "an error text is never markup";
        EXPECT_TRUE(box->detailedText().isEmpty()) << "no Show Details... unless given";
    }
    auto detailed = makeMessageBox("Error connection !!!", "Message", Icon::Critical, Buttons::Ok,
                                   nullptr, "Unable to connect to data source");
    EXPECT_EQ(detailed->text(), "Error connection !!!");
    EXPECT_EQ(detailed->icon(), QMessageBox::Critical);
    EXPECT_EQ(detailed->detailedText(), "Unable to connect to data source");
}

TEST(MessageBoxes, ShownModallyAndAnsweredWithTheButtonCodes) {
    WindowFixture f("boxes");
    MAINMENU& w = *f.window;
    auto answer = [&](QMessageBox::StandardButton press, Buttons buttons, QString* title) {
        onNextModal<QMessageBox>([press, title](QMessageBox* b) {
            *title = b->windowTitle();
            b->button(press)->click();
        });
        return w.messageBox("Text", "", Icon::Question, buttons);
    };
    QString title;
    EXPECT_EQ(answer(QMessageBox::Yes, Buttons::YesNo, &title), 6);
    EXPECT_EQ(title, "Korvin Database Migration Tools");
    EXPECT_EQ(answer(QMessageBox::No, Buttons::YesNo, &title), 7);
    EXPECT_EQ(answer(QMessageBox::Ok, Buttons::Ok, &title), 1);

    // The procedures' own boxes arrive the same way: an empty field at Connect.
    QString text, boxTitle;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    onNextModal<QMessageBox>([&](QMessageBox* b) {
        text = b->text();
        boxTitle = b->windowTitle();
        icon = b->icon();
        b->accept();
    });
    w.CCONNECT()->click();
    EXPECT_EQ(text, "Empty Field !!!");
    EXPECT_EQ(boxTitle, "Message");
    EXPECT_EQ(icon, QMessageBox::Critical);
}

TEST(FileFilter, DescriptionPatternPairsBecomeQtEntries) {
    EXPECT_EQ(qtFileFilter("Excel Files (*.xls)|*.xls"), "Excel Files (*.xls)");
    EXPECT_EQ(qtFileFilter("Excel Files|*.xls"), "Excel Files (*.xls)");
    EXPECT_EQ(qtFileFilter("Text|*.txt;*.csv"), "Text (*.txt *.csv)");
    EXPECT_EQ(qtFileFilter("Books (*.xls)|*.xls|All Files (*.*)|*.*"),
              "Books (*.xls);;All Files (*.*)");
    EXPECT_EQ(qtFileFilter("Old (*.xls)|*.xlt"), "Old (*.xls) (*.xlt)")
        << "the pattern decides what is matched, not the description";
    EXPECT_EQ(qtFileFilter(""), "");
}

TEST(FileDialog, TitleFolderAndTheSingleFilter) {
    WindowFixture f("dialog-settings", false);
    auto d =
        makeFileDialog("Open Excel (.xls)", f.dir.string(), "Excel Files (*.xls)|*.xls", nullptr);
    EXPECT_EQ(d->windowTitle(), "Open Excel (.xls)");
    EXPECT_EQ(QDir(d->directory()).canonicalPath(),
              QDir(QString::fromStdString(f.dir.string())).canonicalPath());
    EXPECT_EQ(d->nameFilters(), QStringList{"Excel Files (*.xls)"});
    EXPECT_EQ(d->acceptMode(), QFileDialog::AcceptOpen);
    EXPECT_EQ(d->fileMode(), QFileDialog::AnyFile) << "no check that the file exists";
}

TEST(FileDialog, SearchButtonPicksAFileAndCancelReportsTheLastChoice) {
    WindowFixture f("dialog-run");
    MAINMENU& w = *f.window;
    const auto book =
        writeWorkbook(f.dir / "bin" / "Items 2009.xls",
                      R"({"sheets":[{"name":"KINV_MT_ITEM","rows":[["ItemCode"]]}]})");
    auto cancel = [] { onNextModal<QFileDialog>([](QFileDialog* d) { d->reject(); }); };

    QString folder;
    onNextModal<QFileDialog>([&](QFileDialog* d) {
        folder = d->directory().canonicalPath();
        d->reject();
    });
    w.setFieldText(4, "typed.xls");
    w.CSearch()->click();
    EXPECT_EQ(folder, QDir(QString::fromStdString((f.dir / "bin").string())).canonicalPath())
        << "starts in the program's folder";
    EXPECT_EQ(w.fieldText(4), "") << "cancelled before any pick";
    EXPECT_EQ(w.form().st.WorkbookTitle, "");

    onNextModal<QFileDialog>([&](QFileDialog* d) {
        // As typed by the operator (selectFile leaves a focused name box alone).
        d->findChild<QLineEdit*>("fileNameEdit")->setText(QString::fromStdString(book.string()));
        static_cast<QDialog*>(d)->accept();  // QFileDialog hides it
    });
    w.CSearch()->click();
    EXPECT_EQ(w.fieldText(4), book.string());
    EXPECT_EQ(w.form().st.WorkbookTitle, "Items 2009.xls");

    w.setFieldText(4, "typed.xls");
    cancel();
    w.CSearch()->click();
    EXPECT_EQ(w.fieldText(4), book.string()) << "cancelled later: the last choice again";
    EXPECT_EQ(w.form().st.WorkbookTitle, "Items 2009.xls");

    // A typed name holding double quotes is the file so named, not a list of quoted names.
    const auto quoted = f.dir / "bin" / "Items \"A\" 2009.xls";
    std::filesystem::copy_file(book, quoted);
    onNextModal<QFileDialog>([&](QFileDialog* d) {
        d->findChild<QLineEdit*>("fileNameEdit")->setText(QString::fromStdString(quoted.string()));
        static_cast<QDialog*>(d)->accept();
    });
    w.CSearch()->click();
    EXPECT_EQ(w.fieldText(4), quoted.string());
    EXPECT_EQ(w.form().st.WorkbookTitle, "Items \"A\" 2009.xls");
}

TEST(SheetList, EachDropDownReloadsTheWorkbookAndClearsThePick) {
    WindowFixture f("drop-down");
    MAINMENU& w = *f.window;
    const auto book = writeWorkbook(f.dir / "book.xls", R"({"sheets":[
        {"name":"KINV_MT_ITEM","rows":[["ItemCode"]]},
        {"name":"kinv_mt_class","rows":[["ClassCode"]]},
        {"name":"Sheet3"}]})");
    auto items = [&] {
        std::vector<std::string> r;
        for (int i = 0; i < w.Combo1()->count(); ++i)
            r.push_back(w.Combo1()->itemText(i).toStdString());
        return r;
    };

    // An empty path drops the list down as it is and starts nothing.
    w.Combo1()->showPopup();
    EXPECT_TRUE(items().empty());
    w.Combo1()->hidePopup();

    w.setFieldText(4, book.string());
    w.Combo1()->setFocus();
    w.Combo1()->showPopup();
    EXPECT_EQ(items(), (std::vector<std::string>{"KINV_MT_ITEM", "kinv_mt_class", "Sheet3"}));
    EXPECT_EQ(w.comboText(), "") << "nothing picked yet";

    // A pick in the list runs Combo1_Click.
    QAbstractItemView* view = w.Combo1()->view();
    const QModelIndex second = view->model()->index(1, 0);
    QTest::mouseClick(view->viewport(), Qt::LeftButton, Qt::NoModifier,
                      view->visualRect(second).center());
    EXPECT_TRUE(waitUntil([&] { return !view->isVisible(); }));
    EXPECT_EQ(w.comboText(), "kinv_mt_class");
    EXPECT_EQ(w.form().st.TableName, "KINV_MT_CLASS");
    EXPECT_EQ(w.form().st.KeyColumn, "ClassCode");

    // So does a keyboard move of the selection on the closed list.
    QTest::keyClick(w.Combo1(), Qt::Key_Down);
    EXPECT_EQ(w.comboText(), "Sheet3");
    EXPECT_EQ(w.form().st.TableName, "SHEET3");
    EXPECT_EQ(w.form().st.KeyColumn, "ClassCode") << "unknown table keeps the key column";

    // The workbook changed on disk: the next drop-down shows it, and the old pick is gone
    // without a Combo1_Click of its own.
    writeWorkbook(book, R"({"sheets":[{"name":"KLED_MT_DEBTOR","rows":[["DebtorCode"]]}]})");
    w.Combo1()->showPopup();
    EXPECT_EQ(items(), (std::vector<std::string>{"KLED_MT_DEBTOR"}));
    EXPECT_EQ(w.comboText(), "");
    EXPECT_EQ(w.form().st.TableName, "SHEET3");
    w.Combo1()->hidePopup();

    // Connect refuses to run until a sheet is picked again.
    for (int i = 0; i < 4; ++i) w.setFieldText(i, "x");
    QString text;
    onNextModal<QMessageBox>([&](QMessageBox* b) {
        text = b->text();
        b->accept();
    });
    w.CCONNECT()->click();
    EXPECT_EQ(text, "Empty Field !!!");
    EXPECT_EQ(f.focusName(), "Combo1");
}

TEST(SheetList, AMissingWorkbookIsReportedAndTheFocusGoesToThePath) {
    WindowFixture f("drop-down-missing");
    MAINMENU& w = *f.window;
    w.setFieldText(4, (f.dir / "nowhere.xls").string());
    w.Combo1()->setFocus();
    QString title;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    onNextModal<QMessageBox>([&](QMessageBox* b) {
        title = b->windowTitle();
        icon = b->icon();
        b->accept();
    });
    w.Combo1()->showPopup();
    EXPECT_EQ(title, "Message");
    EXPECT_EQ(icon, QMessageBox::Critical);
    EXPECT_EQ(w.Combo1()->count(), 0);
    w.Combo1()->hidePopup();
    EXPECT_TRUE(waitUntil([&] { return f.focused() == w.TxtField(4); })) << f.focusName();
}

TEST(ProgressList, StaysFastTakesNoInputAndShowsTheLastLine) {
    WindowFixture f("progress");
    MAINMENU& w = *f.window;
    bool inputTaken = false;
    QTimer::singleShot(0, [&] { inputTaken = true; });

    using Clock = std::chrono::steady_clock;
    auto run = [&](int from, int count) {
        const auto t0 = Clock::now();
        for (int i = from; i < from + count; ++i) {
            w.listAdd("Row " + std::to_string(i));
            w.listRefresh();
        }
        return std::chrono::duration<double>(Clock::now() - t0).count();
    };
    const int slice = 8192;
    const double first = run(0, slice);
    run(slice, 65535 - 2 * slice);
    const double last = run(65535 - slice, slice);
    EXPECT_EQ(w.List1()->count(), 65535);
    EXPECT_FALSE(inputTaken) << "the run kept the thread: nothing else was handled";
    EXPECT_LT(last, 3 * first + 0.25) << "first " << first << " s, last " << last << " s";

    // Once the run gives way, the list shows its end, lines added after the last repaint too.
    QListWidget* list = w.List1();
    w.listAdd("Verifying Completed.");
    EXPECT_TRUE(waitUntil([&] {
        return list->viewport()->rect().contains(
            list->visualItemRect(list->item(list->count() - 1)));
    }));
    EXPECT_FALSE(list->viewport()->rect().intersects(list->visualItemRect(list->item(0))));

    w.listClear();
    EXPECT_EQ(list->count(), 0);
}

// Counts the paints of a widget.
struct PaintCounter : QObject {
    int paints = 0;
    bool eventFilter(QObject*, QEvent* e) override {
        if (e->type() == QEvent::Paint) ++paints;
        return false;
    }
};

TEST(ProgressList, RepaintsDuringARunAboutThirtyTimesASecond) {
    WindowFixture f("progress-paint");
    MAINMENU& w = *f.window;
    QCoreApplication::processEvents();
    PaintCounter counter;
    w.List1()->viewport()->installEventFilter(&counter);
    QElapsedTimer t;
    t.start();
    for (int i = 0; t.elapsed() < 300; ++i) {
        w.listAdd("Row " + std::to_string(i));
        w.listRefresh();
        QTest::qSleep(1);  // a row's work, without giving way
    }
    const int expected = 300 / MAINMENU::kListRepaintMs;
    EXPECT_GE(counter.paints, expected / 2) << "progress shows while the run holds the thread";
    EXPECT_LE(counter.paints, expected + 2);
}

TEST(Fields, TextRoundTripsInUtf8AndEmptyComboReadsEmpty) {
    WindowFixture f("fields", false);
    f.open(false);
    MAINMENU& w = *f.window;
    w.setFieldText(2, "M\xc3\xbcller \xe5\xbc\xa0");
    EXPECT_EQ(w.fieldText(2), "M\xc3\xbcller \xe5\xbc\xa0");
    EXPECT_EQ(w.TxtField(2)->text(), QString::fromUtf8("M\xc3\xbcller \xe5\xbc\xa0"));
    w.setFieldText(0, "  ");
    EXPECT_EQ(w.fieldText(0), "  ") << "blanks kept";
    EXPECT_EQ(w.comboText(), "");
    w.comboAdd("KINV_MT_ITEM");
    EXPECT_EQ(w.comboText(), "") << "adding does not pick";
    w.showConnected();
    EXPECT_FALSE(w.CLbl()->isHidden());
}

}  // namespace
}  // namespace kordb::test
