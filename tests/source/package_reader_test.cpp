// Reading zip packages: .xlsx written by openpyxl, hand-made parts for what openpyxl never
// writes, .ods, telling other zip files apart, and damage.

#include <gtest/gtest.h>
#include <zip.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include <malloc.h>
#include <unistd.h>

#include "core/errors.h"
#include "source/cells.h"
#include "source/workbook.h"
#include "source/worksheet.h"
#include "tests/support/test_env.h"

namespace kordb {
namespace {

namespace fs = std::filesystem;
using Parts = std::vector<std::pair<std::string, std::string>>;

std::string zipOf(const Parts& parts) {
    zip_error_t error;
    zip_error_init(&error);
    zip_source_t* buffer = zip_source_buffer_create(nullptr, 0, 0, &error);
    zip_source_keep(buffer);
    zip_t* z = zip_open_from_source(buffer, ZIP_TRUNCATE, &error);
    for (const auto& [name, data] : parts)
        zip_file_add(z, name.c_str(), zip_source_buffer(z, data.data(), data.size(), 0),
                     ZIP_FL_ENC_UTF_8);
    EXPECT_EQ(zip_close(z), 0);
    zip_source_open(buffer);
    zip_source_seek(buffer, 0, SEEK_END);
    std::string out(size_t(zip_source_tell(buffer)), '\0');
    zip_source_seek(buffer, 0, SEEK_SET);
    zip_source_read(buffer, out.data(), out.size());
    zip_source_close(buffer);
    zip_source_free(buffer);
    return out;
}

// A cell as "B2 N:1.5", a date as its text ("C3 D:2024-01-31"); texts with their control
// characters shown.
std::string dump(const SheetCells& s) {
    std::string out = s.date1904 ? "1904|" : "";
    for (uint32_t r = 0; r < s.rowCount(); ++r) {
        for (const Cell& c : s.row(r)) {
            std::string col;
            for (uint32_t n = c.col + 1; n > 0; n = (n - 1) / 26)
                col.insert(col.begin(), char('A' + (n - 1) % 26));
            char num[32];
            snprintf(num, sizeof num, "%.10g", c.number);
            out += col + std::to_string(r + 1) + " ";
            switch (c.type) {
                case Cell::Type::Number:
                    out += std::string("N:") + num;
                    break;
                case Cell::Type::Date:
                    out += "D:" + serialToIso(c.number, s.date1904, c.error);
                    break;
                case Cell::Type::Boolean:
                    out += std::string("B:") + num;
                    break;
                case Cell::Type::Error:
                    out += "E:" + std::to_string(c.error);
                    break;
                case Cell::Type::Text:
                    out += "T:";
                    for (char ch : s.string(c.text))
                        out += ch == '\n'   ? "\\n"
                               : ch == '\r' ? "\\r"
                               : ch == '\t' ? "\\t"
                                            : std::string(1, ch);
                    break;
                case Cell::Type::Empty:
                    out += "empty?";
                    break;
            }
            out += "|";
        }
    }
    if (!out.empty() && out.back() == '|') out.pop_back();
    return out;
}

// Every sheet of a package, or "ReadError: <reason>".
std::vector<std::string> readAll(std::string bytes, std::vector<std::string>* names = nullptr) {
    try {
        auto reader = openPackageReader(std::move(bytes));
        if (names) *names = reader->sheetNames();
        std::vector<std::string> sheets;
        for (size_t i = 0; i < reader->sheetNames().size(); ++i) {
            SheetCells cells;
            reader->readSheet(i, cells);
            sheets.push_back(dump(cells));
        }
        return sheets;
    } catch (const ReadError& e) {
        return {std::string("ReadError: ") + e.what()};
    }
}

std::string readFirst(std::string bytes) {
    auto sheets = readAll(std::move(bytes));
    return sheets.empty() ? "no sheet" : sheets[0];
}

// ---- Office Open XML ----

const char* const kSml = "http://schemas.openxmlformats.org/spreadsheetml/2006/main";
const char* const kRel = "http://schemas.openxmlformats.org/officeDocument/2006/relationships";

std::string xmlPart(const std::string& body) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n" + body;
}

struct Book {
    std::vector<std::string> sheetParts;  // whole worksheet parts, sheet1.xml on
    std::string sst = {}, styles = {};    // inner XML; empty: no such part
    std::string workbookPr = {};
    std::string targetFolder = "worksheets/";  // "/xl/worksheets/" for absolute targets
};

std::string worksheet(const std::string& rows) {
    return std::string("<worksheet xmlns=\"") + kSml + "\"><sheetData>" + rows +
           "</sheetData></worksheet>";
}

Parts ooxmlParts(const Book& b) {
    std::string sheets, rels;
    Parts parts;
    for (size_t i = 0; i < b.sheetParts.size(); ++i) {
        std::string n = std::to_string(i + 1);
        sheets += "<sheet name=\"S" + n + "\" sheetId=\"" + n + "\" r:id=\"rId" + n + "\"/>";
        rels += "<Relationship Id=\"rId" + n + "\" Type=\"" + kRel + "/worksheet\" Target=\"" +
                b.targetFolder + "sheet" + n + ".xml\"/>";
        parts.push_back({"xl/worksheets/sheet" + n + ".xml", xmlPart(b.sheetParts[i])});
    }
    if (!b.sst.empty()) {
        rels += std::string("<Relationship Id=\"rIdS\" Type=\"") + kRel +
                "/sharedStrings\" Target=\"sharedStrings.xml\"/>";
        parts.push_back({"xl/sharedStrings.xml",
                         xmlPart(std::string("<sst xmlns=\"") + kSml + "\">" + b.sst + "</sst>")});
    }
    if (!b.styles.empty()) {
        rels += std::string("<Relationship Id=\"rIdT\" Type=\"") + kRel +
                "/styles\" Target=\"styles.xml\"/>";
        parts.push_back({"xl/styles.xml", xmlPart(std::string("<styleSheet xmlns=\"") + kSml +
                                                  "\">" + b.styles + "</styleSheet>")});
    }
    parts.push_back(
        {"[Content_Types].xml",
         xmlPart("<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\">"
                 "<Default Extension=\"rels\" "
                 "ContentType=\"application/vnd.openxmlformats-package.relationships+xml\"/>"
                 "<Default Extension=\"xml\" ContentType=\"application/xml\"/>"
                 "<Override PartName=\"/xl/workbook.xml\" ContentType=\"application/"
                 "vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml\"/></Types>")});
    parts.push_back(
        {"_rels/.rels",
         xmlPart(
             std::string("<Relationships "
                         "xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
                         "<Relationship Id=\"rId1\" Type=\"") +
             kRel + "/officeDocument\" Target=\"xl/workbook.xml\"/></Relationships>")});
    parts.push_back({"xl/workbook.xml",
                     xmlPart(std::string("<workbook xmlns=\"") + kSml + "\" xmlns:r=\"" + kRel +
                             "\">" + b.workbookPr + "<sheets>" + sheets + "</sheets></workbook>")});
    parts.push_back(
        {"xl/_rels/workbook.xml.rels",
         xmlPart("<Relationships "
                 "xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">" +
                 rels + "</Relationships>")});
    return parts;
}

std::string xlsx(const Book& b) {
    return zipOf(ooxmlParts(b));
}
std::string xlsx(const std::string& rows) {
    return xlsx(Book{{worksheet(rows)}});
}

struct Case {
    const char* what;
    Book book;
    const char* expected;
};

TEST(PackageReader, OoxmlCellsAsExcelStoresThem) {
    const std::string styles =
        "<numFmts><numFmt numFmtId=\"164\" formatCode=\"yyyy\\-mm\\-dd\"/>"
        "<numFmt numFmtId=\"165\" formatCode=\"0.0&quot; days&quot;\"/>"
        "<numFmt numFmtId=\"166\" formatCode=\"[h]:mm\"/>"
        "<numFmt numFmtId=\"167\" formatCode=\"[Red]0.00;[Blue]\\-0.00\"/>"
        "<numFmt numFmtId=\"168\" formatCode=\"\\d0\"/>"
        "<numFmt numFmtId=\"169\" formatCode=\"[$-409]mmm d\"/></numFmts>"
        "<cellStyleXfs><xf numFmtId=\"14\"/></cellStyleXfs><cellXfs>"
        "<xf numFmtId=\"0\"/><xf numFmtId=\"14\"/><xf numFmtId=\"164\"/><xf numFmtId=\"165\"/>"
        "<xf numFmtId=\"166\"/><xf numFmtId=\"167\"/><xf numFmtId=\"49\"/><xf numFmtId=\"22\"/>"
        "<xf numFmtId=\"168\"/><xf numFmtId=\"169\"/></cellXfs>"
        "<dxfs><dxf><numFmt numFmtId=\"170\" formatCode=\"yyyy\"/></dxf></dxfs>";
    std::string styled;
    for (int s = 0; s <= 10; ++s)
        styled += "<c r=\"" + std::string(1, char('A' + s)) + "1\" s=\"" +
                  std::to_string(s == 10 ? 99 : s) + "\"><v>45322</v></c>";
    const Case cases[] = {
        {"shared strings: runs joined, phonetic runs skipped, escapes and references decoded",
         {{worksheet("<row r=\"1\"><c r=\"A1\" t=\"s\"><v>0</v></c><c r=\"B1\" t=\"s\"><v>1</v>"
                     "</c><c r=\"C1\" t=\"s\"><v>2</v></c><c r=\"D1\" t=\"s\"><v> 3 </v></c>"
                     "<c r=\"E1\" t=\"s\"><v>4</v></c></row>")},
          "<si><t>plain</t></si><si><r><rPr><b/></rPr><t>bold</t></r><r><t xml:space="
          "\"preserve\"> tail</t></r><rPh sb=\"0\" eb=\"1\"><t>furi</t></rPh><phoneticPr "
          "fontId=\"1\"/></si><si><t>a_x000D_b_x005F_x0041_c_xD83D__xDE00_</t></si>"
          "<si><t>&lt;&amp;&gt;&#x41;&#233;&quot;</t></si><si><t><![CDATA[<raw>]]>\r\nx</t></si>"},
         "A1 T:plain|B1 T:bold tail|C1 T:a\\rb_x0041_c\xF0\x9F\x98\x80|D1 T:<&>A\xC3\xA9\"|"
         "E1 T:<raw>\\nx"},
        {"every cell type",
         {{worksheet(
             "<row r=\"1\"><c r=\"A1\" t=\"b\"><v>1</v></c><c r=\"B1\" t=\"e\"><v>#N/A</v></c>"
             "<c r=\"C1\" t=\"e\"><f>1/0</f><v>#DIV/0!</v></c><c r=\"D1\" t=\"e\"><v>#SPILL!</v>"
             "</c><c r=\"E1\" t=\"str\"><f>A1</f><v>x_x0009_y</v></c><c r=\"F1\" t=\"str\"><f>\"\""
             "</f><v/></c><c r=\"G1\" t=\"str\"><f>\"\"</f></c><c r=\"H1\" t=\"inlineStr\"><is>"
             "<r><t>in</t></r><r><t>line</t></r><rPh><t>x</t></rPh></is></c><c r=\"I1\" t=\"n\">"
             "<v> -1.5E3 </v></c><c r=\"J1\"><f>1/0</f></c><c r=\"K1\" "
             "t=\"d\"><v>2024-01-31T12:00:00"
             "</v></c><c r=\"L1\"/><c r=\"M1\" s=\"0\"><v>+7</v></c><c r=\"N1\" "
             "t=\"b\"><v>false</v>"
             "</c><c r=\"O1\" t=\"e\"><v>#REF!</v></c><c r=\"P1\" "
             "t=\"e\"><v>#NAME?</v></c></row>")}},
         "A1 B:1|B1 E:42|C1 E:7|D1 E:255|E1 T:x\\ty|F1 T:|G1 T:|H1 T:inline|I1 N:-1500|"
         "K1 D:2024-01-31T12:00:00|M1 N:7|N1 B:0|O1 E:23|P1 E:29"},
        {"cells and rows without r follow the one before",
         {{worksheet("<row><c><v>1</v></c><c><v>2</v></c><c r=\"E1\"><v>5</v></c><c><v>6</v></c>"
                     "</row><row><c t=\"inlineStr\"><is><t>r2</t></is></c></row><row r=\"5\"><c>"
                     "<v>7</v></c></row><row><c><v>8</v></c></row>")}},
         "A1 N:1|B1 N:2|E1 N:5|F1 N:6|A2 T:r2|A5 N:7|A6 N:8"},
        {"a number is a date where its cell format shows one",
         {{worksheet("<row r=\"1\">" + styled + "</row>")}, "", styles},
         "A1 N:45322|B1 D:2024-01-31|C1 D:2024-01-31|D1 N:45322|E1 D:2024-01-31|F1 N:45322|"
         "G1 N:45322|H1 D:2024-01-31|I1 N:45322|J1 D:2024-01-31|K1 N:45322"},
        {"1904 date system",
         {{worksheet("<row r=\"1\"><c r=\"A1\" t=\"d\"><v>1904-01-02</v></c></row>")},
          "",
          "",
          "<workbookPr date1904=\"true\"/>"},
         "1904|A1 D:1904-01-02"},
        {"an empty style is the default one; rows numbered 0 follow the row before",
         {{worksheet("<row r=\"2\"><c r=\"A2\" s=\"\"><v>1</v></c></row><row r=\"0\"><c><v>2</v>"
                     "</c></row><row r=\"0\"><c s=\" \"><v>3</v></c></row>")}},
         "A2 N:1|A3 N:2|A4 N:3"},
        {"dates written as text, at the edges and to the millisecond",
         {{worksheet(
             "<row>"
             "<c t=\"d\"><v>1899-12-30</v></c><c t=\"d\"><v>1899-12-31T12:00</v></c>"
             "<c t=\"d\"><v>1850-01-01</v></c><c t=\"d\"><v>9999-12-31T23:59:59.9999</v></c>"
             "<c t=\"d\"><v>2012-11-11 23:59:58.995</v></c><c t=\"d\"><v>13:45:00.5</v></c>"
             "</row>")}},
         "A1 D:1899-12-30|B1 D:1899-12-31T12:00:00|C1 D:1850-01-01|D1 D:9999-12-31T23:59:59.999|"
         "E1 D:2012-11-11T23:59:58.995|F1 D:13:45:00.5"},
        {"serials under time and date formats: day 0, midnight and fractions of a second",
         {{worksheet("<row><c s=\"1\"><v>0</v></c><c s=\"1\"><v>0.5</v></c><c s=\"2\"><v>0</v>"
                     "</c><c s=\"3\"><v>41224.99998836806</v></c><c s=\"3\"><v>43591.711859027775"
                     "</v></c><c s=\"4\"><v>0.25</v></c><c s=\"3\"><v>2958465.9999999995</v></c>"
                     "</row>")},
          "",
          "<numFmts><numFmt numFmtId=\"164\" formatCode=\"mm:ss.0\"/></numFmts><cellXfs>"
          "<xf numFmtId=\"0\"/><xf numFmtId=\"21\"/><xf numFmtId=\"14\"/><xf numFmtId=\"22\"/>"
          "<xf numFmtId=\"164\"/></cellXfs>"},
         "A1 D:00:00:00|B1 D:12:00:00|C1 D:1899-12-31|D1 D:2012-11-11T23:59:58.995|"
         "E1 D:2019-05-06T17:05:04.62|F1 D:06:00:00|G1 D:9999-12-31T23:59:59.999"},
        {"a time of day alone in a 1904 workbook",
         {{worksheet("<row><c s=\"1\"><v>0.25</v></c><c s=\"2\"><v>0.25</v></c></row>")},
          "",
          "<cellXfs><xf numFmtId=\"0\"/><xf numFmtId=\"20\"/><xf numFmtId=\"22\"/></cellXfs>",
          "<workbookPr date1904=\"1\"/>"},
         "1904|A1 D:06:00:00|B1 D:1904-01-01T06:00:00"},
        {"absolute targets, a prefixed namespace, comments and white space",
         {{std::string("<!-- made by hand -->\n<x:worksheet xmlns:x=\"") + kSml +
           "\">\n  <x:sheetData>\n    <x:row r=\"2\">\n      <x:c r=\"B2\" t=\"inlineStr\"><x:is>"
           "<x:t>p</x:t></x:is></x:c>\n    </x:row>\n  </x:sheetData>\n</x:worksheet>\n"},
          "",
          "",
          "",
          "/xl/worksheets/"},
         "B2 T:p"},
    };
    for (const Case& c : cases) EXPECT_EQ(readFirst(xlsx(c.book)), c.expected) << c.what;
}

TEST(PackageReader, OoxmlSheetsInWorkbookOrderHiddenAndChartSheetsToo) {
    Parts parts = ooxmlParts(Book{{worksheet("<row r=\"1\"><c r=\"A1\"><v>1</v></c></row>"),
                                   worksheet("<row r=\"1\"><c r=\"A1\"><v>2</v></c></row>")}});
    for (auto& [name, data] : parts) {
        if (name == "xl/workbook.xml")
            data = xmlPart(std::string("<workbook xmlns=\"") + kSml + "\" xmlns:r=\"" + kRel +
                           "\"><sheets><sheet name=\"Second &amp; last\" sheetId=\"9\" "
                           "r:id=\"rId2\"/><sheet name=\"Hidden\" state=\"hidden\" sheetId=\"1\" "
                           "r:id=\"rId1\"/><sheet name=\"Chart\" sheetId=\"3\" r:id=\"rIdC\"/>"
                           "</sheets></workbook>");
        if (name == "xl/_rels/workbook.xml.rels")
            data.insert(data.find("</Relationships>"),
                        std::string("<Relationship Id=\"rIdC\" Type=\"") + kRel +
                            "/chartsheet\" Target=\"chartsheets/sheet1.xml\"/>");
    }
    parts.push_back({"xl/chartsheets/sheet1.xml",
                     std::string("<chartsheet xmlns=\"") + kSml + "\"><sheetPr/></chartsheet>"});
    std::vector<std::string> names;
    EXPECT_EQ(readAll(zipOf(parts), &names), (std::vector<std::string>{"A1 N:2", "A1 N:1", ""}));
    EXPECT_EQ(names, (std::vector<std::string>{"Second & last", "Hidden", "Chart"}));
}

std::string writeXlsx(const std::string& json) {
    const char* src = std::getenv("KORDB_SOURCE_DIR");
    const char* tmp = std::getenv("KORDB_TEST_DIR");
    fs::path dir = fs::path(tmp ? tmp : "/tmp/kordb-tests") / "package_reader";
    fs::create_directories(dir);
    fs::path file = dir / ("book" + std::to_string(getpid()) + ".xlsx");
    std::string cmd = "/usr/bin/python3 '" +
                      (fs::path(src ? src : ".") / "tests/source/write_xlsx.py").string() + "' '" +
                      file.string() + "'";
    FILE* p = popen(cmd.c_str(), "w");
    if (!p) return {};
    fwrite(json.data(), 1, json.size(), p);
    if (pclose(p) != 0) return {};
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST(PackageReader, WorkbooksWrittenByOpenpyxl) {
    const std::string rows = R"([
        ["Code", "Price", "Flag", "Day", "Stamp", "Clock", "Pct", "Fx"],
        ["A-1", 1.5, true, {"date": "2024-01-31"}, {"datetime": "2024-01-31T12:30:00"},
         {"time": "06:00:00"}, {"number": 0.25, "format": "0.00%"}, {"formula": "=B2*2"}],
        [" lead", "x<&>\"y", false, null, -3, 1e-7, "caf\u00e9 \u2615", "line\nbreak"]])";
    for (const char* writeOnly : {"false", "true"}) {
        std::string book = writeXlsx(std::string(R"({"write_only": )") + writeOnly +
                                     R"(, "sheets": [{"name": "Items", "rows": )" + rows +
                                     R"(}, {"name": "Hid", "state": "hidden", "rows": [["h"]]},
                                        {"name": "Empty"}]})");
        ASSERT_FALSE(book.empty()) << "openpyxl (python3-openpyxl) did not write the workbook";
        std::vector<std::string> names;
        auto sheets = readAll(book, &names);
        EXPECT_EQ(names, (std::vector<std::string>{"Items", "Hid", "Empty"}));
        ASSERT_EQ(sheets.size(), 3u) << sheets[0];
        EXPECT_EQ(sheets[0],
                  "A1 T:Code|B1 T:Price|C1 T:Flag|D1 T:Day|E1 T:Stamp|F1 T:Clock|G1 T:Pct|H1 T:Fx|"
                  "A2 T:A-1|B2 N:1.5|C2 B:1|D2 D:2024-01-31|E2 D:2024-01-31T12:30:00|F2 D:06:00:00|"
                  "G2 N:0.25|"
                  "A3 T: lead|B3 T:x<&>\"y|C3 B:0|E3 N:-3|F3 N:1e-07|G3 T:caf\xC3\xA9 \xE2\x98\x95|"
                  "H3 T:line\\nbreak")
            << "write_only " << writeOnly;
        EXPECT_EQ(sheets[1], "A1 T:h");
        EXPECT_EQ(sheets[2], "");
    }
    std::string mac = writeXlsx(
        R"({"date1904": true, "sheets": [{"name": "S", "rows": [[{"date": "1904-01-02"}]]}]})");
    EXPECT_EQ(readFirst(mac), "1904|A1 D:1904-01-02");
}

