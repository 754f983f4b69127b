#include "migration/check.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <map>
#include <memory>

#include "core/tables.h"
#include "core/text.h"
#include "form/form.h"
#include "form/selection.h"
#include "migration/journal.h"
#include "migration/passes.h"
#include "migration/row_writer.h"
#include "migration/stored_value.h"
#include "settings/odbc.h"
#include "settings/settings_store.h"

namespace kordb {

namespace {

using Verdict = CheckFinding::Verdict;

// Start's statements per worksheet row one row at a time (a table with a trigger): an item row
// looks its item up, stores it, looks its PLU row up and stores that, and the catalog and the
// journal add about one more; any other row looks its key up and inserts.
constexpr int kItemRoundTrips = 5;
constexpr int kMasterRoundTrips = 2;
constexpr int kRoundTripSamples = 20;

// The passes ask the window for the workbook and the sheet and nothing else; the check shows
// no box and adds no list line.
class QuietOperator : public WindowlessOperator {
  public:
    QuietOperator(std::string path, std::string sheet)
        : path_(std::move(path)), sheet_(std::move(sheet)) {}
    int messageBox(const std::string&, const std::string&, Icon, Buttons) override {
        return kAnswerOk;
    }
    std::string fieldText(int index) override { return index == kPath ? path_ : std::string(); }
    std::string comboText() override { return sheet_; }

  private:
    std::string path_, sheet_;
};

// The form the passes run in: the sheet picked as a click on the list picks it, the
// connection borrowed.
struct QuietForm {
    QuietForm(odbc::Connection& conn, const CheckInput& in)
        : ui(pathToUtf8(in.workbook), in.sheet),
          settings(in.workbook.parent_path()),
          form(ui, settings, in.workbook.parent_path()) {
        form.st.DestConn = std::shared_ptr<odbc::Connection>(std::shared_ptr<void>(), &conn);
        form.st.TableName = trimUpper(in.sheet);
        form.st.SheetName = form.st.TableName;
        form.st.KeyColumn = table::keyColumnFor(form.st.TableName);
    }
    QuietOperator ui;
    SettingsStore settings;
    Form form;
};

struct Target {
    std::string table;
    std::string key;
};

size_t characters(const std::string& utf8) {
    return size_t(std::count_if(utf8.begin(), utf8.end(), [](char c) {
        return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    }));
}

std::string typeLabel(const odbc::ColumnMeta& m) {
    std::string name = m.typeName;
    if (name.empty() || name.find('(') != std::string::npos) return name;
    const std::string lower = toUpper(name);
    if (m.sqlType.isText() && m.size > 0 && m.size < (1u << 30))
        name += "(" + std::to_string(m.size) + ")";
    else if ((lower.find("NUMERIC") != std::string::npos ||
              lower.find("DECIMAL") != std::string::npos) &&
             m.size > 0)
        name += "(" + std::to_string(m.size) + "," + std::to_string(std::max(m.digits, 0)) + ")";
    return name;
}

std::string secondsText(double s) {
    char buf[48];
    if (s < 60)
        std::snprintf(buf, sizeof buf, "%.0f s", std::max(1.0, std::ceil(s)));
    else if (s < 3600)
        std::snprintf(buf, sizeof buf, "%.0f min", std::ceil(s / 60));
    else
        std::snprintf(buf, sizeof buf, "%.1f h", s / 3600);
    return buf;
}

// What the rows of the sheet give one column.
struct ColumnStat {
    long written = 0;
    size_t longest = 0;
    long misfits = 0;
    long firstRow = 0;
    std::string firstReason;
};

// The plan's judgement, summed up per column: every value a column would refuse, every new
// row leaving a NOT NULL column without a default empty. Rows that fit are seen by later ones
// as if stored, as in the plan. Notes the first rows Start would insert and update.
class Judge : public RowHandler {
  public:
    bool listing() const override { return false; }
    void beginRow(long sheetRow, const Value&) override {
        row = sheetRow;
        first_ = true;
        rowFits_ = true;
        mainAdds_ = false;
        ++rows;
    }
    void write(DestRecordset& rs) override {
        DestTable& t = rs.table();
        const auto& meta = t.columnMeta();
        bool fits = true;
        auto a = rs.assigned().begin();
        for (size_t i = 0; i < meta.size(); ++i) {
            std::string why;
            if (a != rs.assigned().end() && a->first == int(i)) {
                ColumnStat& s = stat(t, int(i));
                ++s.written;
                if (meta[i].sqlType.isText())
                    s.longest = std::max(s.longest, characters(a->second.toText()));
                why = refusal(meta[i], a->second);
                ++a;
            } else if (rs.adding() && !meta[i].nullable && !meta[i].hasDefault) {
                why = "empty but NOT NULL without default";
            }
            if (why.empty()) continue;
            fits = false;
            ColumnStat& s = stat(t, int(i));
            if (s.misfits++ == 0) s.firstRow = row, s.firstReason = why;
        }
        if (fits) t.simulate(rs);
        rowFits_ = rowFits_ && fits;
        if (first_) {
            mainAdds_ = rs.adding();
            mostAssigned = std::max(mostAssigned, rs.assigned().size());
        }
        first_ = false;
    }
    void skip(bool) override {}
    void endRow() override {
        if (first_ || !rowFits_) return;  // wrote nothing, or Start would stop here
        long& chosen = mainAdds_ ? firstInsert : firstUpdate;
        if (chosen == 0) chosen = row;
    }

