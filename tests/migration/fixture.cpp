#include "tests/migration/fixture.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "core/text.h"
#include "core/value.h"

namespace kordb::test {

namespace fs = std::filesystem;

namespace {

int counter = 0;

const char* iconName(Icon i) {
    switch (i) {
        case Icon::None:
            return "none";
        case Icon::Critical:
            return "critical";
        case Icon::Question:
            return "question";
        case Icon::Exclamation:
            return "exclamation";
    }
    return "?";
}

std::string sheetJson(const Sheet& s) {
    std::string j = "{\"name\":" + str(s.name) + ",\"rows\":[[";
    for (size_t c = 0; c < s.header.size(); ++c) j += (c ? "," : "") + str(s.header[c]);
    j += "]";
    for (const auto& row : s.rows) {
        for (const auto& cell : row) {
            bool known = false;
            for (const auto& h : s.header) known = known || h == cell.first;
            if (!known) ADD_FAILURE() << "cell for a column the sheet lacks: " << cell.first;
        }
        j += ",[";
        for (size_t c = 0; c < s.header.size(); ++c) {
            auto it = row.find(s.header[c]);
            j += (c ? "," : "") + (it == row.end() ? kEmpty : it->second);
        }
        j += "]";
    }
    return j + "]}";
}

}  // namespace

std::string engineLabel(const ::testing::TestParamInfo<Engine>& info) {
    return info.param == Engine::Sqlite ? "Sqlite" : "Postgres";
}

std::string str(const std::string& s) {
    std::string r = "\"";
    char buf[8];
    for (char16_t c : toUtf16(s)) {
        if (c == '"' || c == '\\') {
            r += '\\';
            r += char(c);
        } else if (c < 0x20 || c >= 0x7f) {
            std::snprintf(buf, sizeof buf, "\\u%04x", unsigned(c));
            r += buf;
        } else {
            r += char(c);
        }
    }
    return r + "\"";
}

std::string num(double d) {
    return formatNumber(d);
}

std::vector<std::string> itemHeader() {
    return itemColumns();
}

std::vector<std::string> debtorHeader(const std::string& party) {
    std::vector<std::string> h = {party + "Code", party + "Name", "GLCode", "AreaCode"};
    for (int n = 1; n <= 4; ++n) h.push_back("Address" + std::to_string(n));
    for (int n = 1; n <= 4; ++n) h.push_back("DeliveryAddress" + std::to_string(n));
    for (const char* c : {"ContactPerson", "TelephoneNo", "HandphoneNo", "EmailAddress", "Website",
                          "CreditLimit", "CreditTerm", "CJ5No", "FaxNo", "PaymentTerm"})
        h.push_back(c);
    return h;
}

MigrationTest::MigrationTest()
    : dir(scratchDir("migration-" + std::to_string(++counter))),
      store(dir / "config"),
      form(ui, store, dir) {}

void MigrationTest::SetUp() {
    if (GetParam() == Engine::Postgres) {
        ASSERT_TRUE(postgresAvailable()) << "run through tests/support/run_test.sh";
        dest = freshPostgres("kordb_mig_" + std::to_string(counter));
    } else {
        dest = freshSqlite("mig" + std::to_string(counter));
    }
    exec(destinationDdl());
    ui.fields[0] = dest.server;
    ui.fields[1] = dest.database;
    ui.fields[2] = dest.user;
    ui.fields[3] = dest.password;
    OpenDestination(form);
    ASSERT_TRUE(ui.connectedShown);
    ASSERT_TRUE(ui.boxes.empty()) << ui.allBoxes();
}

void MigrationTest::workbook(const std::vector<Sheet>& sheets) {
    static int books = 0;
    fs::path file = dir / ("book" + std::to_string(++books) + ".xls");
    std::string json = "{\"sheets\":[";
    for (size_t i = 0; i < sheets.size(); ++i) json += (i ? "," : "") + sheetJson(sheets[i]);
    json += "]}";
    const char* src = std::getenv("KORDB_SOURCE_DIR");
    fs::path script = fs::path(src ? src : ".") / "tests/migration/write_xls_any_name.py";
    std::string cmd = "/usr/bin/python3 '" + script.string() + "' '" + file.string() + "'";
    FILE* p = popen(cmd.c_str(), "w");
    ASSERT_NE(p, nullptr);
    fwrite(json.data(), 1, json.size(), p);
    ASSERT_EQ(pclose(p), 0) << "writing the workbook failed: " << json.substr(0, 300);
    ui.fields[4] = file.string();
}

void MigrationTest::choose(const std::string& sheet) {
    ui.pick(sheet);
    Combo1_Click(form);
}

void MigrationTest::runItems() {
    form.st.SheetName = trimUpper(ui.comboText());
    MigrateItems(form);
}

void MigrationTest::runMaster() {
    form.st.SheetName = trimUpper(ui.comboText());
    MigrateMasterTable(form);
}

void MigrationTest::recreate(const std::string& table,
                             const std::function<std::string(std::string)>& edit) {
    std::string ddl = destinationDdl();
    size_t start = ddl.find("CREATE TABLE " + table + " (");
    ASSERT_NE(start, std::string::npos) << table;
    size_t end = ddl.find(");", start);
    exec("DROP TABLE " + table + ";" + edit(ddl.substr(start, end + 1 - start)));
    // A fresh connection: an engine may keep the old table's shape for an open one.
    OpenDestination(form);
    ASSERT_TRUE(ui.boxes.empty());
}

std::string MigrationTest::one(const std::string& sql) {
    Rows r = rows(sql);
    if (r.size() != 1 || r[0].size() != 1) {
        ADD_FAILURE() << "expected one value from " << sql << ", got " << r.size() << " rows";
        return {};
    }
    return r[0][0];
}

::testing::AssertionResult isBox(const Box& b, const std::string& text, const std::string& title,
                                 Icon icon, Buttons buttons) {
    if (b.text == text && b.title == title && b.icon == icon && b.buttons == buttons)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure()
           << "box \"" << b.text << "\" titled \"" << b.title << "\", icon " << iconName(b.icon)
           << (b.buttons == Buttons::Ok ? ", OK" : ", Yes/No") << "; expected \"" << text
           << "\" titled \"" << title << "\", icon " << iconName(icon);
}

std::vector<Rows> MigrationTest::dump() {
    std::vector<Rows> all;
    for (const char* t :
         {"KINV_MT_ITEM", "KINV_MT_PLU", "KINV_MT_CLASS", "KLED_MT_DEBTOR", "KLED_MT_CREDITOR"}) {
        Rows r = rows(std::string("SELECT * FROM ") + t);
        std::sort(r.begin(), r.end());
        all.push_back(std::move(r));
    }
    return all;
}

}  // namespace kordb::test