// ---- OpenDocument ----

std::string content(const std::string& body, const char* kind = "spreadsheet") {
    return xmlPart(
        std::string("<office:document-content "
                    "xmlns:office=\"urn:oasis:names:tc:opendocument:xmlns:office:1.0\" "
                    "xmlns:table=\"urn:oasis:names:tc:opendocument:xmlns:table:1.0\" "
                    "xmlns:text=\"urn:oasis:names:tc:opendocument:xmlns:text:1.0\" "
                    "xmlns:dc=\"http://purl.org/dc/elements/1.1/\" "
                    "xmlns:xlink=\"http://www.w3.org/1999/xlink\" "
                    "xmlns:calcext=\"urn:org:documentfoundation:names:experimental:calc:xmlns:"
                    "calcext:1.0\" office:version=\"1.3\"><office:scripts><office:script/>"
                    "</office:scripts><office:body><office:") +
        kind + ">" + body + "</office:" + kind + "></office:body></office:document-content>");
}

std::string ods(const std::string& tables) {
    return zipOf({{"mimetype", "application/vnd.oasis.opendocument.spreadsheet"},
                  {"content.xml", content(tables)},
                  {"META-INF/manifest.xml", "<manifest/>"}});
}

std::string table(const std::string& rows, const char* name = "T") {
    return std::string("<table:table table:name=\"") + name + "\"><table:table-column/>" + rows +
           "</table:table>";
}

