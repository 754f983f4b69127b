#pragma once
// A window without widgets over a fresh destination (SQLite ODBC driver or the test PostgreSQL
// server) holding the five tables, and workbooks built from rows of named cells.

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "form/connect.h"
#include "form/selection.h"
#include "migration/migration.h"
#include "settings/settings_store.h"
#include "tests/support/recorder.h"
#include "tests/support/test_env.h"

namespace kordb::test {

enum class Engine { Sqlite, Postgres };
std::string engineLabel(const ::testing::TestParamInfo<Engine>& info);

using Rows = std::vector<std::vector<std::string>>;

// JSON text of a cell: a string, a number, or null for an empty cell.
std::string str(const std::string& s);
std::string num(double d);
inline const std::string kEmpty = "null";

// A worksheet: its name, header and rows of cells by column name (JSON literals).
struct Sheet {
    std::string name;
    std::vector<std::string> header;
    std::vector<std::map<std::string, std::string>> rows;
};

// The worksheet columns an item sheet needs, in sheet order.
std::vector<std::string> itemHeader();
std::vector<std::string> debtorHeader(const std::string& nameColumn);

class MigrationTest : public ::testing::TestWithParam<Engine> {
  protected:
    MigrationTest();
    void SetUp() override;

    // Writes the workbook and puts its path in the path field.
    void workbook(const std::vector<Sheet>& sheets);
    // Picks a worksheet as a click on the list does (TableName, KeyColumn).
    void choose(const std::string& sheet);
    // The migrations as Start calls them once the name is taken from the list.
    void runItems();
    void runMaster();

    void exec(const std::string& sql) { execSql(dest, sql); }
    // Drops table and creates it again from the demo DDL as edit changes it.
    void recreate(const std::string& table, const std::function<std::string(std::string)>& edit);
    Rows rows(const std::string& sql) { return query(dest, sql); }
    std::string one(const std::string& sql);
    // Every row of the five tables, every column, each table in one order.
    std::vector<Rows> dump();
    bool isPostgres() const { return GetParam() == Engine::Postgres; }

    std::filesystem::path dir;
    Recorder ui;
    SettingsStore store;
    Form form;
    Destination dest;
};

// Box checks with their exact texts, titles and icons.
::testing::AssertionResult isBox(const Box& b, const std::string& text, const std::string& title,
                                 Icon icon, Buttons buttons = Buttons::Ok);

}  // namespace kordb::test