    ColumnStat& stat(DestTable& t, int i) { return stats[{t.name(), toUpper(t.columnName(i))}]; }

    std::map<std::pair<std::string, std::string>, ColumnStat> stats;
    long rows = 0;
    size_t mostAssigned = 0;  // columns a row of the sheet's own table assigns, at most
    long firstInsert = 0;     // worksheet rows; 0 when none
    long firstUpdate = 0;
    long row = 0;

  private:
    bool first_ = true;
    bool rowFits_ = true;
    bool mainAdds_ = false;
};

struct StopTrial {};

enum class Right { Select, Insert, Update, Delete };
constexpr const char* kRightNames[] = {"SELECT", "INSERT", "UPDATE", "DELETE"};

struct RightState {
    long provedAt = 0;  // worksheet row
    std::string refused;
};

// Start's own statements at the chosen rows, inside the caller's transaction: a new row is
// inserted, read back, changed (same values, through Start's update) and deleted (as undo
// deletes); a row found is changed and read back. Other rows are only looked up. Stops at the
// first refusal: an engine may answer nothing more in a failed transaction.
class Trial : public RowHandler {
  public:
    Trial(odbc::Connection& conn, long insertRow, long updateRow, CheckReport& report, bool probe)
        : conn_(conn),
          insertRow_(insertRow),
          updateRow_(updateRow),
          report_(report),
          probe_(probe) {}

    bool listing() const override { return false; }
    void beginRow(long sheetRow, const Value& key) override {
        row_ = sheetRow;
        shown_ = "row " + std::to_string(sheetRow) + " [" + key.toText() + "]";
        first_ = true;
    }
    void write(DestRecordset& rs) override {
        const bool chosen = row_ == insertRow_ || row_ == updateRow_;
        const bool main = first_;
        first_ = false;
        if (!chosen || (!rs.adding() && rs.assigned().empty())) return;
        DestTable& t = rs.table();
        const bool adding = rs.adding();
        const auto written = rs.assigned();
        const int keyIndex = t.columnIndex(t.keyColumn());
        Value key = adding ? Value::null() : rs.original()[size_t(keyIndex)];
        for (const auto& [i, v] : written)
            if (i == keyIndex) key = v;

        attempt(t, adding ? Right::Insert : Right::Update, [&] { rs.update(); });
        DestRecordset* back = nullptr;
        std::vector<DestRecordset> rows;
        attempt(t, Right::Select, [&] { rows = t.lookupAll(key); });
        const auto& meta = t.columnMeta();
        std::string differs;
        for (DestRecordset& r : rows) {
            differs.clear();
            for (const auto& [i, v] : written) {
                if (sameStored(meta[size_t(i)], r.original()[size_t(i)], v)) continue;
                differs = t.columnName(i) + " holds " + shownValue(r.original()[size_t(i)]) +
                          ", written " + shownValue(storedForm(meta[size_t(i)], v));
                break;
            }
            if (differs.empty()) {
                back = &r;
                break;
            }
        }
        if (!back) {
            report_.findings.push_back(
                {Verdict::DoesNotFit, "read back " + t.name() + " " + shown_,
                 "does not fit: " +
                     (rows.empty() ? std::string("the row written is not found") : differs)});
            stop();
        }
        report_.findings.push_back(
            {Verdict::Fits, "read back " + t.name() + " " + shown_, "fits, as written"});
        if (adding) {
            // The row stays as written: its first column set to what it holds.
            const int column = written.empty() ? keyIndex : written.front().first;
            back->set(t.columnName(column), back->original()[size_t(column)]);
            attempt(t, Right::Update, [&] { back->update(); });
        }
        if (main && probe_) probe(t, key);
        if (!adding) return;
        // Found again: the probe may have changed what identifies it.
        attempt(t, Right::Select, [&] { rows = t.lookupAll(key); });
        if (!rows.empty()) attempt(t, Right::Delete, [&] { rows.front().remove(); });
    }
    void skip(bool) override {}
    void endRow() override {
        if (row_ >= std::max(insertRow_, updateRow_)) throw StopTrial{};
    }

