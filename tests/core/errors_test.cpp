// The number the migration's box shows for a destination failure, from what each engine says.

#include <gtest/gtest.h>

#include "core/errors.h"

namespace kordb {
namespace {

struct Case {
    const char* engine;
    const char* sqlstate;
    long native;
    const char* message;
    long number;
};

const Case kCases[] = {
    // SQL Server through its ODBC drivers.
    {"mssql", "42S02", 208, "Invalid object name 'KINV_MT_ITEM'.", errnum::kTableNotFound},
    {"mssql", "42S22", 207, "Invalid column name 'Fax'.", errnum::kCommandText},
    {"mssql", "42000", 102, "Incorrect syntax near ','.", errnum::kCommandText},
    {"mssql", "42000", 229, "The INSERT permission was denied.", errnum::kPermission},
    {"mssql", "42000", 230, "The SELECT permission was denied.", errnum::kPermission},
    {"mssql", "23000", 2627, "Violation of PRIMARY KEY constraint.", errnum::kIntegrity},
    {"mssql", "23000", 515, "Cannot insert the value NULL.", errnum::kIntegrity},
    {"mssql", "23000", 547, "The INSERT statement conflicted.", errnum::kIntegrity},
    {"mssql", "22001", 8152, "String or binary data would be truncated.", errnum::kOverflow},
    {"mssql", "22003", 8115, "Arithmetic overflow error.", errnum::kOverflow},
    {"mssql", "22018", 245, "Conversion failed.", errnum::kConversion},
    {"mssql", "42000", 8114, "Error converting data type.", errnum::kConversion},
    {"mssql", "HYT00", 0, "Query timeout expired", errnum::kTimeout},
    // FreeTDS says 42000 to whatever its own table lacks: the native code decides.
    {"mssql", "42000", 105, "Unclosed quotation mark after the character string",
     errnum::kCommandText},
    {"mssql", "42000", 156, "Incorrect syntax near the keyword 'FROM'.", errnum::kCommandText},
    {"mssql", "42000", 170, "Line 1: Incorrect syntax near '?'.", errnum::kCommandText},
    {"mssql", "42000", 4104, "The multi-part identifier could not be bound.", errnum::kCommandText},
    {"mssql", "42000", 1205, "Transaction was deadlocked on lock resources", errnum::kUnspecified},
    {"mssql", "40001", 1205, "Transaction was deadlocked on lock resources", errnum::kUnspecified},
    {"mssql", "42000", 1222, "Lock request time out period exceeded.", errnum::kTimeout},
    {"mssql", "42000", 50000, "Price may not be negative.", errnum::kUnspecified},
    {"mssql", "42000", 51234, "Refused by the audit trigger.", errnum::kUnspecified},
    {"mssql", "42000", 3609, "The transaction ended in the trigger.", errnum::kUnspecified},
    {"mssql", "HY000", 0, "Connection is busy with results for another command",
     errnum::kUnspecified},
    // PostgreSQL: SQLSTATE alone.
    {"pg", "42P01", 1, "relation \"x\" does not exist", errnum::kTableNotFound},
    {"pg", "42703", 1, "column \"fax\" does not exist", errnum::kCommandText},
    {"pg", "42601", 1, "syntax error at or near", errnum::kCommandText},
    {"pg", "42501", 1, "permission denied for table", errnum::kPermission},
    {"pg", "23505", 1, "duplicate key value", errnum::kIntegrity},
    {"pg", "23514", 1, "violates check constraint", errnum::kIntegrity},
    {"pg", "22001", 1, "value too long for type", errnum::kOverflow},
    {"pg", "22P02", 1, "invalid input syntax for type numeric", errnum::kConversion},
    {"pg", "22008", 1, "date/time field value out of range", errnum::kConversion},
    {"pg", "57014", 1, "canceling statement due to statement timeout", errnum::kTimeout},
    {"pg", "55P03", 1, "could not obtain lock on row", errnum::kTimeout},
    {"pg", "40P01", 1, "deadlock detected", errnum::kUnspecified},
    // SQLite's driver says HY000 and explains in words.
    {"sqlite", "HY000", 1, "no such table: KINV_MT_ITEM", errnum::kTableNotFound},
    {"sqlite", "HY000", 1, "table KINV_MT_CLASS has no column named Fax", errnum::kCommandText},
    {"sqlite", "HY000", 19, "CHECK constraint failed: ClassName", errnum::kIntegrity},
    {"sqlite", "HY000", 20, "datatype mismatch", errnum::kConversion},
    {"sqlite", "HY000", 5, "database is locked", errnum::kUnspecified},
};

TEST(DestinationErrorNumber, EachEngineSaysTheSameFailureTheSameWay) {
    for (const Case& c : kCases)
        EXPECT_EQ(destinationErrorNumber(c.sqlstate, c.native, c.message,
                                         std::string_view(c.engine) == "mssql"),
                  c.number)
            << c.engine << " " << c.sqlstate << " " << c.native << " " << c.message;
}

}  // namespace
}  // namespace kordb
