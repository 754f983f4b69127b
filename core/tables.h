#pragma once
// The destination tables the tool knows by name, and the key column of each.

#include <string>
#include <string_view>

namespace kordb::table {

inline constexpr const char* kItem = "KINV_MT_ITEM";
inline constexpr const char* kPlu = "KINV_MT_PLU";
inline constexpr const char* kClass = "KINV_MT_CLASS";
inline constexpr const char* kDebtor = "KLED_MT_DEBTOR";
inline constexpr const char* kCreditor = "KLED_MT_CREDITOR";

inline constexpr const char* kItemKey = "ItemCode";
inline constexpr const char* kPluKey = "PluCode";

// The key column of a table name (already trimmed and upper-cased), compared exactly and in
// this order; empty when the table is not one of the four.
inline std::string keyColumnFor(std::string_view tableName) {
    struct Entry {
        const char* table;
        const char* key;
    };
    static constexpr Entry kKeys[] = {
        {kItem, kItemKey},
        {kClass, "ClassCode"},
        {kDebtor, "DebtorCode"},
        {kCreditor, "CreditorCode"},
    };
    for (const Entry& e : kKeys)
        if (tableName == e.table) return e.key;
    return {};
}

// What is wrong when a worksheet named like none of the four tables is read by its key.
inline std::string noKeyColumnText(std::string_view sheet) {
    return "Worksheet '" + std::string(sheet) +
           "' has no key column: its name is none of the tables " + kItem + ", " + kClass + ", " +
           kDebtor + " and " + kCreditor + ", so no column is known to hold its codes.";
}

}  // namespace kordb::table