std::string cell(const std::string& attrs, const std::string& inner = "") {
    return "<table:table-cell " + attrs + ">" + inner + "</table:table-cell>";
}

TEST(PackageReader, OdsCellsAsLibreOfficeWritesThem) {
    const struct {
        const char* what;
        std::string rows;
        const char* expected;
    } cases[] = {
        {"text: spaces, tabs, line breaks, paragraphs, spans and links; comments left out",
         "<table:table-row>" +
             cell("office:value-type=\"string\"",
                  "<text:p>a<text:s text:c=\"3\"/>b<text:tab/>c<text:line-break/>d</text:p>"
                  "<text:p>two <text:span>span</text:span><text:s/><text:a xlink:href=\"x\">"
                  "link</text:a> &amp;</text:p>") +
             cell("office:value-type=\"string\"",
                  "<office:annotation><dc:date>2024</dc:date><text:p>comment</text:p>"
                  "</office:annotation><text:p>noted</text:p>") +
             cell("", "<text:p>no type</text:p>") + cell("", "<text:p/>") +
             cell("table:formula=\"of:=1\" office:value-type=\"string\" office:string-value=\"ab\"",
                  "<text:p>shown</text:p>") +
             cell("office:value-type=\"string\"", "<text:p/>") + "</table:table-row>",
         "A1 T:a   b\\tc\\nd\\ntwo span link &|B1 T:noted|C1 T:no type|E1 T:ab|F1 T:"},
        {"values by type",
         "<table:table-row>" + cell("office:value-type=\"float\" office:value=\"-1.5\"") +
             cell("office:value-type=\"percentage\" office:value=\"0.25\"",
                  "<text:p>25%</text:p>") +
             cell("office:value-type=\"currency\" office:currency=\"EUR\" office:value=\"3\"") +
             cell("office:value-type=\"date\" office:date-value=\"2024-01-31\"") +
             cell("office:value-type=\"date\" office:date-value=\"2024-01-31T12:30:00.000\"") +
             cell("office:value-type=\"time\" office:time-value=\"PT36H00M00S\"") +
             cell("office:value-type=\"boolean\" office:boolean-value=\"true\"") +
             cell("office:value-type=\"boolean\" office:boolean-value=\"false\"") +
             cell("table:formula=\"of:=1/0\" office:value-type=\"string\" office:string-value=\"\" "
                  "calcext:value-type=\"error\"",
                  "<text:p>#DIV/0!</text:p>") +
             cell("table:formula=\"of:=SQRT(-1)\" office:value-type=\"string\" "
                  "office:string-value=\"\" calcext:value-type=\"error\"",
                  "<text:p>Err:502</text:p>") +
             cell("table:formula=\"of:=NA()\" office:value-type=\"string\"",
                  "<text:p>#N/A</text:p>") +
             cell("office:value-type=\"string\"", "<text:p>#N/A</text:p>") +
             cell("office:value-type=\"date\" office:date-value=\"1899-12-30T06:00:00\"") +
             cell("office:value-type=\"date\" office:date-value=\"1900-02-28\"") +
             cell("office:value-type=\"date\" office:date-value=\"1900-03-01\"") +
             "</table:table-row>",
         "A1 N:-1.5|B1 N:0.25|C1 N:3|D1 D:2024-01-31|E1 D:2024-01-31T12:30:00|"
         "F1 D:1900-01-01T12:00:00|G1 B:1|H1 B:0|I1 E:7|J1 E:255|K1 E:42|L1 T:#N/A|"
         "M1 D:1899-12-30T06:00:00|N1 D:1900-02-28|O1 D:1900-03-01"},
        {"dates before 1900 and at the end of time, times of day to the millisecond",
         "<table:table-row>" + cell("office:value-type=\"date\" office:date-value=\"1899-12-30\"") +
             cell("office:value-type=\"date\" office:date-value=\"1899-12-31T12:00:00\"") +
             cell("office:value-type=\"date\" office:date-value=\"1899-06-01\"") +
             cell("office:value-type=\"date\" office:date-value=\"1850-01-01\"") +
             cell("office:value-type=\"date\" office:date-value=\"9999-12-31T23:59:59.9999\"") +
             cell("office:value-type=\"time\" office:time-value=\"PT00H00M00S\"") +
             cell("office:value-type=\"time\" office:time-value=\"PT17H05M04.620S\"") +
             "</table:table-row>",
         "A1 D:1899-12-30|B1 D:1899-12-31T12:00:00|C1 D:1899-06-01|D1 D:1850-01-01|"
         "E1 D:9999-12-31T23:59:59.999|F1 D:00:00:00|G1 D:17:05:04.62"},
        {"repeated cells and rows; covered cells are places; an empty tail stores nothing",
         "<table:table-row table:number-rows-repeated=\"2\">" +
             cell("office:value-type=\"float\" office:value=\"1\" "
                  "table:number-columns-repeated=\"3\"") +
             "<table:covered-table-cell table:number-columns-repeated=\"2\"/>" +
             cell("office:value-type=\"string\"", "<text:p>x</text:p>") +
             cell("table:number-columns-repeated=\"16000\"") +
             "</table:table-row><table:table-row table:number-rows-repeated=\"1048570\">" +
             cell("table:number-columns-repeated=\"16384\"") + "</table:table-row>",
         "A1 N:1|B1 N:1|C1 N:1|F1 T:x|A2 N:1|B2 N:1|C2 N:1|F2 T:x"},
        {"rows in groups and header rows",
         "<table:table-header-rows><table:table-row>" +
             cell("office:value-type=\"string\"", "<text:p>h</text:p>") +
             "</table:table-row></"
             "table:table-header-rows><table:table-row-group><table:table-row>" +
             cell("office:value-type=\"float\" office:value=\"2\"") +
             "</table:table-row></table:table-row-group>",
         "A1 T:h|A2 N:2"},
    };
    for (const auto& c : cases) EXPECT_EQ(readFirst(ods(table(c.rows))), c.expected) << c.what;
    // A date given as a number counts from the document's null date.
    const std::string asNumber = "<table:table-row>" +
                                 cell("office:value-type=\"date\" office:value=\"2\"") +
                                 "</table:table-row>";
    EXPECT_EQ(readFirst(ods(table(asNumber))), "A1 D:1900-01-01");
    EXPECT_EQ(readFirst(ods("<table:calculation-settings><table:null-date "
                            "table:date-value=\"1904-01-01\"/></table:calculation-settings>" +
                            table(asNumber))),
              "A1 D:1904-01-03");
}

