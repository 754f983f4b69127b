#include "tests/support/test_env.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "settings/destination.h"
#include "settings/odbc.h"

namespace kordb::test {

namespace fs = std::filesystem;

namespace {

std::string env(const char* name, const char* fallback = "") {
    const char* v = std::getenv(name);
    return v ? v : fallback;
}

std::unique_ptr<odbc::Connection> connect(const Destination& d) {
    auto c = std::make_unique<odbc::Connection>();
    c->open(odbcConnectionString(parseConnectionString(
                assembleConnectionString(d.password, d.user, d.database, d.server))),
            5);
    return c;
}

std::vector<std::string> splitStatements(const std::string& text) {
    std::vector<std::string> out;
    std::string cur;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("--", 0) == 0) continue;
        cur += line + "\n";
    }
    size_t start = 0;
    while (start < cur.size()) {
        size_t end = cur.find(';', start);
        if (end == std::string::npos) end = cur.size();
        std::string s = cur.substr(start, end - start);
        if (s.find_first_not_of(" \n\t\r") != std::string::npos) out.push_back(s);
        start = end + 1;
    }
    return out;
}

}  // namespace

fs::path scratchDir(const std::string& name) {
    fs::path base = env("KORDB_TEST_DIR", "/tmp/kordb-tests");
    fs::path dir = base / name;
    fs::remove_all(dir);
    fs::create_directories(dir);
    return dir;
}

fs::path writeWorkbook(const fs::path& file, const std::string& json) {
    fs::path script = fs::path(env("KORDB_SOURCE_DIR", ".")) / "tests/support/write_xls.py";
    std::string cmd = "/usr/bin/python3 '" + script.string() + "' '" + file.string() + "'";
    FILE* p = popen(cmd.c_str(), "w");
    if (!p) throw std::runtime_error("cannot run " + cmd);
    fwrite(json.data(), 1, json.size(), p);
    if (pclose(p) != 0) throw std::runtime_error("writing workbook failed: " + cmd);
    return file;
}

Destination freshSqlite(const std::string& name) {
    fs::path file = scratchDir("sqlite-" + name) / (name + ".db");
    return {"KordbLite", file.string(), "kordb", "kordb-pass"};
}

bool postgresAvailable() {
    std::ifstream in(env("ODBCINI"));
    std::string all((std::istreambuf_iterator<char>(in)), {});
    return all.find("[KordbPg]") != std::string::npos;
}

Destination freshPostgres(const std::string& name) {
    Destination admin{"KordbPg", "postgres", "kordb", "kordb-pass"};
    execSql(admin, "DROP DATABASE IF EXISTS " + name + " WITH (FORCE); CREATE DATABASE " + name);
    return {"KordbPg", name, "kordb", "kordb-pass"};
}

void execSql(const Destination& d, const std::string& statements) {
    auto c = connect(d);
    for (const std::string& s : splitStatements(statements)) {
        odbc::Statement st(*c);
        st.execDirect(s);
    }
}

std::vector<std::vector<std::string>> query(const Destination& d, const std::string& sql) {
    auto c = connect(d);
    odbc::Statement st(*c);
    st.execDirect(sql);
    std::vector<std::vector<std::string>> out;
    for (auto& row : st.fetchAll()) {
        std::vector<std::string> r;
        for (auto& v : row) r.push_back(v.isNull() ? "<null>" : v.toText());
        out.push_back(std::move(r));
    }
    return out;
}

std::vector<std::string> itemColumns() {
    std::vector<std::string> c = {"ItemCode", "ItemName", "AppCode", "PosDescription"};
    for (int n = 1; n <= 10; ++n) c.push_back("PosDescription" + std::to_string(n));
    for (int n = 1; n <= 10; ++n) c.push_back("ClassCode" + std::to_string(n));
    for (const char* s : {"BasedMeasure", "BasedUnitPrice", "BasedUnitCost", "MinBasedUnitPrice",
                          "MaxBasedUnitPrice", "WarningQty", "ReorderQty", "MaxQty", "MinQty"})
        c.push_back(s);
    for (int n = 1; n <= 30; ++n) c.push_back("AdvPrice" + std::to_string(n));
    c.push_back("DefCreditorCode");
    c.push_back("PluCode");
    return c;
}

std::string readFile(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), {});
}

std::string destinationDdl() {
    return readFile(fs::path(env("KORDB_SOURCE_DIR", ".")) / "demo/destination.sql");
}

}  // namespace kordb::test
