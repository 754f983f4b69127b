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

// Makes the worksheets of book available as virtual tables of db.
void registerSheetModule(sqlite3* db, Workbook* book);

class SheetRecordset {
  public:
    // Runs sql over book; throws KorError naming the sheet, column or fault.
    SheetRecordset(std::shared_ptr<Workbook> book, const std::string& sql);
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
    int ordinalOf(std::string_view name) const;
    void step();

    std::shared_ptr<Workbook> book_;
    sqlite3_stmt* stmt_ = nullptr;
    std::vector<std::string> names_;
    std::vector<bool> isDate_;
    std::unordered_map<std::string, int> ordinals_;  // upper-cased name -> first ordinal
    std::string sheetLabel_;
    bool eof_ = true;
};

}  // namespace kordb