TEST(PackageReader, OdsSheetsByNameAndOrder) {
    std::string book =
        ods(table("<table:table-row>" + cell("office:value-type=\"float\" office:value=\"1\"") +
                      "</table:table-row>",
                  "First") +
            table("<table:table-row>" + cell("office:value-type=\"float\" office:value=\"2\"") +
                      "</table:table-row>",
                  "Second &lt;2&gt;") +
            "<table:named-expressions/>");
    std::vector<std::string> names;
    EXPECT_EQ(readAll(book, &names), (std::vector<std::string>{"A1 N:1", "A1 N:2"}));
    EXPECT_EQ(names, (std::vector<std::string>{"First", "Second <2>"}));
}

// ---- What the package is ----

TEST(PackageReader, TellsOtherPackagesApart) {
    auto types = [](const char* part, const char* type) {
        return std::pair<std::string, std::string>{
            "[Content_Types].xml",
            std::string("<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/"
                        "content-types\"><Override PartName=\"") +
                part + "\" ContentType=\"" + type + "\"/></Types>"};
    };
    auto rels = [](const char* target) {
        return std::pair<std::string, std::string>{
            "_rels/.rels",
            std::string("<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/"
                        "relationships\"><Relationship Id=\"r\" Type=\"") +
                kRel + "/officeDocument\" Target=\"" + target + "\"/></Relationships>"};
    };
    const std::string xlsb =
        "it is an Excel binary workbook (.xlsb), which is not supported: save it as .xlsx";
    const std::string noBook = "it is not a workbook: it is a zip archive without a workbook in it";
    const struct {
        Parts parts;
        std::string expected;
    } cases[] = {
        {{types("/xl/workbook.bin", "application/vnd.ms-excel.sheet.binary.macroEnabled.main"),
          rels("xl/workbook.bin"),
          {"xl/workbook.bin", "\x83\x01"}},
         xlsb},
        {{{"xl/workbook.bin", "\x83\x01"}}, xlsb},
        {{types("/word/document.xml",
                "application/vnd.openxmlformats-officedocument.wordprocessingml.document.main+xml"),
          rels("word/document.xml"),
          {"word/document.xml", "<w/>"}},
         "it is not a workbook: it looks like a text document"},
        {{types(
              "/ppt/presentation.xml",
              "application/vnd.openxmlformats-officedocument.presentationml.presentation.main+xml"),
          rels("/ppt/presentation.xml"),
          {"ppt/presentation.xml", "<p/>"}},
         "it is not a workbook: it looks like a presentation document"},
        {{{"mimetype", "application/vnd.oasis.opendocument.text"}, {"content.xml", "<x/>"}},
         "it is not a workbook: it looks like a text document"},
        {{{"mimetype", "application/vnd.oasis.opendocument.graphics"}},
         "it is not a workbook: it looks like a drawing document"},
        {{{"content.xml", content("<text:p>hi</text:p>", "text")}},
         "it is not a workbook: it looks like a text document"},
        {{{"readme.txt", "hello"}, {"mimetype", "application/epub+zip"}}, noBook},
        {{types("/xl/workbook.xml",
                "application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml"),
          rels("xl/workbook.xml")},
         "it is damaged: its workbook part xl/workbook.xml is missing"},
        {{{"mimetype", "application/vnd.oasis.opendocument.spreadsheet"},
          {"META-INF/manifest.xml", "<manifest:encryption-data/>"},
          {"content.xml", "\x01\x02"}},
         "it is protected by a password, which is not supported: save it without one"},
    };
    for (const auto& c : cases) EXPECT_EQ(readFirst(zipOf(c.parts)), "ReadError: " + c.expected);
    EXPECT_EQ(readFirst("PK\x03\x04 cut short"),
              "ReadError: it is damaged: the directory at the end of the zip archive is missing "
              "(the file may be cut short)");
    EXPECT_EQ(readFirst("hello"), "ReadError: it is not a zip archive");

    // A macro-enabled workbook reads like any other.
    Parts xlsm = ooxmlParts(Book{{worksheet("<row><c><v>1</v></c></row>")}});
    const std::string xlsxType =
        "application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml";
    for (auto& [name, data] : xlsm)
        if (name == "[Content_Types].xml")
            data.replace(data.find(xlsxType), xlsxType.size(),
                         "application/vnd.ms-excel.sheet.macroEnabled.main+xml");
    EXPECT_EQ(readFirst(zipOf(xlsm)), "A1 N:1");

    // The Office 2007 beta's namespace reads as the standard's; one the tool does not know is
    // refused, never read as a workbook without sheets.
    auto renamed = [](const std::string& ns) {
        Parts parts = ooxmlParts(Book{{worksheet("<row><c><v>1</v></c></row>")}});
        for (auto& [name, data] : parts)
            for (size_t at; (at = data.find(kSml)) != std::string::npos;)
                data.replace(at, strlen(kSml), ns);
        return zipOf(parts);
    };
    EXPECT_EQ(readFirst(renamed("http://schemas.microsoft.com/office/excel/2006/2")), "A1 N:1");
    EXPECT_EQ(readFirst(renamed("urn:example:sheets")),
              "ReadError: its workbook part xl/workbook.xml is in a form of Office Open XML the "
              "tool does not read: save it as .xlsx");
    Parts noSheets = ooxmlParts(Book{});
    EXPECT_EQ(readFirst(zipOf(noSheets)), "ReadError: it is damaged: it lists no sheets");
}

