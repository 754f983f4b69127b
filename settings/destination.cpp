#include "settings/destination.h"

#ifdef _WIN32
#include <windows.h>  // the ODBC headers need its types
#endif
#include <sql.h>
#include <sqlext.h>

#include <vector>

#include "app/errors.h"
#include "app/procedures.h"
#include "app/text.h"
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

namespace {

std::string keyword(const std::map<std::string, std::string>& k,
                    std::initializer_list<const char*> names) {
    for (const char* n : names) {
        auto it = k.find(n);
        if (it != k.end()) return it->second;
    }
    return {};
}

// Names listed by the driver manager: data sources (direction SQL_FETCH_FIRST..) or drivers.
std::vector<std::string> listNames(bool drivers) {
    std::vector<std::string> names;
    SQLHENV env = SQL_NULL_HENV;
    if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env))) return names;
    SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
    SQLUSMALLINT dir = SQL_FETCH_FIRST;
    for (;;) {
        SQLCHAR name[512] = {}, desc[1024] = {};
        SQLSMALLINT nameLen = 0, descLen = 0;
        SQLRETURN rc =
            drivers ? SQLDrivers(env, dir, name, sizeof name, &nameLen, desc, sizeof desc, &descLen)
                    : SQLDataSources(env, dir, name, sizeof name, &nameLen, desc, sizeof desc,
                                     &descLen);
        if (!SQL_SUCCEEDED(rc)) break;
        names.emplace_back(reinterpret_cast<char*>(name));
        dir = SQL_FETCH_NEXT;
    }
    SQLFreeHandle(SQL_HANDLE_ENV, env);
    return names;
}

}  // namespace

std::string odbcConnectionString(const std::map<std::string, std::string>& k) {
    std::string server = keyword(k, {"DATA SOURCE", "SERVER", "ADDRESS"});
    std::string database = keyword(k, {"INITIAL CATALOG", "DATABASE"});
    std::string user = keyword(k, {"USER ID", "UID"});
    std::string password = keyword(k, {"PASSWORD", "PWD"});
    std::string credentials = ";DATABASE=" + braceQuote(database) + ";UID=" + braceQuote(user) +
                              ";PWD=" + braceQuote(password);

    for (const std::string& dsn : listNames(false))
        if (equalsNoCase(dsn, server)) return "DSN=" + braceQuote(dsn) + credentials;

    std::vector<std::string> drivers = listNames(true);
    auto has = [&](const std::string& name) {
        for (auto& d : drivers)
            if (equalsNoCase(d, name)) return true;
        return false;
    };
    for (const char* ms : {"ODBC Driver 18 for SQL Server", "ODBC Driver 17 for SQL Server"})
        if (has(ms))
            return "DRIVER=" + braceQuote(ms) + ";SERVER=" + braceQuote(server) + credentials +
                   ";TrustServerCertificate=yes";
    for (auto& d : drivers) {
        if (!equalsNoCase(d, "FreeTDS")) continue;
        // FreeTDS takes the port separately; "host,port" is how SQL Server clients write it.
        std::string host = server, port;
        size_t comma = server.rfind(',');
        if (comma != std::string::npos) {
            host = server.substr(0, comma);
            port = trimBlanks(server.substr(comma + 1));
        }
        std::string s = "DRIVER=" + braceQuote(d) + ";SERVER=" + braceQuote(host);
        if (!port.empty()) s += ";PORT=" + braceQuote(port);
        return s + credentials + ";TDS_Version=7.4;ClientCharset=UTF-8";
    }
    throw KorError(errnum::kUnspecified,
                   "No SQL Server ODBC driver is installed (FreeTDS or Microsoft's), and '" +
                       server + "' is not a configured data source.");
}

void CCONNECT_Click(Form& f) {
    try {
        for (int i = 0; i <= 4; ++i) {
            if (f.ui.fieldText(i).empty()) {
                f.ui.messageBox("Empty Field !!!", "Message", Icon::Critical, Buttons::Ok);
                f.ui.setFocus(fieldControl(i));
                return;
            }
        }
        if (f.ui.comboText().empty()) {
            f.ui.messageBox("Empty Field !!!", "Message", Icon::Critical, Buttons::Ok);
            f.ui.setFocus(Control::Combo1);
            return;
        }
        OpenDestination(f);
        // Saved whether or not the open succeeded: the operator's typing is kept either way.
        f.settings.save(kSettingsApp, kSettingsSection, "cServer", f.ui.fieldText(0));
        f.settings.save(kSettingsApp, kSettingsSection, "ConnTable", f.ui.fieldText(1));
        f.settings.save(kSettingsApp, kSettingsSection, "cLogin", f.ui.fieldText(2));
        f.settings.save(kSettingsApp, kSettingsSection, "cPassword", f.ui.fieldText(3));
    } catch (const std::exception& e) {
        showError(f, e);
    }
}

void OpenDestination(Form& f) {
    try {
        f.ui.setVerifyEnabled(false);
        f.st.DestConn.reset();
        f.st.DestConn = std::make_unique<odbc::Connection>();
        std::string s = assembleConnectionString(f.ui.fieldText(3), f.ui.fieldText(2),
                                                 f.ui.fieldText(1), f.ui.fieldText(0));
        f.st.DestConn->open(odbcConnectionString(parseConnectionString(s)), kLoginTimeoutSeconds);
        f.ui.showConnected();
        f.ui.setVerifyEnabled(true);
    } catch (const std::exception&) {
        // The driver's own text is not shown: the operator checks the four fields.
        f.ui.messageBox("Error connection !!!", "Message", Icon::Critical, Buttons::Ok);
        f.ui.setStartEnabled(false);
        f.ui.setVerifyEnabled(false);
    }
}

}  // namespace kordb
