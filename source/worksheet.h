#pragma once
// Worksheet statements: SQL over a loaded workbook, where "[name$]" denotes the worksheet
// called name (letter case ignored), read forward row by row like a recordset.

#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "core/value.h"
#include "source/workbook.h"

struct sqlite3;
struct sqlite3_stmt;

namespace kordb {

// The sheet "[name$]" denotes: the one picked in the list when name is that entry trimmed and
// upper-cased (its blanks count), else the one of that name in any letter case, else the one
// sheet whose name is name once trimmed; -1 when none.
int resolveSheet(const Workbook& book, const std::string& name, const std::string& picked);

class SheetRecordset {
  public:
    // Runs sql over book, in an engine of its own; throws KorError naming the sheet, column or
    // fault. pickedSheet: the sheet list's entry as picked, blanks and all, for "[name$]".
    SheetRecordset(std::shared_ptr<Workbook> book, const std::string& sql,
                   const std::string& pickedSheet = {});
    ~SheetRecordset();
    SheetRecordset(const SheetRecordset&) = delete;
    SheetRecordset& operator=(const SheetRecordset&) = delete;

    bool eof() const { return eof_; }
    void moveNext();
    int fieldCount() const { return int(names_.size()); }
    const std::string& fieldName(int ordinal) const { return names_[size_t(ordinal)]; }
    Value field(int ordinal) const;
    // By column name, letter case ignored; an unknown name is an error naming it.
    Value field(std::string_view name) const;
    bool hasField(std::string_view name) const { return ordinalOf(name) >= 0; }
    void close();

  private:
    void open(const std::string& sql, const std::string& pickedSheet);
    int ordinalOf(std::string_view name) const;
    void step();

    std::shared_ptr<Workbook> book_;
    sqlite3* db_ = nullptr;
    sqlite3_stmt* stmt_ = nullptr;
    std::vector<std::string> names_;
    std::vector<bool> isDate_;
    std::unordered_map<std::string, int> ordinals_;  // upper-cased name -> first ordinal
    std::string sheetLabel_;
    bool eof_ = true;
};

// "[" name "$]"
std::string sheetRef(std::string_view name);

}  // namespace kordb