// ---- Damage ----

TEST(PackageReader, DamageFoundWhenASheetIsReadIsNamedOnce) {
    // The string table ends inside a string: the workbook opens, its sheet does not.
    Parts parts = ooxmlParts(
        Book{{worksheet("<row r=\"1\"><c r=\"A1\" t=\"s\"><v>0</v></c></row>")}, "<si/>"});
    for (auto& [name, data] : parts)
        if (name == "xl/sharedStrings.xml")
            data = xmlPart(std::string("<sst xmlns=\"") + kSml + "\"><si><t>ItemCode");
    fs::path file = test::scratchDir("package-damage") / "d.xlsx";
    std::ofstream(file, std::ios::binary) << zipOf(parts);
    auto book = std::make_shared<Workbook>(file.string());
    std::string message;
    try {
        SheetRecordset rs(book, "SELECT * FROM [S1$]");
    } catch (const KorError& e) {
        message = e.what();
    }
    EXPECT_EQ(message.rfind("Worksheet 'S1' of workbook '" + file.string() +
                                "' cannot be read: it is damaged: ",
                            0),
              0u)
        << message;
    EXPECT_EQ(message.find("cannot be read", message.find("cannot be read") + 1), std::string::npos)
        << message;
}

TEST(PackageReader, MalformedXmlNamesThePartAndPlace) {
    const struct {
        std::string sheet;
        const char* expected;  // after "... sheet1.xml is not well-formed XML at "
    } cases[] = {
        {worksheet("<row>"), "line 2, column "},
        {std::string("<worksheet xmlns=\"") + kSml + "\">\n<sheetData>\n</row>",
         "line 4, column 1 (</row> where </sheetData> should close <sheetData>)"},
        {worksheet("<row><c t=\"inlineStr\"><is><t>a&bogus;</t></is></c></row>"),
         "(a malformed reference)"},
        {"<!DOCTYPE x [<!ENTITY a \"b\">]>" + worksheet(""),
         "line 2, column 1 (a document type declaration, which a package part may not hold)"},
        {worksheet("<y:row/>"), "(the namespace prefix 'y' is not declared)"},
        {worksheet("<row r=1/>"), "(an attribute value without quotes)"},
        {"text" + worksheet(""), "line 2, column 1 (text outside the root element)"},
        {worksheet("<row a=\"1\"b=\"2\"/>"), "(an attribute that does not follow a blank)"},
        {"", "line 2, column 1 (no element at all)"},
    };
    for (const auto& c : cases) {
        std::string got = readFirst(xlsx(Book{{c.sheet}}));
        EXPECT_EQ(got.rfind("ReadError: it is damaged: its part xl/worksheets/sheet1.xml is not "
                            "well-formed XML at ",
                            0),
                  0u)
            << c.expected << ": " << got;
        EXPECT_NE(got.find(c.expected), std::string::npos) << got;
    }
    std::string nul = worksheet("<row><c><v>1</v></c></row>");
    nul.insert(nul.find("1</v>"), 1, '\0');
    EXPECT_NE(readFirst(xlsx(Book{{nul}})).find("(a NUL character)"), std::string::npos);

    const struct {
        std::string rows;
        const char* expected;
    } values[] = {
        {"<row><c r=\"A0\"><v>1</v></c></row>", "the cell reference 'A0'"},
        {"<row><c t=\"s\"><v>3</v></c></row>", "the cell A1 refers to shared string '3' of 0"},
        {"<row><c><v>abc</v></c></row>", "the cell A1 holds 'abc' where a number belongs"},
        {"<row><c t=\"zz\"><v>1</v></c></row>", "the cell type 'zz'"},
        {"<row><c r=\"XFE1\"><v>1</v></c></row>", "beyond the last row or column"},
        {"<row r=\"1048577\"><c><v>1</v></c></row>", "a row numbered '1048577'"},
        {"<row><c t=\"inlineStr\"><is><t>\xC3\x28</t></is></c></row>", "not valid UTF-8"},
    };
    for (const auto& v : values) {
        std::string got = readFirst(xlsx(v.rows));
        EXPECT_NE(got.find(v.expected), std::string::npos) << got;
        EXPECT_EQ(got.rfind("ReadError: ", 0), 0u) << got;
    }
}

