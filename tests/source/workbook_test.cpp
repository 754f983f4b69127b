// Reading workbooks: sheet names, header names, cell types and the mixed-column rule.

#include <gtest/gtest.h>

#include "app/errors.h"
#include "source/workbook.h"
#include "tests/support/test_env.h"

namespace kordb {
namespace {

using test::scratchDir;
using test::writeWorkbook;

TEST(Workbook, SheetNamesInWorkbookOrder) {
    auto dir = scratchDir("names");
    auto file = writeWorkbook(dir / "b.xls", R"({"sheets":[
        {"name":"KINV_MT_ITEM","rows":[["ItemCode"]]},
        {"name":"KINV_MT_CLASS","rows":[["ClassCode"]]},
        {"name":"Sheet3"}]})");
    EXPECT_EQ(readSheetNames(file.string()),
              (std::vector<std::string>{"KINV_MT_ITEM", "KINV_MT_CLASS", "Sheet3"}));
}
}  // namespace
}  // namespace kordb
