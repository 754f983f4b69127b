// Reading workbooks: sheet names, header names, cell types, the mixed-column rule and faults.

#include <gtest/gtest.h>

#include <zip.h>

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include <chrono>
#include <fstream>

#include "core/errors.h"
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
    Workbook book(file.string());
    EXPECT_EQ(book.sheetCount(), 3);
    EXPECT_EQ(book.findSheet("kinv_mt_class"), 1);
    EXPECT_EQ(book.findSheet(" KINV_MT_CLASS"), -1) << "blanks count in a sheet name";
}

TEST(Workbook, HeaderNamesFillGapsAndRepeatsDeterministically) {
    auto dir = scratchDir("headers");
    auto file = writeWorkbook(dir / "h.xls", R"({"sheets":[{"name":"S","rows":[
        ["Code", null, "Name", "code", 2024, "Name"],
        ["a", "b", "c", "d", "e", "f"]]}]})");
    Workbook book(file.string());
    const auto& sh = book.sheet(0);
    EXPECT_EQ(sh.columns,
              (std::vector<std::string>{"Code", "F2", "Name", "code1", "2024", "Name1"}));
    EXPECT_EQ(sh.dataRows, 1u);
}

// An .xlsx of one sheet whose sheetData holds rows, zipped by the test.
std::filesystem::path writeXlsx(const std::filesystem::path& file, const std::string& rows) {
    const std::string sml = "http://schemas.openxmlformats.org/spreadsheetml/2006/main";
    const std::string rel = "http://schemas.openxmlformats.org/officeDocument/2006/relationships";
    const std::pair<std::string, std::string> parts[] = {
        {"xl/workbook.xml", "<workbook xmlns=\"" + sml + "\" xmlns:r=\"" + rel +
                                "\"><sheets><sheet name=\"S\" r:id=\"r1\"/></sheets></workbook>"},
        {"xl/_rels/workbook.xml.rels",
         "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
         "<Relationship Id=\"r1\" Type=\"" +
             rel + "/worksheet\" Target=\"sheet1.xml\"/></Relationships>"},
        {"xl/sheet1.xml",
         "<worksheet xmlns=\"" + sml + "\"><sheetData>" + rows + "</sheetData></worksheet>"}};
    int error = 0;
    zip_t* z = zip_open(file.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
    for (const auto& [name, data] : parts)
        zip_file_add(z, name.c_str(), zip_source_buffer(z, data.data(), data.size(), 0), 0);
    EXPECT_EQ(zip_close(z), 0);
    return file;
}

TEST(Workbook, HeaderOfTheWidestSheetOfOneRepeatedName) {
    std::string row = "<row>";
    for (int c = 0; c < 16384; ++c) row += "<c><v>1</v></c>";
    auto file = writeXlsx(scratchDir("wide") / "w.xlsx", row + "</row>");
    Workbook book(file.string());
    auto start = std::chrono::steady_clock::now();
    const auto& columns = book.sheet(0).columns;
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    ASSERT_EQ(columns.size(), 16384u);
    EXPECT_EQ(columns[0], "1");
    for (size_t c = 1; c < columns.size(); ++c)
        ASSERT_EQ(columns[c], "1" + std::to_string(c)) << "column " << c;
}

TEST(Workbook, DateTextsAtTheEdges) {
    const struct {
        double value;
        bool date1904;
        uint8_t form;
        const char* text;
    } cases[] = {
        {0, false, kSerialDate, "1899-12-31"},
        {0, false, kSerialTime, "00:00:00"},
        {1.0 / 86400, false, kSerialDate, "00:00:01"},
        {0.5, true, kSerialTime, "12:00:00"},
        {0.5, true, kSerialDate, "1904-01-01T12:00:00"},
        {1.5, false, kSerialTime, "1900-01-01T12:00:00"},
        {60, false, kSerialDate, "1900-02-28"},
        {61, false, kSerialDate, "1900-03-01"},
        {41224.99998836806, false, kSerialDate, "2012-11-11T23:59:58.995"},
        {2958465.9999999995, false, kSerialDate, "9999-12-31T23:59:59.999"},
        {2958466, false, kSerialDate, ""},
        {2957003.5, true, kSerialDate, "9999-12-31T12:00:00"},
        {2957004, true, kSerialDate, ""},
        {-1, false, kSerialDate, ""},
        {0, false, kCalendarDate, "1899-12-30"},
        {1.5, false, kCalendarDate, "1899-12-31T12:00:00"},
        {-18260, true, kCalendarDate, "1850-01-01"},
        {-693593, false, kCalendarDate, "0001-01-01"},
        {-693594, false, kCalendarDate, ""},
        {45322.0001, false, kCalendarDate, "2024-01-31T00:00:08.64"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(serialToIso(c.value, c.date1904, c.form), c.text)
            << c.value << (c.date1904 ? " 1904" : "") << " form " << int(c.form);
}

TEST(Workbook, MixedColumnIsTextOverEveryRowNotOnlyTheFirstEight) {
    // Twenty numeric codes, then text: nothing may come back Null or as 1001.0.
    std::string rows = R"(["ItemCode","Price","Qty"])";
    for (int i = 0; i < 20; ++i)
        rows += ",[" + std::to_string(1001 + i) + ",12.5," + std::to_string(i) + "]";
    rows += R"(,["X-1",7,null])";
    auto dir = scratchDir("mixed");
    auto file = writeWorkbook(dir / "m.xls", R"({"sheets":[{"name":"S","rows":[)" + rows + "]}]}");
    Workbook book(file.string());
    EXPECT_EQ(book.sheet(0).kinds[0], Workbook::ColumnKind::Mixed);
    EXPECT_EQ(book.sheet(0).kinds[1], Workbook::ColumnKind::Number);
    Value first = book.cell(0, 0, 0);
    ASSERT_TRUE(first.isText());
    EXPECT_EQ(first.rawText(), "1001");
    Value last = book.cell(0, 20, 0);
    ASSERT_TRUE(last.isText());
    EXPECT_EQ(last.rawText(), "X-1");
    EXPECT_TRUE(book.cell(0, 3, 1).isNumber());
    EXPECT_EQ(book.cell(0, 3, 1).toText(), "12.5");
    EXPECT_TRUE(book.cell(0, 20, 2).isNull());
}

TEST(Workbook, DatesUnicodeAndEmptyCells) {
    auto dir = scratchDir("types");
    auto file = writeWorkbook(dir / "t.xls", R"({"sheets":[{"name":"S","rows":[
        ["Name","When","Stamp","Empty"],
        ["Café 日本 Ωμέγα",{"date":"2024-01-15"},{"datetime":"2024-01-15T10:30:00"},""],
        [null,null,null,null]]}]})");
    Workbook book(file.string());
    EXPECT_EQ(book.cell(0, 0, 0).rawText(), "Café 日本 Ωμέγα");
    EXPECT_TRUE(book.cell(0, 0, 1).isDate());
    EXPECT_EQ(book.cell(0, 0, 1).toText(), "2024-01-15");
    EXPECT_EQ(book.cell(0, 0, 2).toText(), "2024-01-15T10:30:00");
    EXPECT_TRUE(book.cell(0, 0, 3).isNull()) << "an empty string cell reads as Null";
    EXPECT_EQ(book.sheet(0).dataRows, 1u) << "a trailing row with nothing in it is not data";
}

