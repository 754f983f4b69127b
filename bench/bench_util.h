#pragma once
// What the benchmarks share: a clock, peak memory, and a window stand-in that keeps its list
// as a list box does and notes when each line arrived.

#include <sys/resource.h>

#include <chrono>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "core/operator.h"
#include "settings/odbc.h"

namespace kordb::bench {

using Clock = std::chrono::steady_clock;

inline double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

inline double cpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

inline double peakMegabytes() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_maxrss) / 1024.0;
}

// A debtor sheet of rows rows for tests/support/write_xls.py, as JSON: codes d1, d2, ..., some
// cells empty, some numbers.
inline std::string debtorSheetJson(long rows) {
    std::string json =
        "{\"sheets\":[{\"name\":\"KLED_MT_DEBTOR\",\"rows\":[[\"DebtorCode\","
        "\"DebtorName\",\"GLCode\",\"AreaCode\",\"Address1\",\"Address2\",\"Address3\","
        "\"Address4\",\"DeliveryAddress1\",\"DeliveryAddress2\",\"DeliveryAddress3\","
        "\"DeliveryAddress4\",\"ContactPerson\",\"TelephoneNo\",\"HandphoneNo\","
        "\"EmailAddress\",\"Website\",\"CreditLimit\",\"CreditTerm\",\"CJ5No\",\"FaxNo\","
        "\"PaymentTerm\"]";
    for (long r = 1; r <= rows; ++r) {
        std::string n = std::to_string(r);
        json += ",[\"d" + n + "\",\"Debtor " + n + "\"," + (r % 3 ? "\"GL1\"" : "null") +
                ",null,\"" + n +
                " Jalan Besar\",null,null,\"Town\",null,null,null,null,\"Ann\",\"03-" + n +
                "\",null,\"d" + n + "@example.com\",null," + std::to_string(r % 997) +
                ",30,null,null," + (r % 2 ? "30" : "null") + "]";
    }
    return json + "]}]}";
}

class BenchOperator : public Operator {
  public:
    std::string fields[5];
    // The connection fields for the benchmark's own server, as the window's would hold them.
    void fillConnection(const std::string& source, const std::string& database) {
        fields[0] = source;
        fields[1] = database;
        fields[2] = "kordb";
        fields[3] = "kordb-pass";
    }
    std::string combo;
    std::vector<std::string> list;
    std::vector<Clock::time_point> lineTimes;
    std::vector<std::string> boxes;

    void listClear() override { list.clear(); }
    void listAdd(const std::string& line) override {
        list.push_back(line);
        lineTimes.push_back(Clock::now());
    }
    void listRefresh() override {}
    int messageBox(const std::string& text, const std::string&, Icon, Buttons) override {
        boxes.push_back(text);
        return kAnswerOk;
    }
    void setVerifyEnabled(bool) override {}
    void setStartEnabled(bool) override {}
    void showConnected() override {}
    void setFocus(Control) override {}
    std::string fieldText(int i) override { return fields[i]; }
    void setFieldText(int i, const std::string& t) override { fields[i] = t; }
    std::string comboText() override { return combo; }
    void comboClear() override {}
    void comboAdd(const std::string&) override {}
    std::optional<FileChoice> openFileDialog(const std::string&, const std::string&,
                                             const std::string&) override {
        return std::nullopt;
    }
};

// Runs an SQL script of ";"-separated statements, "--" comment lines left out.
inline void execScript(odbc::Connection& c, const std::string& text) {
    std::string body;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        if (line.rfind("--", 0) != 0) body += line + "\n";
    std::istringstream parts(body);
    for (std::string s; std::getline(parts, s, ';');) {
        if (s.find_first_not_of(" \n\t") == std::string::npos) continue;
        odbc::Statement st(c);
        st.execDirect(s);
    }
}

inline long count(odbc::Connection& c, const std::string& table) {
    odbc::Statement st(c);
    st.execDirect("SELECT COUNT(*) FROM " + table);
    return long(st.fetchAll().at(0).at(0).toNumber());
}

}  // namespace kordb::bench