// Little-endian 32-bit field of every zip header of a part (local and central).
void patchSize(std::string& zip, const std::string& part, uint32_t size) {
    for (auto [sig, at] : {std::pair<const char*, size_t>{"PK\x03\x04", 22},
                           std::pair<const char*, size_t>{"PK\x01\x02", 24}}) {
        size_t name = sig[2] == 3 ? 30 : 46;
        for (size_t p = zip.find(sig); p != std::string::npos; p = zip.find(sig, p + 1)) {
            if (zip.compare(p + name, part.size(), part) != 0) continue;
            for (int i = 0; i < 4; ++i) zip[p + at + size_t(i)] = char((size >> (8 * i)) & 0xFF);
        }
    }
}

TEST(PackageReader, HostileSizesAreRefusedNotAllocated) {
    std::string bomb = xlsx("<row><c><v>1</v></c></row>");
    patchSize(bomb, "xl/worksheets/sheet1.xml", 0xC0000000u);
    EXPECT_EQ(readFirst(bomb),
              "ReadError: its part xl/worksheets/sheet1.xml would inflate to 3072 MiB, more than "
              "the 1024 MiB a workbook part may have (a zip bomb?)");

    std::string liar = xlsx("<row><c><v>1</v></c></row>");
    patchSize(liar, "xl/worksheets/sheet1.xml", 20);
    EXPECT_EQ(
        readFirst(liar).rfind("ReadError: it is damaged: its part xl/worksheets/sheet1.xml", 0), 0u)
        << readFirst(liar);

    // Repeats of a value beyond a sheet's size: an error, not millions of cells.
    for (const char* rows :
         {"<table:table-row>"
          "<table:table-cell office:value-type=\"float\" office:value=\"1\" "
          "table:number-columns-repeated=\"20000\"/></table:table-row>",
          "<table:table-row table:number-rows-repeated=\"4000000000\">"
          "<table:table-cell office:value-type=\"float\" office:value=\"1\"/></table:table-row>"}) {
        EXPECT_EQ(readFirst(ods(table(rows))),
                  "ReadError: a cell lies beyond the last row or column a worksheet can have");
    }
    std::string longText =
        "<table:table-row>" +
        cell("office:value-type=\"string\"", "<text:p><text:s text:c=\"4000000000\"/></text:p>") +
        "</table:table-row>";
    EXPECT_NE(readFirst(ods(table(longText))).find("holds more than 16 MiB of text"),
              std::string::npos);
    std::string blanks = "<table:table-row>";
    for (char c : std::string("abc"))
        blanks += cell("office:value-type=\"string\"",
                       std::string("<text:p>") + c + "<text:s text:c=\"10000000\"/></text:p>");
    EXPECT_NE(readFirst(ods(table(blanks + "</table:table-row>"))).find("MiB of repeated blanks"),
              std::string::npos);

    // What a small file may make the reader hold is bounded by its size: repeats and
    // compression are believed only so far.
    const std::string tooMuch =
        "ReadError: the worksheet would take more than 24 MB of memory, far more than a file of "
        "its size holds (its repeats or compression claim more than can be believed)";
    EXPECT_EQ(readFirst(ods(table("<table:table-row table:number-rows-repeated=\"1048575\">" +
                                  cell("office:value-type=\"float\" office:value=\"1\" "
                                       "table:number-columns-repeated=\"16384\"") +
                                  "</table:table-row>"))),
              tooMuch);
    std::string wide = "<row>";
    for (int c = 0; c < 16000; ++c) wide += "<c><v>1</v></c>";
    wide += "</row>";
    std::string manyRows;
    for (int r = 0; r < 125; ++r) manyRows += wide;
    std::string compressed = xlsx(manyRows);
    ASSERT_LT(compressed.size(), size_t(100) << 10);
    EXPECT_EQ(readFirst(compressed).substr(tooMuch.find(" MB")),
              tooMuch.substr(tooMuch.find(" MB")));
    // A sparse row after a wide one reserves what it holds, not the width before it.
    std::string sparse = "<row><c r=\"XFD1\"><v>1</v></c></row>";
    for (int r = 0; r < 300000; ++r) sparse += "<row><c><v>2</v></c></row>";
    {
        size_t before = mallinfo2().uordblks;
        auto reader = openPackageReader(xlsx(sparse));
        SheetCells cells;
        reader->readSheet(0, cells);
        EXPECT_EQ(cells.rowCount(), 300001u);
        EXPECT_LT(mallinfo2().uordblks - before, size_t(32) << 20);
    }

    std::string deep;
    for (int i = 0; i < 20000; ++i) deep += "<a>";
    EXPECT_NE(readFirst(xlsx(deep)).find("(elements nested too deep)"), std::string::npos);
}

