// The .xls reader: workbooks written by xlwt, and hand-built BIFF8 records for what xlwt does
// not write (formula results, split strings, rich and phonetic text, dates, refusals, damage).

#include <gsf/gsf-outfile-msole.h>
#include <gsf/gsf-outfile.h>
#include <gsf/gsf-output-memory.h>
#include <gsf/gsf-utils.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <random>

#include "source/cells.h"

namespace kordb {
namespace {

using Type = Cell::Type;

// ---- building BIFF8 by hand ----

std::string le16(uint32_t v) {
    return {char(v), char(v >> 8)};
}
std::string le32(uint32_t v) {
    return le16(v) + le16(v >> 16);
}
std::string le64(double d) {
    uint64_t b;
    std::memcpy(&b, &d, 8);
    return le32(uint32_t(b)) + le32(uint32_t(b >> 32));
}
std::string rec(uint16_t type, const std::string& data) {
    return le16(type) + le16(uint32_t(data.size())) + data;
}
std::string at(uint32_t row, uint32_t col, uint32_t xf = 0) {
    return le16(row) + le16(col) + le16(xf);
}
// XLUnicodeString, compressed: the text is taken as Latin-1 bytes.
std::string narrow(const std::string& latin1) {
    return le16(uint32_t(latin1.size())) + '\0' + latin1;
}
std::string units(const std::u16string& s) {
    std::string out;
    for (char16_t u : s) out += le16(u);
    return out;
}
std::string wide(const std::u16string& s) {
    return le16(uint32_t(s.size())) + '\1' + units(s);
}

std::string bof(uint16_t kind, uint16_t version = 0x0600) {
    return rec(0x0809, le16(version) + le16(kind) + std::string(12, '\0'));
}
const std::string kEofRec = rec(0x000A, "");
std::string xf(uint16_t format) {
    return rec(0x00E0, le16(0) + le16(format) + std::string(16, 0));
}
std::string number(uint32_t r, uint32_t c, double v, uint32_t xfIndex = 0) {
    return rec(0x0203, at(r, c, xfIndex) + le64(v));
}
std::string formula(uint32_t r, uint32_t c, const std::string& value8) {
    return rec(0x0006, at(r, c) + value8 + le16(0) + le32(0) + le16(0));
}
std::string special(uint8_t kind, uint8_t v) {
    return std::string{char(kind), 0, char(v), 0, 0, 0, char(0xFF), char(0xFF)};
}

struct Sheet {
    std::string name;
    std::string cells;  // records between the sheet's BOF and EOF
    uint8_t kind = 0;
};

// A Workbook stream: globals (BOF, `globals`, one BOUNDSHEET per sheet, EOF), then each sheet.
std::string stream(const std::string& globals, const std::vector<Sheet>& sheets) {
    size_t size = bof(5).size() + globals.size() + kEofRec.size();
    for (const auto& s : sheets) size += 4 + 8 + s.name.size();
    std::string out = bof(5) + globals, subs;
    for (const auto& s : sheets) {
        out += rec(0x0085, le32(uint32_t(size + subs.size())) + '\0' + char(s.kind) +
                               char(s.name.size()) + '\0' + s.name);
        subs += bof(s.kind == 2 ? 0x20 : 0x10) + s.cells + kEofRec;
    }
    return out + kEofRec + subs;
}
std::string sheetStream(const std::string& cells, const std::string& globals = "") {
    return stream(globals, {{"S", cells}});
}

void gsfOnce() {
    static bool done = (gsf_init(), true);
    (void)done;
}

// A compound file holding these streams, written by libgsf's own writer.
std::string compound(const std::vector<std::pair<std::string, std::string>>& streams) {
    gsfOnce();
    GsfOutput* mem = gsf_output_memory_new();
    GsfOutfile* ole = gsf_outfile_msole_new(mem);
    for (const auto& [name, data] : streams) {
        GsfOutput* child = gsf_outfile_new_child(ole, name.c_str(), FALSE);
        gsf_output_write(child, data.size(), reinterpret_cast<const guint8*>(data.data()));
        gsf_output_close(child);
        g_object_unref(child);
    }
    gsf_output_close(GSF_OUTPUT(ole));
    g_object_unref(ole);
    auto bytes = gsf_output_memory_get_bytes(GSF_OUTPUT_MEMORY(mem));
    std::string out(reinterpret_cast<const char*>(bytes), size_t(gsf_output_size(mem)));
    g_object_unref(mem);
    return out;
}
std::string xls(const std::string& workbookStream) {
    return compound({{"Workbook", workbookStream}});
}

// The workbook tests/source/xls_cases.py writes.
const std::string& xlwtBook() {
    static const std::string bytes = [] {
        namespace fs = std::filesystem;
        const char* env = std::getenv("KORDB_SOURCE_DIR");
        fs::path root = env ? fs::path(env) : fs::path(__FILE__).parent_path() / "../..";
        std::string cmd =
            "/usr/bin/python3 '" + (root / "tests/source/xls_cases.py").string() + "'";
        FILE* p = popen(cmd.c_str(), "r");
        std::string out;
        char buf[65536];
        for (size_t n; p && (n = fread(buf, 1, sizeof buf, p)) > 0;) out.append(buf, n);
        if (!p || pclose(p) != 0 || out.empty()) throw std::runtime_error("failed: " + cmd);
        return out;
    }();
    return bytes;
}

SheetCells readSheet(const std::string& bytes, size_t index = 0) {
    auto book = openXlsReader(bytes);
    SheetCells out;
    book->readSheet(index, out);
    return out;
}

// The reader's message for bytes, or "" when every sheet reads.
std::string failure(const std::string& bytes) {
    try {
        auto book = openXlsReader(bytes);
        for (size_t i = 0; i < book->sheetNames().size(); ++i) {
            SheetCells out;
            book->readSheet(i, out);
        }
    } catch (const ReadError& e) {
        return e.what();
    }
    return "";
}

// ---- expected cells ----

struct Want {
    uint32_t row, col;
    Type type;
    double number = 0;
    std::string text;
    uint8_t error = 0;
};
Want num(uint32_t r, uint32_t c, double v) {
    return {r, c, Type::Number, v, ""};
}
Want date(uint32_t r, uint32_t c, double v) {
    return {r, c, Type::Date, v, ""};
}
Want txt(uint32_t r, uint32_t c, std::string s) {
    return {r, c, Type::Text, 0, std::move(s)};
}
Want boolean(uint32_t r, uint32_t c, bool v) {
    return {r, c, Type::Boolean, v ? 1.0 : 0.0, ""};
}
Want err(uint32_t r, uint32_t c, uint8_t code) {
    return {r, c, Type::Error, 0, "", code};
}

void expectCells(const SheetCells& s, const std::vector<Want>& want, bool exact = true) {
    for (const auto& w : want) {
        SCOPED_TRACE("cell at row " + std::to_string(w.row) + ", column " + std::to_string(w.col));
        const Cell* c = s.at(w.row, w.col);
        ASSERT_NE(c, nullptr);
        EXPECT_EQ(int(c->type), int(w.type));
        if (w.type == Type::Text) {
            EXPECT_EQ(s.string(c->text), w.text);
        } else if (w.type == Type::Error) {
            EXPECT_EQ(c->error, w.error);
        } else {
            EXPECT_EQ(c->number, w.number);
        }
    }
    if (exact) {
        EXPECT_EQ(s.cellCount(), want.size());
    }
}

// ---- workbooks written by xlwt ----

TEST(XlsReader, XlwtSheetNamesIncludingHidden) {
    auto book = openXlsReader(xlwtBook());
    EXPECT_EQ(book->sheetNames(),
              (std::vector<std::string>{"Kinds", "Versteckt ü", "Данные", "Empty"}));
    SheetCells empty;
    book->readSheet(3, empty);
    EXPECT_EQ(empty.cellCount(), 0u);
    EXPECT_EQ(empty.rowCount(), 0u);
    EXPECT_FALSE(empty.date1904);
}

TEST(XlsReader, XlwtCellKinds) {
    SheetCells s = readSheet(xlwtBook(), 0);
    const double day = 45322;  // 2024-01-31
    std::vector<Want> want = {
        txt(0, 0, "plain"), txt(0, 1, "café"), txt(0, 2, "日本語"), txt(0, 3, "😀 emoji"),
        txt(0, 4, ""), txt(0, 5, "boldnormal"), num(1, 0, 1), num(1, 1, -7), num(1, 2, 2.5),
        num(1, 3, 0.1), num(1, 4, 1e300), num(1, 5, 123456.789), num(1, 6, -536870912),
        num(1, 7, 536870912), boolean(2, 0, true), boolean(2, 1, false), err(2, 2, 0x07),
        err(2, 3, 0x2A), num(2, 5, 9),
        // YYYY-MM-DD, M/D/YY (14), h:mm (20), [h]:mm:ss (46); 0.00, "Day" 0, General, @
        date(3, 0, day), date(3, 1, day), date(3, 2, day), date(3, 3, day), num(3, 4, day),
        num(3, 5, day), num(3, 6, day), num(3, 7, day), txt(4, 0, std::string(32766, 'x') + "Ω"),
        txt(4, 1, std::string(32767, 'y'))};
    for (int c = 0; c < 10; ++c) want.push_back(num(5, c, c * 3));
    expectCells(s, want);
    EXPECT_EQ(s.rowCount(), 6u);
    EXPECT_EQ(s.columnCount(), 10u);
    // Only this sheet's texts are interned, not the whole shared table.
    uint32_t top = 0;
    for (uint32_t r = 0; r < s.rowCount(); ++r)
        for (const Cell& c : s.row(r))
            if (c.type == Type::Text) top = std::max(top, c.text);
    EXPECT_LT(top, 10u);
}

TEST(XlsReader, XlwtStringTableOverManyRecords) {
    auto book = openXlsReader(xlwtBook());
    SheetCells s;
    book->readSheet(2, s);
    ASSERT_EQ(s.rowCount(), 3000u);
    for (uint32_t r = 0; r < 3000; r += 7) {
        std::string want =
            r % 2 ? "Zeile " + std::to_string(r) + " – ü" : "row " + std::to_string(r);
        expectCells(s, {txt(r, 0, want), num(r, 1, r)}, false);
    }
    SheetCells hidden;  // a sheet read after another one starts afresh
    book->readSheet(1, hidden);
    EXPECT_EQ(hidden.cellCount(), 0u);
}

// ---- hand-built records ----

TEST(XlsReader, CellRecordsAndFormulaResults) {
    const std::string cells =
        number(0, 0, 1.5) + rec(0x027E, at(0, 1) + le32(uint32_t(-3 << 2) | 2)) +
        rec(0x027E, at(0, 2) + le32(1234 << 2 | 3)) + rec(0x027E, at(0, 3) + le32(0x40040000)) +
        rec(0x027E, at(0, 4) + le32(0x40040001)) +
        // MULRK: columns 2 to 4
        rec(0x00BD, le16(1) + le16(2) + le16(0) + le32(1 << 2 | 2) + le16(0) + le32(2 << 2 | 2) +
                        le16(0) + le32(3 << 2 | 2) + le16(4)) +
        rec(0x0201, at(2, 0)) + rec(0x00BE, le16(2) + le16(1) + std::string(6, 0) + le16(3)) +
        rec(0x0205, at(3, 0) + std::string("\1\0", 2)) + rec(0x0205, at(3, 1) + std::string(2, 0)) +
        rec(0x0205, at(3, 2) + "\x17\1") +
        rec(0x0204, at(4, 0) + narrow("Gr\xfc\xdf"
                                      "e")) +
        rec(0x0204, at(4, 1) + wide(u"Ω😀")) +
        rec(0x00D6, at(4, 2) + narrow("rich") + le16(1) + le32(0)) + formula(5, 0, le64(42)) +
        formula(5, 1, special(1, 1)) + formula(5, 2, special(2, 0x2A)) +
        formula(5, 3, special(3, 0)) +
        // The text result split into a CONTINUE that switches to 16-bit characters.
        formula(5, 4, special(0, 0)) + rec(0x0207, le16(6) + '\0' + "abc") +
        rec(0x003C, '\1' + units(u"дег")) +
        // A shared formula record may come between the formula and its text.
        formula(5, 5, special(0, 0)) + rec(0x04BC, std::string(10, 0)) + rec(0x0207, narrow("x")) +
        formula(5, 6, special(0, 0)) + rec(0x0207, le16(0)) +
        // An embedded chart's records are not cells of the sheet.
        bof(0x20) + number(6, 0, 99) + kEofRec + number(6, 1, 7) +
        // A row of formulas in the records of Excel 3 and 4, as converters leave them.
        rec(0x0406, at(7, 0) + le64(5) + le16(0) + le16(0)) +
        rec(0x0206, at(7, 1) + special(1, 1) + le16(0) + le16(0)) +
        rec(0x0406, at(7, 2) + special(0, 0) + le16(0) + le16(0)) + rec(0x0207, narrow("old"));
    SheetCells s = readSheet(xls(sheetStream(cells)));
    expectCells(
        s, {num(0, 0, 1.5),      num(0, 1, -3),        num(0, 2, 12.34),    num(0, 3, 2.5),
            num(0, 4, 0.025),    num(1, 2, 1),         num(1, 3, 2),        num(1, 4, 3),
            boolean(3, 0, true), boolean(3, 1, false), err(3, 2, 0x17),     txt(4, 0, "Grüße"),
            txt(4, 1, "Ω😀"),     txt(4, 2, "rich"),    num(5, 0, 42),       boolean(5, 1, true),
            err(5, 2, 0x2A),     txt(5, 3, ""),        txt(5, 4, "abcдег"), txt(5, 5, "x"),
            txt(5, 6, ""),       num(6, 1, 7),         num(7, 0, 5),        boolean(7, 1, true),
            txt(7, 2, "old")});
}

TEST(XlsReader, SharedStringsSplitAcrossContinue) {
    // 32,767 characters, continued every 8,000 with the flag byte switching width each time.
    std::string longText;
    for (int i = 0; i < 32767; ++i) longText += char('a' + i % 26);
    std::vector<std::string> longPieces;
    for (size_t i = 0; i < longText.size(); i += 8000) {
        std::string part = longText.substr(i, 8000);
        longPieces.push_back(i / 8000 % 2 ? '\1' + units(std::u16string(part.begin(), part.end()))
                                          : '\0' + part);
    }
    longPieces[0].erase(0, 1);  // the first piece's flags are in the string header
    std::vector<std::string> pieces = {
        le32(7) + le32(7) + le16(0) + '\0' +  // ""
            le16(10) + '\0' + "Hello",        // continued in 16-bit characters
        '\1' + units(u"Wörld") +              //
            le16(3) + '\x0C' + le16(2) + le32(10) + "abc" + std::string(5, 'R'),  // runs split
        std::string(3, 'R') + std::string(10, 'P') +  // rest of the runs, phonetic block
            le16(2) + '\1' + units(u"\xD83D"),        // a surrogate pair split
        '\1' + units(u"\xDE00") + le16(2) + '\0',     // header ends where the record ends
        std::string("\0ok", 3) + le16(32767) + '\0' + longPieces[0]};
    for (size_t i = 1; i < longPieces.size(); ++i) pieces.push_back(longPieces[i]);
    pieces.back() += narrow("last");
    std::string sst = rec(0x00FC, pieces[0]);
    for (size_t i = 1; i < pieces.size(); ++i) sst += rec(0x003C, pieces[i]);

    std::string cells;
    for (uint32_t i = 0; i < 7; ++i) cells += rec(0x00FD, at(i, 0) + le32(i));
    cells += rec(0x00FD, at(0, 1) + le32(6));  // the same text again
    SheetCells s = readSheet(xls(sheetStream(cells, sst)));
    expectCells(s, {txt(0, 0, ""), txt(1, 0, "HelloWörld"), txt(2, 0, "abc"), txt(3, 0, "😀"),
                    txt(4, 0, "ok"), txt(5, 0, longText), txt(6, 0, "last"), txt(0, 1, "last")});
    EXPECT_EQ(s.at(0, 1)->text, s.at(6, 0)->text);
}

TEST(XlsReader, WhichFormatsAreDates) {
    struct Case {
        uint16_t id;
        const char* code;  // null: a built-in format without a FORMAT record
        bool date;
        bool time = false;  // shows a time of day and no date
        uint16_t cut = 0;   // characters the record's count claims beyond those it holds
    };
    const Case cases[] = {{14, nullptr, true},
                          {22, nullptr, true},
                          {27, nullptr, true},
                          {36, nullptr, true},
                          {45, nullptr, true, true},
                          {47, nullptr, true, true},
                          {50, nullptr, true},
                          {58, nullptr, true},
                          {18, nullptr, true, true},
                          {21, nullptr, true, true},
                          {0, nullptr, false},
                          {2, nullptr, false},
                          {13, nullptr, false},
                          {23, nullptr, false},
                          {26, nullptr, false},
                          {37, nullptr, false},
                          {44, nullptr, false},
                          {49, nullptr, false},
                          {59, nullptr, false},
                          {164, "yyyy-mm-dd", true},
                          {165, "DD.MM.YYYY", true},
                          {166, "[h]:mm", true, true},
                          {167, "[MM]", true, true},
                          {168, "[ss].00", true, true},
                          {169, "[$-409]h:mm AM/PM", true, true},
                          {170, "mm:ss", true, true},
                          {183, "yyyy-mm-dd hh:mm:ss.000", true},
                          {184, "mmm", true},
                          {185, "yyyy-mm-dd", true, false, 40},
                          {171, "\"d\"0", false},
                          {172, "[Red]0.00", false},
                          {173, "0\\d", false},
                          {174, "_d0", false},
                          {175, "*d0", false},
                          {176, "#,##0 \"days\"", false},
                          {177, "General", false},
                          {178, "@", false},
                          {179, "[$\x80-2] #,##0", false},
                          {180, "[>=100]0;0", false},
                          {181, "0.00E+00", false},
                          {182, "\"yes\";\"yes\";\"no\"", false}};
    std::string globals, cells;
    uint32_t i = 0;
    for (const auto& c : cases) {
        if (c.code) {
            std::string code = narrow(c.code);
            code.replace(0, 2, le16(uint32_t(strlen(c.code) + c.cut)));
            globals += rec(0x041E, le16(c.id) + code);
        }
        globals += xf(c.id);
        cells += number(i, 0, 100, i);
        ++i;
    }
    SheetCells s = readSheet(xls(sheetStream(cells, globals)));
    i = 0;
    for (const auto& c : cases) {
        const Cell* cell = s.at(i++, 0);
        ASSERT_NE(cell, nullptr);
        EXPECT_EQ(cell->type, c.date ? Type::Date : Type::Number)
            << "format " << c.id << " " << (c.code ? c.code : "(built in)");
        if (c.date) {
            EXPECT_EQ(cell->error, c.time ? kSerialTime : kSerialDate)
                << "format " << c.id << " " << (c.code ? c.code : "(built in)");
        }
    }
}

TEST(XlsReader, ChartSheetsAndModulesHoldNoCells) {
    auto book = openXlsReader(xls(
        stream("", {{"Data", number(0, 0, 1)}, {"Chart", number(0, 0, 2), 2}, {"Code", "", 6}})));
    EXPECT_EQ(book->sheetNames(), (std::vector<std::string>{"Data", "Chart", "Code"}));
    for (size_t i = 0; i < 3; ++i) {
        SheetCells s;
        book->readSheet(i, s);
        EXPECT_EQ(s.cellCount(), i == 0 ? 1u : 0u) << i;
    }
}

TEST(XlsReader, DateSystem) {
    const std::string cells = number(0, 0, 1, 0);
    SheetCells s1904 = readSheet(xls(sheetStream(cells, xf(14) + rec(0x0022, le16(1)))));
    EXPECT_TRUE(s1904.date1904);
    expectCells(s1904, {date(0, 0, 1)});
    EXPECT_FALSE(readSheet(xls(sheetStream(cells, rec(0x0022, le16(0))))).date1904);
}

TEST(XlsReader, RefusesWhatItCannotRead) {
    const std::string older =
        "it is an Excel 5.0/95 or older workbook: save it as Excel 97-2003 (.xls) or .xlsx";
    const std::string locked = "it is protected with a password";
    const std::string good = sheetStream(number(0, 0, 1));
    std::string biff5 = good;
    biff5[4] = 0x00, biff5[5] = 0x05;
    struct Case {
        const char* what;
        std::string bytes, message;
    } cases[] = {
        {"Excel 5.0", compound({{"Book", bof(5, 0x0500) + kEofRec}}), older},
        {"BIFF5 in a Workbook stream", xls(biff5), older},
        {"encrypted package",
         compound({{"EncryptionInfo", "x"}, {"EncryptedPackage", std::string(600, 'x')}}), locked},
        {"password", xls(stream(rec(0x002F, std::string(54, 0)) + xf(0), {{"S", ""}})), locked},
        {"Word", compound({{"WordDocument", std::string(600, 'w')}}),
         "it is not a workbook: it looks like another Office document (such as a Word or "
         "PowerPoint file)"},
        {"no compound file", std::string(4096, 'z'),
         "it is damaged: its compound file structure is broken"},
        {"case of the stream name", compound({{"WORKBOOK", good}}), ""},
        // The header tells the version, not the stream's name.
        {"BIFF8 in a BOOK stream", compound({{"BOOK", good}}), ""},
        {"BIFF8 in a Book stream", compound({{"Book", good}}), ""},
        {"cells of Excel 2.x in a BIFF8 sheet",
         xls(sheetStream(number(0, 0, 1) + rec(0x0003, at(1, 0) + '\0' + le64(2)))),
         "it holds cells in records of Excel 2.x (record 0x0003 at offset 75 of the Workbook "
         "stream), which an Excel 97-2003 sheet does not have: save it again as Excel 97-2003 "
         "(.xls) or .xlsx"},
    };
    for (const auto& c : cases) EXPECT_EQ(failure(c.bytes), c.message) << c.what;
}

TEST(XlsReader, LiesInTheFileAreDamage) {
    const std::string sst = rec(0x00FC, le32(2) + le32(2) + narrow("a") + narrow("b"));
    const std::string good = sheetStream(number(0, 0, 1));
    struct Case {
        const char* what;
        std::string stream, message;  // message: a part of it, "" when the file reads
    } cases[] = {
        {"text number beyond the table", sheetStream(rec(0x00FD, at(0, 0) + le32(5)), sst),
         "it is damaged: a cell refers to text number 6 but the string table holds 2 "
         "(record at offset "},
        {"string count of 2^31",
         sheetStream(rec(0x00FD, at(0, 0) + le32(1)),
                     rec(0x00FC, le32(1u << 31) + le32(1u << 31) + narrow("a") + narrow("b"))),
         ""},
        {"string longer than the table",
         sheetStream(rec(0x00FD, at(0, 0) + le32(0)),
                     rec(0x00FC, le32(1) + le32(1) + le16(40000) + '\1' + "abcd")),
         "it is damaged: the string table ends inside a string (record at offset "},
        {"phonetic block longer than the table",
         sheetStream(rec(0x00FD, at(0, 0) + le32(0)),
                     rec(0x00FC, le32(1) + le32(1) + le16(1) + '\4' + le32(0xFFFFFFFF) + "a")),
         "the string table ends inside a string"},
        {"MULRK of the wrong length",
         sheetStream(rec(0x00BD, le16(0) + le16(0) + le16(0) + le32(2) + le16(5))),
         "it is damaged: a row of numbers does not match its length (record at offset "},
        {"short NUMBER", sheetStream(rec(0x0203, at(0, 0))), "a cell record is too short"},
        {"long LABEL", sheetStream(rec(0x0204, at(0, 0) + le16(9) + '\0' + "abc")),
         "a text cell runs past the end of its record"},
        {"long formula text",
         sheetStream(formula(0, 0, special(0, 0)) + rec(0x0207, le16(9) + '\1' + "ab") +
                     rec(0x003C, "\1cd")),
         "a formula's text ends before its length"},
        {"column beyond the last", sheetStream(number(0, 20000, 1)),
         "a cell lies beyond the last row or column"},
        {"sheet name too long",
         rec(0x0809, good.substr(4, 16)) +
             rec(0x0085, le32(0) + std::string(2, 0) + std::string("\x09\0ab", 4)) + kEofRec,
         "a sheet name runs past the end of its record"},
        {"sheet beyond the stream", stream("", {{"S", ""}}).substr(0, 37),
         "it is damaged: the sheet 'S' is not where the workbook says (offset "},
        {"no end of the sheet", good.substr(0, good.size() - 4),
         "it is damaged: the Workbook stream ends inside the sheet 'S'"},
        {"record past the end", good.substr(0, good.size() - 8),
         "it is damaged: a record runs past the end of the Workbook stream (record at offset "},
        {"no end of the globals", good.substr(0, 20),
         "it is damaged: the Workbook stream ends before the list of its sheets"},
        {"no header", number(0, 0, 1), "does not start with a workbook header"},
        {"no sheets", bof(5) + kEofRec, "it is damaged: it lists no sheets"},
    };
    for (const auto& c : cases) {
        std::string got = failure(xls(c.stream));
        if (c.message.empty())
            EXPECT_EQ(got, "") << c.what;
        else
            EXPECT_NE(got.find(c.message), std::string::npos) << c.what << ": " << got;
    }
}

// Damaged copies of valid files: a ReadError or a result, never a crash, hang or runaway
// allocation (run under the sanitizers to see the reads out of bounds).
TEST(XlsReader, SurvivesTruncationAndByteFlips) {
    std::mt19937 rng(20240131);
    auto mutate = [&](std::string s) {
        int flips = 1 + int(rng() % 8);
        for (int i = 0; i < flips; ++i) s[rng() % s.size()] = char(rng());
        return s;
    };
    auto survive = [](const std::string& bytes) {
        try {
            failure(bytes);
        } catch (const std::exception& e) {
            ADD_FAILURE() << "not a ReadError: " << e.what();
        }
    };
    // The record stream itself, rewrapped so that every change reaches the parser.
    std::string cells;
    for (uint32_t r = 0; r < 40; ++r)
        cells += rec(0x00FD, at(r, 0) + le32(r % 3)) + number(r, 1, r, 1) +
                 formula(r, 2, special(0, 0)) + rec(0x0207, le16(4) + '\0' + "ab") +
                 rec(0x003C, "\1" + units(u"cd"));
    const std::string biff =
        sheetStream(cells, rec(0x041E, le16(164) + narrow("[h]:mm")) + xf(0) + xf(164) +
                               rec(0x00FC, le32(3) + le32(3) + narrow("x") + le16(5) + '\x0C' +
                                               le16(1) + le32(2) + "ab") +
                               rec(0x003C, "\1" + units(u"cde") + "rrrrpp" + narrow("z")));
    ASSERT_EQ(failure(xls(biff)), "");
    for (size_t n = 0; n < biff.size(); n += 7) survive(xls(biff.substr(0, n)));
    for (int i = 0; i < 1500; ++i) survive(xls(mutate(biff)));
    // The whole file, container included.
    const std::string& file = xlwtBook();
    for (size_t n = 0; n < file.size(); n += file.size() / 40) survive(file.substr(0, n));
    for (int i = 0; i < 150; ++i) survive(mutate(file));
}

}  // namespace
}  // namespace kordb