TEST(Workbook, FaultsNameTheFileAndTheReason) {
    auto dir = scratchDir("faults");
    auto expectFault = [](const std::string& path, const std::string& part) {
        try {
            Workbook book(path);
            ADD_FAILURE() << "no error for " << path;
        } catch (const KorError& e) {
            EXPECT_NE(std::string(e.what()).find(path), std::string::npos) << e.what();
            EXPECT_NE(std::string(e.what()).find(part), std::string::npos) << e.what();
        }
        EXPECT_THROW(readSheetNames(path), KorError);
    };
    expectFault((dir / "missing.xls").string(), "not found");
    // The content decides, whatever the name says.
    std::ofstream(dir / "text.xls") << "ItemCode,ItemName\nA1,Cola\n";
    expectFault((dir / "text.xls").string(), "a text file (such as CSV)");
    std::ofstream(dir / "book.xlsx", std::ios::binary) << std::string("PK\x03\x04", 4) << "zipdata";
    expectFault((dir / "book.xlsx").string(), "damaged");
    std::ofstream(dir / "empty.xls", std::ios::binary);
    expectFault((dir / "empty.xls").string(), "empty file");
    std::ofstream(dir / "old.xls", std::ios::binary) << std::string("\x09\x04\x06\x00", 4);
    expectFault((dir / "old.xls").string(), "Excel 5.0/95 or older");
    expectFault(dir.string(), "folder");
#ifndef _WIN32
    ASSERT_EQ(::mkfifo((dir / "pipe.xls").c_str(), 0600), 0);
    expectFault((dir / "pipe.xls").string(), "named pipe");  // not a wait for a writer
#endif
}

TEST(WorkbookCache, ParsesOnceAndAgainWhenTheFileChanges) {
    auto dir = scratchDir("cache");
    auto file = writeWorkbook(dir / "c.xls", R"({"sheets":[{"name":"A","rows":[["x"],[1]]}]})");
    WorkbookCache cache;
    auto a = cache.get(file.string());
    EXPECT_EQ(cache.get(file.string()), a);
    writeWorkbook(file, R"({"sheets":[{"name":"B","rows":[["x"],[1],[2]]}]})");
    std::filesystem::last_write_time(
        file, std::filesystem::last_write_time(file) + std::chrono::seconds(2));
    auto b = cache.get(file.string());
    EXPECT_NE(b, a);
    EXPECT_EQ(b->sheetName(0), "B");
}

}  // namespace
}  // namespace kordb
