#pragma once
// The destination connection string as the operator's fields assemble it, and how its
// keywords are turned into an ODBC connection.

#include <map>
#include <string>

namespace kordb {

namespace odbc {
class Connection;
}

// "Provider=SQLOLEDB.1;Password=" pw ";Persist Security Info=True;User ID=" user
// ";Initial Catalog=" db ";Data Source=" server, pieces joined as they stand.
std::string assembleConnectionString(const std::string& password, const std::string& user,
                                     const std::string& database, const std::string& server);

// keyword=value pairs separated by ";", no quoting: a value containing ";" ends there and the
// rest is read as further keywords. Keywords are upper-cased; a later one wins.
std::map<std::string, std::string> parseConnectionString(const std::string& s);

// The ODBC connection string for those keywords: through a configured data source when
// "Data Source" names one, otherwise through the best SQL Server driver installed.
// Throws KorError when no suitable driver is installed.
std::string odbcConnectionString(const std::map<std::string, std::string>& keywords);

// {value} with "}" doubled when the value could end early or add a keyword; else as is.
std::string braceQuote(const std::string& value);
// The same for FreeTDS, which ends a braced value at the first "};" and undoes no doubling:
// "}" goes as it is, braces only around a value holding ";" or starting with "{" or a blank.
// The value must be followed by ";". Throws KorError for a value holding "};", which FreeTDS
// cannot be given.
std::string freetdsQuote(const std::string& value);

inline constexpr int kLoginTimeoutSeconds = 15;

// Opens conn on the destination the operator's four connection fields name, waiting at most
// the login timeout. Throws KorError.
void openDestination(odbc::Connection& conn, const std::string& password, const std::string& user,
                     const std::string& database, const std::string& server);
// Whether the open destination compares text keys ignoring trailing blanks (SQL Server).
bool comparesKeysIgnoringTrailingBlanks(const odbc::Connection& conn);

}  // namespace kordb
