#pragma once
// What the tests share: scratch folders, workbooks written by an independent writer (xlwt),
// and fresh destination databases on the real engines (SQLite ODBC driver, test PostgreSQL).

#include <filesystem>
#include <string>
#include <vector>

#include "core/value.h"

namespace kordb::test {

// A new empty folder under the test's scratch area.
std::filesystem::path scratchDir(const std::string& name);

// Writes an .xls from a JSON spec (see tests/support/write_xls.py) and returns its path.
std::filesystem::path writeWorkbook(const std::filesystem::path& file, const std::string& json);

// Connection fields for the destination engines. server goes to TxtField(0), database to (1).
struct Destination {
    std::string server, database, user, password;
};
// A fresh SQLite database file reached through the "KordbLite" data source.
Destination freshSqlite(const std::string& name);
// A fresh PostgreSQL database on the test server, through the "KordbPg" data source.
Destination freshPostgres(const std::string& name);
bool postgresAvailable();

// Runs statements (";"-separated, no ";" inside them) on a destination.
void execSql(const Destination& d, const std::string& statements);
// All rows of a query, each value as text (Null as "<null>").
std::vector<std::vector<std::string>> query(const Destination& d, const std::string& sql);

// Every worksheet column the item migration reads, in its order.
std::vector<std::string> itemColumns();

// Reads a file whole.
std::string readFile(const std::filesystem::path& file);

// The DDL of the five destination tables, SQL Server-like types, per engine.
std::string destinationDdl();

}  // namespace kordb::test