    std::map<std::string, std::map<Right, RightState>> rights;
    bool stopped = false;  // by a refusal or a misfit, before every chosen row was tried

  private:
    template <class F>
    void attempt(DestTable& t, Right r, F statement) {
        RightState& s = rights[t.name()][r];
        try {
            statement();
        } catch (const std::exception& e) {
            s.refused = e.what();
            stop();
        }
        if (s.provedAt == 0) s.provedAt = row_;
    }

    [[noreturn]] void stop() {
        stopped = true;
        throw StopTrial{};
    }

    // Values a driver may convert on its own, written to the row just written, read back and
    // compared; the update must count the one row.
    void probe(DestTable& t, const Value& key) {
        const auto& meta = t.columnMeta();
        const std::string keyColumn = t.keyColumn();
        auto pick = [&](auto good) -> int {
            for (size_t i = 0; i < meta.size(); ++i)
                if (!equalsNoCase(meta[i].name, keyColumn) && !meta[i].sqlType.isDateTime() &&
                    good(meta[i]))
                    return int(i);
            return -1;
        };
        const Value text = Value::text("\xE4\xB8\xAD\xE6\x96\x87 \xF0\x9F\x98\x80");
        int textColumn = pick([&](const odbc::ColumnMeta& m) {
            return m.sqlType.isText() && refusal(m, text).empty();
        });
        auto number = [&](const odbc::ColumnMeta& m) {
            return !m.sqlType.isText() && refusal(m, Value::number(3.5)).empty() &&
                   storedForm(m, Value::number(3.5)).isNumber();
        };
        int fraction = pick([&](const odbc::ColumnMeta& m) {
            return number(m) && storedForm(m, Value::number(0.3)).toNumber() != 0;
        });
        int whole = pick([&](const odbc::ColumnMeta& m) {
            return number(m) && storedForm(m, Value::number(3.5)).toNumber() == 4;
        });
        const std::pair<int, Value> probes[] = {{textColumn, text},
                                                {fraction, Value::number(0.3)},
                                                {fraction, Value::number(1.23456)},
                                                {whole, Value::number(3.5)}};
        for (const auto& [i, v] : probes) {
            const std::string subject = "probe " + t.name() + "." +
                                        (i < 0 ? std::string("?") : t.spelledName(i)) + " " +
                                        shownValue(v);
            if (i < 0) {
                report_.findings.push_back({Verdict::Info, subject, "no column of this kind"});
                continue;
            }
            const odbc::ColumnMeta& m = meta[size_t(i)];
            const std::string quote = conn_.identifierQuote();
            const std::string column = quoteIdentifier(t.columnName(i), quote);
            const std::string where =
                " WHERE " + quoteIdentifier(t.columnName(t.columnIndex(keyColumn)), quote) + "=?";
            const std::string table = tableReference(t.name(), quote);
            Value stored;
            long count = 0;
            try {
                odbc::Statement up(conn_);
                up.prepare("UPDATE " + table + " SET " + column + "=?" + where);
                up.bind(1, v, m.sqlType, m.size, std::max(m.digits, 0));
                up.bind(2, Value::text(key.toText()));
                up.execute();
                count = long(up.rowCount());
                odbc::Statement read(conn_);
                read.prepare("SELECT " + column + " FROM " + table + where);
                read.bind(1, Value::text(key.toText()));
                read.execute();
                auto rows = read.fetchAll();
                if (!rows.empty() && !rows.front().empty()) stored = rows.front().front();
            } catch (const std::exception& e) {
                report_.findings.push_back(
                    {Verdict::DoesNotFit, subject, std::string("does not fit: ") + e.what()});
                stop();
            }
            if (count != 1)
                report_.findings.push_back(
                    {Verdict::DoesNotFit, subject,
                     "does not fit: the update counted " + std::to_string(count) +
                         " rows, not 1 (a trigger without SET NOCOUNT ON, or the key names "
                         "several rows)"});
            else if (!sameStored(m, stored, v))
                report_.findings.push_back({Verdict::DoesNotFit, subject,
                                            "does not fit: read back " + shownValue(stored) +
                                                ", meant " + shownValue(storedForm(m, v))});
            else
                report_.findings.push_back({Verdict::Fits, subject, "fits, read back as meant"});
        }
    }

