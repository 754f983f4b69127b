#pragma once
// Shared by the companion's tests: the built kordb-cli, workbooks in JSON, the error files it
// names, and cleaning them up again.

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "tests/cli/process.h"
#include "tests/support/test_env.h"

namespace kordb::test {

inline std::filesystem::path binFolder() {
    const char* v = std::getenv("KORDB_BIN_DIR");
    return v ? std::filesystem::path(v) : std::filesystem::path("build/bin");
}

inline std::filesystem::path cliExe() {
    return binFolder() / "kordb-cli";
}

// A JSON text cell.
inline std::string T(const std::string& s) {
    std::string r = "\"";
    for (char c : s) {
        if (c == '"' || c == '\\') r += '\\';
        if (c == '\n' || c == '\t') {
            r += c == '\n' ? "\\n" : "\\t";
            continue;
        }
        r += c;
    }
    return r + "\"";
}
inline const std::string Null = "null";

inline std::string jsonRow(const std::vector<std::string>& cells) {
    std::string r = "[";
    for (size_t i = 0; i < cells.size(); ++i) r += (i ? "," : "") + cells[i];
    return r + "]";
}

inline std::string jsonSheet(const std::string& name,
                             const std::vector<std::vector<std::string>>& rows) {
    std::string r = "{\"name\":" + T(name) + ",\"rows\":[";
    for (size_t i = 0; i < rows.size(); ++i) r += (i ? "," : "") + jsonRow(rows[i]);
    return r + "]}";
}

inline std::string jsonBook(const std::vector<std::string>& sheets) {
    std::string r = "{\"sheets\":[";
    for (size_t i = 0; i < sheets.size(); ++i) r += (i ? "," : "") + sheets[i];
    return r + "]}";
}

struct Item {
    std::string code;  // JSON cell
    std::string name;  // JSON cell
    std::string plu;   // JSON cell
};

// An item sheet with every migrated column; the cells not given stay empty, except a price.
inline std::string itemSheet(const std::vector<Item>& items) {
    std::vector<std::string> header;
    for (const std::string& c : itemColumns()) header.push_back(T(c));
    std::vector<std::vector<std::string>> rows = {header};
    for (const Item& it : items) {
        std::vector<std::string> row(header.size(), Null);
        row[0] = it.code;
        row[1] = it.name;
        row[25] = "2.5";  // BasedUnitPrice
        row.back() = it.plu;
        rows.push_back(row);
    }
    return jsonSheet("KINV_MT_ITEM", rows);
}

// A class sheet: ClassCode, ClassName, ClassTypeCode, AppCode.
inline std::string classSheet(const std::vector<std::vector<std::string>>& rows) {
    std::vector<std::vector<std::string>> all = {
        {T("ClassCode"), T("ClassName"), T("ClassTypeCode"), T("AppCode")}};
    all.insert(all.end(), rows.begin(), rows.end());
    return jsonSheet("KINV_MT_CLASS", all);
}

// The folder named by the companion's "# error files: " note; empty when there is none.
inline std::filesystem::path noteFolder(const std::string& err) {
    const std::string prefix = "# error files: ";
    for (const std::string& l : lines(err))
        if (l.rfind(prefix, 0) == 0) return l.substr(prefix.size());
    return {};
}

inline int countNotes(const std::string& err, const std::string& prefix) {
    int n = 0;
    for (const std::string& l : lines(err))
        if (l.rfind(prefix, 0) == 0) ++n;
    return n;
}

// Lines of an error file (each ended by CR LF); nullopt when the file does not exist.
inline std::optional<std::vector<std::string>> errorFileLines(const std::filesystem::path& f) {
    if (!std::filesystem::exists(f)) return std::nullopt;
    std::vector<std::string> out;
    for (std::string l : lines(readFile(f))) {
        if (!l.empty() && l.back() == '\r') l.pop_back();
        out.push_back(l);
    }
    return out;
}

// Removes the error files of one workbook title from a folder.
inline void removeErrorFiles(const std::filesystem::path& folder, const std::string& title) {
    std::error_code ec;
    if (!std::filesystem::is_directory(folder, ec)) return;
    for (const auto& e : std::filesystem::directory_iterator(folder, ec))
        if (e.path().filename().string().rfind(title + "_Migrate_", 0) == 0)
            std::filesystem::remove(e.path(), ec);
}

// A companion test: a scratch folder and a settings folder of its own, and a workbook title
// of its own, since error files land in the shared bin folder.
class CompanionTest : public ::testing::Test {
  protected:
    explicit CompanionTest(std::string prefix) : prefix_(std::move(prefix)) {}

    void SetUp() override {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        name = std::string(info->test_suite_name()) + "_" + info->name();
        dir = scratchDir(name);
        config = dir / "config";
        std::filesystem::create_directories(config);
        title = prefix_ + "_" + name + "_" + std::to_string(::getpid()) + ".xls";
        removeErrorFiles(binFolder(), title);
    }
    void TearDown() override { removeErrorFiles(binFolder(), title); }

    std::filesystem::path book(const std::vector<std::string>& sheets) {
        return writeWorkbook(dir / title, jsonBook(sheets));
    }

    // kordb-cli with the test's own settings folder and the given password variable.
    Outcome runCli(const std::vector<std::string>& args, RunOptions o,
                   std::optional<std::string> password) {
        o.env.insert(o.env.begin(), {"KORDB_PASSWORD", std::move(password)});
        o.env.insert(o.env.begin(), {"XDG_CONFIG_HOME", config.string()});
        return runProgram(cliExe(), args, o);
    }

    std::string name, title;
    std::filesystem::path dir, config;

  private:
    std::string prefix_;
};

}  // namespace kordb::test
