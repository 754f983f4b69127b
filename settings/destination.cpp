#include "settings/destination.h"

#include <cstdlib>
#include <vector>

#include "core/errors.h"
#include "core/text.h"
#include "settings/odbc.h"

namespace kordb {

std::string assembleConnectionString(const std::string& password, const std::string& user,
                                     const std::string& database, const std::string& server) {
    return "Provider=SQLOLEDB.1;Password=" + password +
           ";Persist Security Info=True;User ID=" + user + ";Initial Catalog=" + database +
           ";Data Source=" + server;
}

std::map<std::string, std::string> parseConnectionString(const std::string& s) {
    std::map<std::string, std::string> out;
    size_t start = 0;
    while (start <= s.size()) {
        size_t end = s.find(';', start);
        if (end == std::string::npos) end = s.size();
        std::string piece = s.substr(start, end - start);
        size_t eq = piece.find('=');
        if (eq != std::string::npos) {
            std::string key = toUpper(trimBlanks(piece.substr(0, eq)));
            if (!key.empty()) out[key] = piece.substr(eq + 1);
        }
        start = end + 1;
    }
    return out;
}

std::string braceQuote(const std::string& value) {
    // Plain values go as they are (some drivers do not unwrap braces); anything that could end
    // the value or start another keyword is wrapped.
    if (!value.empty() && value.find_first_of(";{}=") == std::string::npos &&
        value.front() != ' ' && value.back() != ' ')
        return value;
    std::string r = "{";
    for (char c : value) {
        r += c;
        if (c == '}') r += '}';
    }
    return r + "}";
}

std::string freetdsQuote(const std::string& value) {
    if (value.find("};") != std::string::npos)
        throw KorError(errnum::kUnspecified,
                       "A connection value holding \"};\" cannot be passed to the FreeTDS driver; "
                       "change it, or connect through a data source of Microsoft's driver.");
    bool braces = value.empty() || value.find(';') != std::string::npos || value.front() == '{' ||
                  value.front() == ' ' || value.back() == ' ';
    return braces ? "{" + value + "}" : value;
}

namespace {

std::string keyword(const std::map<std::string, std::string>& k,
                    std::initializer_list<const char*> names) {
    for (const char* n : names) {
        auto it = k.find(n);
        if (it != k.end()) return it->second;
    }
    return {};
}

}  // namespace

std::string odbcConnectionString(const std::map<std::string, std::string>& k) {
    std::string server = keyword(k, {"DATA SOURCE", "SERVER", "ADDRESS"});
    std::string database = keyword(k, {"INITIAL CATALOG", "DATABASE"});
    std::string user = keyword(k, {"USER ID", "UID"});
    std::string password = keyword(k, {"PASSWORD", "PWD"});
    // Each driver undoes its own quoting: FreeTDS's values are followed by further keywords.
    auto credentials = [&](bool freetds) {
        auto q = freetds ? freetdsQuote : braceQuote;
        return ";DATABASE=" + q(database) + ";UID=" + q(user) + ";PWD=" + q(password);
    };

    for (const odbc::DataSource& dsn : odbc::dataSources()) {
        if (!equalsNoCase(dsn.name, server)) continue;
        bool freetds = toUpper(dsn.driver).find("FREETDS") != std::string::npos ||
                       dsn.driver.find("libtdsodbc") != std::string::npos;
        std::string s = "DSN=" + braceQuote(dsn.name) + credentials(freetds);
        if (freetds) s += ";";  // FreeTDS keeps the closing brace of a value that ends the text
        // The SQLite driver waits out a locked file by a timeout of its own (100 s unless the
        // data source says less) and not by the statement timeout: it gets that at most.
        const long limit = odbc::kStatementTimeoutSeconds * 1000L;
        if (toUpper(dsn.driver).find("SQLITE") != std::string::npos) {
            std::string own = odbc::dataSourceOption(dsn.name, "Timeout");
            char* end = nullptr;
            long ms = own.empty() ? 0 : std::strtol(own.c_str(), &end, 10);
            if (own.empty() || *end || ms < 0 || ms > limit)
                s += ";Timeout=" + std::to_string(limit);
        }
        return s;
    }

    std::vector<std::string> drivers = odbc::driverNames();
    auto has = [&](const std::string& name) {
        for (auto& d : drivers)
            if (equalsNoCase(d, name)) return true;
        return false;
    };
    for (const char* ms : {"ODBC Driver 18 for SQL Server", "ODBC Driver 17 for SQL Server"})
        if (has(ms))
            return "DRIVER=" + braceQuote(ms) + ";SERVER=" + braceQuote(server) +
                   credentials(false) + ";TrustServerCertificate=yes";
    for (auto& d : drivers) {
        if (!equalsNoCase(d, "FreeTDS")) continue;
        // FreeTDS takes the port separately; "host,port" is how SQL Server clients write it.
        std::string host = server, port;
        size_t comma = server.rfind(',');
        if (comma != std::string::npos) {
            host = server.substr(0, comma);
            port = trimBlanks(server.substr(comma + 1));
        }
        std::string s = "DRIVER=" + braceQuote(d) + ";SERVER=" + freetdsQuote(host);
        if (!port.empty()) s += ";PORT=" + freetdsQuote(port);
        return s + credentials(true) + ";TDS_Version=7.4;ClientCharset=UTF-8";
    }
    throw KorError(errnum::kUnspecified,
                   "No SQL Server ODBC driver is installed (FreeTDS or Microsoft's), and '" +
                       server + "' is not a configured data source.");
}

void openDestination(odbc::Connection& conn, const std::string& password, const std::string& user,
                     const std::string& database, const std::string& server) {
    std::string s = assembleConnectionString(password, user, database, server);
    conn.open(odbcConnectionString(parseConnectionString(s)), kLoginTimeoutSeconds);
}

bool comparesKeysIgnoringTrailingBlanks(const odbc::Connection& conn) {
    return conn.dbmsName().find("SQL SERVER") != std::string::npos;
}

}  // namespace kordb
