#pragma once
// A window's worth of state for the verification tests: a recorder as the operator, a program
// folder of its own for the error files, and workbooks chosen as the operator would.

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "core/text.h"
#include "form/selection.h"
#include "settings/settings_store.h"
#include "tests/support/recorder.h"
#include "tests/support/test_env.h"
#include "verification/verification.h"

namespace kordb::test {

// The item worksheet of most tests: a JSON workbook whose one sheet has the columns ItemCode,
// ItemName, PluCode and Price, followed by rows (JSON arrays, comma-separated).
inline std::string itemBook(const std::string& rows) {
    return R"({"sheets":[{"name":"KINV_MT_ITEM","rows":[["ItemCode","ItemName","PluCode","Price"])" +
           (rows.empty() ? "" : "," + rows) + "]}]}";
}

class VerifyTest : public ::testing::Test {
  protected:
    void SetUp() override {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        dir = scratchDir(std::string(info->test_suite_name()) + "." + info->name());
        std::filesystem::create_directories(dir / "program");
        std::filesystem::create_directories(dir / "in");
        store = std::make_unique<SettingsStore>(dir / "config");
        form = std::make_unique<Form>(ui, *store, dir / "program");
        ASSERT_EQ(form->errorFolder, dir / "program");
    }

    // The workbook chosen in the file dialog, then sheet picked in the list.
    std::filesystem::path choose(const std::string& json, const std::string& sheet,
                                 const std::string& title = "book.xls") {
        auto file = writeWorkbook(dir / "in" / title, json);
        ui.fields[4] = file.string();
        form->st.WorkbookTitle = title;
        pickSheet(sheet);
        return file;
    }

    // The workbook's path typed by hand: WorkbookTitle stays empty.
    void type(const std::string& json, const std::string& sheet) {
        auto file = writeWorkbook(dir / "in" / "typed.xls", json);
        ui.fields[4] = file.string();
        form->st.WorkbookTitle.clear();
        pickSheet(sheet);
    }

    void pickSheet(const std::string& sheet) {
        ui.pick(sheet);
        Combo1_Click(*form);
    }

    // What Verify itself sets before the checks run, for tests that call one check alone.
    void prepareCheck() { form->st.SheetName = trimUpper(ui.comboText()); }

    std::filesystem::path errorFile(const std::string& suffix) const {
        return form->errorFolder / (form->st.WorkbookTitle + suffix);
    }
    bool hasFile(const std::string& suffix) const {
        return std::filesystem::exists(errorFile(suffix));
    }
    // The lines of an error file; each must end in CR LF and hold no other line break.
    std::vector<std::string> lines(const std::string& suffix) const {
        std::vector<std::string> out;
        std::string all = readFile(errorFile(suffix));
        size_t start = 0;
        while (start < all.size()) {
            size_t end = all.find("\r\n", start);
            if (end == std::string::npos) {
                ADD_FAILURE() << suffix << ": last line not ended by CR LF";
                end = all.size();
            }
            std::string line = all.substr(start, end - start);
            EXPECT_EQ(line.find_first_of("\r\n"), std::string::npos)
                << suffix << ": stray line break in " << line;
            out.push_back(line);
            start = end + 2;
        }
        return out;
    }

    std::vector<Box> criticalBoxes() const {
        std::vector<Box> out;
        for (const Box& b : ui.boxes)
            if (b.icon == Icon::Critical) out.push_back(b);
        return out;
    }

    std::filesystem::path dir;
    Recorder ui;
    std::unique_ptr<SettingsStore> store;
    std::unique_ptr<Form> form;
};

}  // namespace kordb::test
