#include "migration/plan.h"

#include <unordered_map>
#include <vector>

#include "core/tables.h"
#include "core/text.h"
#include "form/selection.h"
#include "migration/passes.h"
#include "migration/stored_value.h"

namespace kordb {

namespace {

std::string joined(const std::vector<std::string>& parts) {
    std::string out;
    for (const std::string& p : parts) out += (out.empty() ? "" : "; ") + p;
    return out;
}

// How many times each key may be asked for over the sheet: as read, and tidied where that
// differs. A row stored under a key asked for once, by its own row, is never asked for again,
// so the plan need not keep it: on a catalogue of distinct keys it keeps nothing.
std::unordered_map<std::string, int> keysAsked(Form& f, const std::string& keyColumn, bool tidy) {
    std::unordered_map<std::string, int> asked;
    auto sheet = openSheet(f, "SELECT * FROM " + sheetRef(f.st.SheetName));
    for (; !sheet->eof(); sheet->moveNext()) {
        const std::string read = sheet->field(keyColumn).toText();
        const std::string tidied = trimUpper(read);
        ++asked[tidy ? tidied : read];
        if (!tidy && tidied != read) ++asked[tidied];
    }
    sheet->close();
    return asked;
}

class PlanRun : public RowHandler {
  public:
    PlanRun(const std::function<void(const std::string&)>& line, PlanCounts& counts)
        : line_(line), counts_(counts) {}

    std::unordered_map<std::string, int> asked;

    bool listing() const override { return false; }

    void beginRow(long sheetRow, const Value& key) override {
        row_ = sheetRow;
        key_ = key.toText();
        shown_ = "[" + key_ + "]";
        parts_.clear();
        refusals_.clear();
        first_ = true;
        mainAdded_ = false;
        skip_ = Skip::None;
    }

    void write(DestRecordset& rs) override {
        DestTable& t = rs.table();
        // The first row of a worksheet row is the sheet's own table; later ones are named.
        const std::string prefix = first_ ? std::string() : t.name() + ".";
        std::vector<std::string> refused = rs.refusals();
        if (first_ && rs.adding()) {
            std::string collision = collides(rs);
            if (!collision.empty()) refused.push_back(collision);
        }
        for (const std::string& r : refused) refusals_.push_back(prefix + r);
        if (refused.empty()) {
            if (!rs.adding())
                for (const std::string& c : rs.changes()) parts_.push_back(prefix + c);
            else if (!first_ && !mainAdded_)
                parts_.push_back(t.name() + ": new row");
            // A refused row would stop Start: later rows do not find it.
            t.simulate(rs, [&](const std::string& key) {
                auto it = asked.find(key);
                return it != asked.end() && it->second > 1;
            });
        }
        if (first_) mainAdded_ = rs.adding();
        first_ = false;
    }

    void skip(bool exists) override { skip_ = exists ? Skip::Exists : Skip::NoKey; }

    void endRow() override {
        std::string text;
        if (skip_ == Skip::Exists) {
            text = "skip " + shown_ + " exists";
            ++counts_.skip;
        } else if (skip_ == Skip::NoKey) {
            text = "skip row " + std::to_string(row_) + ": no key";
            ++counts_.skip;
        } else if (!refusals_.empty()) {
            text = "refuse " + shown_ + " " + joined(refusals_);
            ++counts_.refused;
        } else if (mainAdded_) {
            text = "insert " + shown_ + (parts_.empty() ? "" : " " + joined(parts_));
            ++counts_.insert;
        } else if (parts_.empty()) {
            text = "unchanged " + shown_;
            ++counts_.unchanged;
        } else {
            text = "update " + shown_ + " " + joined(parts_);
            ++counts_.update;
        }
        // One row, one line, whatever a cell held.
        line_(shownValue(Value::text(text)));
    }

  private:
    enum class Skip { None, Exists, NoKey };

    // A new row is looked up by its key as read but stored with the key tidied: where the
    // engine compares keys exactly, the tidied key may be there already, and Start would then
    // stop at the key's unique index.
    std::string collides(DestRecordset& rs) {
        DestTable& t = rs.table();
        int k = t.columnIndex(t.keyColumn());
        for (const auto& [i, v] : rs.assigned()) {
            if (i != k || v.isNull() || v.toText() == key_) continue;
            if (t.lookup(v.toText()).eof()) return {};
            return t.spelledName(k) + ": stored as " + v.toText() + ", a key that exists already";
        }
        return {};
    }

    const std::function<void(const std::string&)>& line_;
    PlanCounts& counts_;
    long row_ = 0;
    std::string key_;
    std::string shown_;
    std::vector<std::string> parts_;
    std::vector<std::string> refusals_;
    bool first_ = true;
    bool mainAdded_ = false;
    Skip skip_ = Skip::None;
};

}  // namespace

bool PlanMigration(Form& f, const std::function<void(const std::string&)>& line,
                   PlanCounts& counts) {
    const int errors = f.outcome.errors;
    const bool items = f.st.SheetName == table::kItem;
    f.outcome.rowByRowBecause.clear();
    PlanRun plan(line, counts);
    try {
        plan.asked = items ? keysAsked(f, "ItemCode", false) : keysAsked(f, f.st.KeyColumn, true);
        auto sheet = openSheet(f, "SELECT * FROM " + sheetRef(f.st.SheetName));
        if (items)
            itemPass(f, *sheet, plan);
        else
            masterPass(f, *sheet, plan);
        sheet->close();
    } catch (const std::exception& e) {
        if (items)
            showError(f, e);
        else
            masterTableTrap(f, e);
    }
    return f.outcome.errors == errors;
}

std::string planSummary(const PlanCounts& c) {
    return "plan: " + std::to_string(c.insert) + " insert, " + std::to_string(c.update) +
           " update, " + std::to_string(c.unchanged) + " unchanged, " + std::to_string(c.skip) +
           " skip, " + std::to_string(c.refused) + " refused";
}

}  // namespace kordb
