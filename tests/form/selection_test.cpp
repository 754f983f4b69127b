// Start-up restore, the file dialog, the worksheet list and the key column of a pick.

#include <gtest/gtest.h>

#include <fstream>

#include "core/errors.h"
#include "form/selection.h"
#include "tests/support/form_fixture.h"

namespace kordb {
namespace {

using Fixture = test::FormFixture;

TEST(FileDialog, SettingsAndCancelBehaviour) {
    Fixture f("dialog");
    f.ui.dialogChoices = {std::nullopt, FileChoice{"/data/items.xls", "items.xls"}, std::nullopt};
    f.ui.fields[4] = "typed.xls";
    CSearch_Click(f.form);  // cancelled before any pick: path and title emptied
    ASSERT_EQ(f.ui.dialogCalls.size(), 1u);
    EXPECT_EQ(f.ui.dialogCalls[0].title, "Open Excel (.xls)");
    EXPECT_EQ(f.ui.dialogCalls[0].folder, (f.dir / "bin").string());
    EXPECT_EQ(f.ui.dialogCalls[0].filter,
              "Excel Files (*.xls)|*.xls|Workbooks (*.xls *.xlsx *.xlsm *.ods)|"
              "*.xls;*.xlsx;*.xlsm;*.ods");
    EXPECT_EQ(f.ui.fields[4], "");
    EXPECT_EQ(f.form.st.WorkbookTitle, "");

    CSearch_Click(f.form);
    EXPECT_EQ(f.ui.fields[4], "/data/items.xls");
    EXPECT_EQ(f.form.st.WorkbookTitle, "items.xls");

    f.ui.fields[4] = "other.xls";
    CSearch_Click(f.form);  // cancelled later: the last chosen file again
    EXPECT_EQ(f.ui.fields[4], "/data/items.xls");
    EXPECT_EQ(f.form.st.WorkbookTitle, "items.xls");
}

TEST(SheetList, DropDownListsSheetsInOrderAndClearsTheSelection) {
    Fixture f("dropdown");
    auto book = test::writeWorkbook(f.dir / "b.xls", R"({"sheets":[
        {"name":"KINV_MT_ITEM","rows":[["ItemCode"]]},{"name":"KINV_MT_CLASS"},{"name":"Sheet3"}]})");
    Combo1_DropDown(f.form);  // empty path: nothing happens
    EXPECT_TRUE(f.ui.comboItems.empty());
    EXPECT_TRUE(f.ui.boxes.empty());

    f.ui.fields[4] = book.string();
    f.ui.comboItems = {"old"};
    f.ui.comboIndex = 0;
    Combo1_DropDown(f.form);
    EXPECT_EQ(f.ui.comboItems,
              (std::vector<std::string>{"KINV_MT_ITEM", "KINV_MT_CLASS", "Sheet3"}));
    EXPECT_EQ(f.ui.comboText(), "");
}

TEST(SheetList, UnreadableWorkbooksGiveAMessageAndFocusThePath) {
    Fixture f("badbook");
    std::ofstream(f.dir / "notes.xls") << "just text";
    for (auto path : {(f.dir / "missing.xls").string(), (f.dir / "notes.xls").string()}) {
        f.ui.boxes.clear();
        f.ui.focusMoves.clear();
        f.ui.fields[4] = path;
        Combo1_DropDown(f.form);
        ASSERT_EQ(f.ui.boxes.size(), 1u) << path;
        EXPECT_EQ(f.ui.boxes[0].title, "Message");
        EXPECT_EQ(f.ui.boxes[0].icon, Icon::Critical);
        EXPECT_NE(f.ui.boxes[0].text.find(path), std::string::npos) << f.ui.allBoxes();
        EXPECT_EQ(f.ui.focusMoves, (std::vector<Control>{Control::Path}));
        // The statement is composed only once the workbook is open.
        f.form.st.SheetSQL = "SELECT * FROM [Before$]";
        EXPECT_THROW(openSheet(f.form, "SELECT * FROM [After$]"), KorError) << path;
        EXPECT_EQ(f.form.st.SheetSQL, "SELECT * FROM [Before$]") << path;
    }
}

TEST(SheetPick, TableNameAndKeyColumn) {
    Fixture f("pick");
    struct Case {
        std::string sheet, table, key;
    };
    // The key column of an unknown sheet stays that of the last known one.
    for (const Case& c : {Case{"kinv_mt_class", "KINV_MT_CLASS", "ClassCode"},
                          Case{"  KINV_MT_ITEM ", "KINV_MT_ITEM", "ItemCode"},
                          Case{"KLED_MT_DEBTOR", "KLED_MT_DEBTOR", "DebtorCode"},
                          Case{"Sheet3", "SHEET3", "DebtorCode"},
                          Case{"kled_mt_creditor", "KLED_MT_CREDITOR", "CreditorCode"}}) {
        f.ui.pick(c.sheet);
        Combo1_Click(f.form);
        EXPECT_EQ(f.form.st.TableName, c.table);
        EXPECT_EQ(f.form.st.KeyColumn, c.key) << c.sheet;
    }
    Fixture fresh("pick-fresh");
    fresh.ui.pick("Sheet1");
    Combo1_Click(fresh.form);
    EXPECT_EQ(fresh.form.st.TableName, "SHEET1");
    EXPECT_EQ(fresh.form.st.KeyColumn, "");
}

}  // namespace
}  // namespace kordb