// Parts this big inflate on a second thread: its data, its damage and an early stop.
TEST(PackageReader, BigPartsInflateAheadOfTheParser) {
    std::string rows;
    for (int r = 0; r < 400000; ++r) rows += "<row><c><v>7</v></c></row>";
    std::string big = xlsx(rows);
    try {
        auto reader = openPackageReader(big);
        SheetCells cells;
        reader->readSheet(0, cells);
        EXPECT_EQ(cells.rowCount(), 400000u);
        EXPECT_EQ(cells.cellCount(), 400000u);
        EXPECT_EQ(cells.at(399999, 0)->number, 7);
    } catch (const ReadError& e) {
        FAIL() << e.what();
    }
    std::string damaged = big;
    size_t data = damaged.find("xl/worksheets/sheet1.xml") + 100;
    for (size_t i = data; i < data + 1000; i += 10) damaged[i] = char(~damaged[i]);
    EXPECT_EQ(
        readFirst(damaged).rfind("ReadError: it is damaged: its part xl/worksheets/sheet1.xml", 0),
        0u)
        << readFirst(damaged);

    std::string tail;
    for (int i = 0; i < 2500000; ++i) tail += "<x/>";
    EXPECT_EQ(readFirst(xlsx(Book{{std::string("<worksheet xmlns=\"") + kSml +
                                   "\"><sheetData><row><c><v>1</v></c></row></sheetData>" + tail +
                                   "</worksheet>"}})),
              "A1 N:1");
}