    odbc::Connection& conn_;
    long insertRow_, updateRow_;
    CheckReport& report_;
    bool probe_;
    long row_ = 0;
    std::string shown_;
    bool first_ = true;
};

void add(CheckReport& r, Verdict v, std::string subject, std::string detail) {
    r.findings.push_back({v, std::move(subject), std::move(detail)});
}

void runPass(Form& f, bool items, SheetRecordset& sheet, RowHandler& h) {
    if (items)
        itemPass(f, sheet, h);
    else
        masterPass(f, sheet, h);
}

// The tables, their columns and their keys; false when a table or a column is missing.
// Start's round trips a worksheet row. A batch of rows (none where a table has a trigger) looks
// its keys up in one statement a table, inserts its new rows in statements of as many rows as
// the parameters allow (the look-up rows two columns each), and is a transaction of its own.
double roundTripsPerRow(odbc::Connection& conn, const std::vector<Target>& targets,
                        size_t columns) {
    const bool items = targets.size() > 1;
    for (const Target& tg : targets)
        if (conn.mayHaveTriggers(tg.table)) return items ? kItemRoundTrips : kMasterRoundTrips;
    const double batch = double(kBatchRows);
    double trips =
        double(targets.size()) + 2 + std::ceil(batch / double(DestTable::rowsPerInsert(columns)));
    if (items) trips += std::ceil(batch / double(DestTable::rowsPerInsert(2)));
    return trips / batch;
}

// Two significant digits: "5", "0.044".
std::string significant(double x) {
    char buf[32];
    auto r = std::to_chars(buf, buf + sizeof buf, x, std::chars_format::general, 2);
    return std::string(buf, r.ptr);
}

bool checkTables(odbc::Connection& conn, const std::vector<Target>& targets, CheckReport& r) {
    bool complete = true;
    for (const Target& tg : targets) {
        DestTable t(&conn, tg.table, tg.key);
        try {
            t.lookup(std::string());
        } catch (const std::exception& e) {
            add(r, Verdict::DoesNotFit, "table " + tg.table,
                std::string("does not fit: missing or not readable: ") + e.what());
            complete = false;
            continue;
        }
        long count = -1;
        try {
            odbc::Statement st(conn);
            st.execDirect("SELECT COUNT(*) FROM " +
                          tableReference(tg.table, conn.identifierQuote()));
            auto rows = st.fetchAll();
            if (!rows.empty() && !rows[0].empty()) count = long(rows[0][0].toNumber());
        } catch (const std::exception&) {
        }
        add(r, Verdict::Info, "table " + tg.table,
            count < 0 ? std::string("present") : std::to_string(count) + " rows");
        for (const std::string& c : ruleColumns(tg.table, tg.key)) {
            try {
                t.columnIndex(c);
            } catch (const std::exception&) {
                add(r, Verdict::DoesNotFit, "column " + tg.table + "." + c,
                    "does not fit: missing");
                complete = false;
            }
        }

        // Without an index each look-up reads the whole table.
        std::string how;
        std::vector<std::string> pk = conn.primaryKey(tg.table);
        if (pk.size() == 1 && equalsNoCase(pk[0], tg.key)) how = "primary key";
        std::vector<odbc::IndexMeta> indexes;
        if (how.empty()) indexes = conn.indexesOf(tg.table);
        for (const auto& ix : indexes)
            if (ix.unique && ix.columns.size() == 1 && equalsNoCase(ix.columns[0], tg.key))
                how = "unique index " + ix.name;
        for (const auto& ix : indexes)
            if (how.empty() && !ix.columns.empty() && equalsNoCase(ix.columns[0], tg.key))
                how = "index " + ix.name + " (not unique)";
        if (how.empty())
            add(r, Verdict::DoesNotFit, "key " + tg.table + "." + tg.key,
                "does not fit: no primary key and no index; each look-up reads the whole table" +
                    (count < 0 ? std::string() : " (" + std::to_string(count) + " rows)"));
        else
            add(r, Verdict::Fits, "key " + tg.table + "." + tg.key, "fits, " + how);
    }
    return complete;
}

void reportColumns(odbc::Connection& conn, const std::vector<Target>& targets, const Judge& j,
                   CheckReport& r) {
    for (const Target& tg : targets) {
        DestTable t(&conn, tg.table, tg.key);
        t.lookup(std::string());
        const auto& meta = t.columnMeta();
        std::vector<std::string> shown;
        // Rule columns as the rules spell them, others as the table does.
        auto line = [&](const std::string& name, bool rule) {
            std::string upper = toUpper(name);
            if (std::find(shown.begin(), shown.end(), upper) != shown.end()) return;
            shown.push_back(upper);
            const odbc::ColumnMeta& m = meta[size_t(t.columnIndex(name))];
            const std::string subject =
                "column " + tg.table + "." + (rule ? name : m.name) + " " + typeLabel(m);
            auto it = j.stats.find({tg.table, upper});
            ColumnStat s = it == j.stats.end() ? ColumnStat() : it->second;
            if (s.misfits > 0) {
                add(r, Verdict::DoesNotFit, subject,
                    "does not fit: row " + std::to_string(s.firstRow) + " " + s.firstReason +
                        (s.misfits > 1 ? "; " + std::to_string(s.misfits) + " rows in all"
                                       : std::string()));
            } else if (s.written == 0) {
                add(r, Verdict::Fits, subject, "fits, nothing written by this sheet");
            } else if (m.sqlType.isText()) {
                add(r, Verdict::Fits, subject,
                    "fits, longest " + std::to_string(s.longest) + " characters");
            } else {
                add(r, Verdict::Fits, subject, "fits, " + std::to_string(s.written) + " values");
            }
        };
        for (const std::string& c : ruleColumns(tg.table, tg.key)) line(c, true);
        // Columns the rules leave alone show only when a new row would leave them empty
        // against their NOT NULL.
        for (const auto& [key, s] : j.stats)
            if (key.first == tg.table && s.misfits > 0) line(key.second, false);
    }
}

double roundTripMs(odbc::Connection& conn) {
    std::vector<double> ms;
    odbc::Statement st(conn);
    for (int i = 0; i < kRoundTripSamples; ++i) {
        auto start = std::chrono::steady_clock::now();
        st.execDirect("SELECT 1");
        st.fetchAll();
        ms.push_back(
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                .count());
    }
    std::sort(ms.begin(), ms.end());
    return (ms[ms.size() / 2 - 1] + ms[ms.size() / 2]) / 2;
}

}  // namespace

bool CheckReport::fits() const {
    return !workbookUnreadable && misfits() == 0;
}

int CheckReport::misfits() const {
    return int(std::count_if(findings.begin(), findings.end(), [](const CheckFinding& f) {
        return f.verdict == Verdict::DoesNotFit;
    }));
}

std::string checkLine(const CheckFinding& f) {
    return shownValue(Value::text(f.subject + ": " + f.detail));
}

std::string checkSummary(const CheckReport& r, const std::string& sheet) {
    if (r.workbookUnreadable) return "check: the sheet " + sheet + " cannot be read";
    int n = r.misfits();
    if (n == 0) return "check: the destination fits " + sheet;
    return "check: " + std::to_string(n) + (n == 1 ? " finding does" : " findings do") +
           " not fit " + sheet;
}

CheckReport checkDestination(odbc::Connection& conn, const CheckInput& in) {
    CheckReport r;
    add(r, Verdict::Info, "server", conn.dbmsName() + " " + conn.dbmsVersion());
    add(r, Verdict::Info, "driver", conn.driverName() + " " + conn.driverVersion());

    QuietForm q(conn, in);
    Form& f = q.form;
    const bool items = f.st.TableName == table::kItem;
    std::vector<Target> targets = {{f.st.TableName, f.st.KeyColumn}};
    if (items) targets.push_back({table::kPlu, table::kItemKey});

    auto openIt = [&]() -> std::unique_ptr<SheetRecordset> {
        try {
            return openSheet(f, "SELECT * FROM " + sheetRef(f.st.SheetName));
        } catch (const std::exception& e) {
            r.workbookUnreadable = true;
            add(r, Verdict::DoesNotFit, "sheet " + in.sheet, e.what());
            return nullptr;
        }
    };
    auto sheet = openIt();
    if (!sheet) return r;
    if (f.st.KeyColumn.empty()) {
        // Start stops at the first row: nothing tells it which column is the key.
        add(r, Verdict::DoesNotFit, "sheet " + in.sheet,
            "does not fit: " + table::noKeyColumnText(in.sheet));
        return r;
    }
    if (!checkTables(conn, targets, r)) {
        add(r, Verdict::Info, "values",
            "not judged until the missing tables and columns are there");
        return r;
    }

    Judge judge;
    try {
        runPass(f, items, *sheet, judge);
    } catch (const std::exception& e) {
        add(r, Verdict::DoesNotFit, "look-ups",
            "does not fit: stopped at row " + std::to_string(judge.row) + ": " + e.what());
        return r;
    }
    r.sheetRows = judge.rows;
    reportColumns(conn, targets, judge, r);

    // The trial: whatever happens in it, rolled back.
    const bool probe =
        in.serverProbe.value_or(conn.dbmsName().find("SQL SERVER") != std::string::npos);
    Trial trial(conn, judge.firstInsert, judge.firstUpdate, r, probe);
    if (judge.firstInsert == 0 && judge.firstUpdate == 0) {
        add(r, Verdict::Info, "trial",
            "no row of this sheet would be written as it stands; INSERT, UPDATE and DELETE not "
            "tried");
    } else {
        // Begun and ended by hand rather than by a transaction object: the rollback and the
        // return to autocommit are findings of their own, each with its own advice.
        bool begun = false;
        try {
            conn.setAutoCommit(false);
            begun = true;
            auto again = openIt();
            if (again) runPass(f, items, *again, trial);
        } catch (const StopTrial&) {
        } catch (const std::exception& e) {
            trial.stopped = true;
            add(r, Verdict::DoesNotFit, "trial", std::string("does not fit: ") + e.what());
        }
        if (begun) {
            try {
                conn.rollback();
                add(r, Verdict::Fits, "rollback", "fits, nothing kept");
            } catch (const std::exception& e) {
                add(r, Verdict::DoesNotFit, "rollback",
                    std::string("does not fit: the trial row may have been kept: ") + e.what());
            }
        }
        try {
            conn.setAutoCommit(true);
        } catch (const std::exception& e) {
            add(r, Verdict::DoesNotFit, "transaction",
                std::string("does not fit: autocommit not restored: ") + e.what());
        }
        for (const Target& tg : targets) {
            auto& states = trial.rights[tg.table];
            for (Right right : {Right::Select, Right::Insert, Right::Update, Right::Delete}) {
                const RightState& s = states[right];
                const std::string subject =
                    std::string("right ") + kRightNames[int(right)] + " on " + tg.table;
                if (!s.refused.empty())
                    add(r, Verdict::DoesNotFit, subject, "does not fit: refused: " + s.refused);
                else if (right == Right::Select)
                    add(r, Verdict::Fits, subject, "fits, the look-ups ran");
                else if (s.provedAt > 0)
                    add(r, Verdict::Fits, subject,
                        "fits, proved at row " + std::to_string(s.provedAt) + ", rolled back");
                else
                    add(r, Verdict::Info, subject,
                        trial.stopped ? "not tried: the trial stopped before it"
                                      : "not tried: no row of this sheet needs it");
            }
        }
    }

    try {
        r.roundTripMs = roundTripMs(conn);
        r.roundTripsPerRow = roundTripsPerRow(conn, targets, judge.mostAssigned);
        r.expectedSeconds = r.roundTripMs / 1000 * r.roundTripsPerRow * double(r.sheetRows);
        char ms[32];
        std::snprintf(ms, sizeof ms, "%.2f ms", r.roundTripMs);
        add(r, Verdict::Info, "round trip",
            std::string(ms) + " (median of " + std::to_string(kRoundTripSamples) + " statements)");
        add(r, Verdict::Info, "expected Start time",
            "about " + secondsText(r.expectedSeconds) + " for " + std::to_string(r.sheetRows) +
                " rows (" + significant(r.roundTripsPerRow) + " round trips a row at " + ms +
                "; the server's own work comes on top)");
    } catch (const std::exception& e) {
        add(r, Verdict::DoesNotFit, "round trip", std::string("does not fit: ") + e.what());
    }
    return r;
}

}  // namespace kordb