// Every cut and many flipped bytes of real packages: a result or a ReadError, never a crash
// (run it under the address and undefined-behaviour sanitizers).
TEST(PackageReader, DamageGivesAnErrorNeverACrash) {
    std::string styles =
        "<numFmts><numFmt numFmtId=\"164\" formatCode=\"yyyy\"/></numFmts>"
        "<cellXfs><xf numFmtId=\"164\"/></cellXfs>";
    std::string rows;
    for (int r = 1; r <= 30; ++r)
        rows += "<row r=\"" + std::to_string(r) + "\"><c t=\"s\"><v>" + std::to_string(r % 2) +
                "</v></c><c s=\"0\"><v>" + std::to_string(r * 1.5) +
                "</v></c><c t=\"inlineStr\"><is><t>x&amp;" + std::to_string(r) +
                "</t></is></c></row>";
    const std::string books[] = {
        xlsx(Book{{worksheet(rows)}, "<si><t>a</t></si><si><r><t>b</t></r></si>", styles}),
        ods(table("<table:table-row table:number-rows-repeated=\"3\">" +
                  cell("office:value-type=\"string\"", "<text:p>a<text:s text:c=\"2\"/></text:p>") +
                  cell("office:value-type=\"date\" office:date-value=\"2024-01-31\"") +
                  "</table:table-row>")),
    };
    for (const std::string& book : books) {
        ASSERT_EQ(readFirst(book).find("ReadError"), std::string::npos) << readFirst(book);
        size_t errors = 0;
        for (size_t cut = 0; cut < book.size(); cut += 7) {
            std::string got = readFirst(book.substr(0, cut));
            EXPECT_EQ(got.rfind("ReadError: it is ", 0), 0u) << "cut at " << cut << ": " << got;
        }
        uint32_t seed = 12345;
        for (int i = 0; i < 3000; ++i) {
            std::string damaged = book;
            for (int k = 0; k < 1 + i % 3; ++k) {
                seed = seed * 1103515245u + 12345u;
                damaged[(seed >> 8) % damaged.size()] ^= char(1 + (seed >> 24) % 255);
            }
            std::string got = readFirst(damaged);
            if (got.rfind("ReadError: ", 0) == 0) {
                ++errors;
                EXPECT_GT(got.size(), 15u);
                EXPECT_NE(got.back(), '.') << got;
            }
        }
        EXPECT_GT(errors, 1000u) << "flipped bytes that nobody noticed";
    }
}

}  // namespace
}  // namespace kordb
