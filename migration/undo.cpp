#include "migration/undo.h"

#include <map>
#include <memory>
#include <utility>
#include <vector>

#include "migration/row_writer.h"
#include "migration/stored_value.h"

namespace kordb {

namespace {

using Columns = std::vector<std::pair<std::string, Value>>;

class Undo {
  public:
    Undo(Form& f, const JournalFile& j, const std::function<void(const std::string&)>& line,
         UndoCounts& counts)
        : f_(f), line_(line), counts_(counts), journal_(f.errorFolder, headerOf(f, j)) {}
    ~Undo() { f_.outcome.journal = journal_.path(); }

    void entry(const JournalEntry& e) {
        DestTable& t = table(e.table, e.keyColumn);
        std::vector<DestRecordset> rows = t.lookupAll(e.key);
        std::string where = e.table + " [" + shownValue(e.key) + "]";
        if (e.row > 0) where += " (row " + std::to_string(e.row) + ")";

        switch (e.op) {
            case JournalEntry::Op::Insert:
                if (DestRecordset* rs = holding(t, rows, e.newValues)) {
                    journal_.recordDelete(*rs);
                    rs->remove();
                    ++counts_.deleted;
                    line_("deleted " + where);
                } else if (rows.empty()) {
                    ++counts_.nothing;
                    line_("nothing to undo " + where + ": the row is not there");
                } else {
                    changedSince(t, rows.front(), e.newValues, where);
                }
                return;
            case JournalEntry::Op::Update:
                if (DestRecordset* rs = holding(t, rows, e.newValues)) {
                    for (const auto& [column, value] : e.oldValues) rs->set(column, value);
                    journal_.recordWrite(*rs, 0);
                    rs->update();
                    ++counts_.restored;
                    line_("restored " + where);
                } else if (holding(t, rows, e.oldValues)) {
                    ++counts_.nothing;
                    line_("nothing to undo " + where + ": it holds its previous values");
                } else if (rows.empty()) {
                    ++counts_.changed;
                    line_("changed since " + where + ": the row is gone; left alone");
                } else {
                    changedSince(t, rows.front(), e.newValues, where);
                }
                return;
            case JournalEntry::Op::Delete:
                if (holding(t, rows, e.oldValues)) {
                    ++counts_.nothing;
                    line_("nothing to undo " + where + ": the row is there");
                } else if (!rows.empty() && t.keyIdentifiesRow()) {
                    ++counts_.changed;
                    line_("changed since " + where +
                          ": another row with this key took its place; left alone");
                } else {
                    DestRecordset rs = t.newRow();
                    rs.addNew();
                    for (const auto& [column, value] : e.oldValues) rs.set(column, value);
                    journal_.recordWrite(rs, 0);
                    rs.update();
                    ++counts_.putBack;
                    line_("put back " + where);
                }
                return;
        }
    }

  private:
    static JournalHeader headerOf(Form& f, const JournalFile& j) {
        JournalHeader h = j.header;
        h.server = f.ui.fieldText(0);
        h.database = f.ui.fieldText(1);
        h.undoes = pathToUtf8(j.path.filename());
        return h;
    }

    DestTable& table(const std::string& name, const std::string& keyColumn) {
        auto& t = tables_[{name, keyColumn}];
        if (!t) t = std::make_unique<DestTable>(f_.st.DestConn.get(), name, keyColumn);
        return *t;
    }

    // The first row holding every value of values as the write left it.
    DestRecordset* holding(DestTable& t, std::vector<DestRecordset>& rows, const Columns& values) {
        const auto& meta = t.columnMeta();
        for (DestRecordset& rs : rows) {
            bool all = true;
            for (const auto& [column, value] : values) {
                int i = t.columnIndex(column);
                if (!sameStored(meta[size_t(i)], rs.original()[size_t(i)], value)) {
                    all = false;
                    break;
                }
            }
            if (all) return &rs;
        }
        return nullptr;
    }

    void changedSince(DestTable& t, const DestRecordset& rs, const Columns& written,
                      const std::string& where) {
        const auto& meta = t.columnMeta();
        std::string what;
        for (const auto& [column, value] : written) {
            int i = t.columnIndex(column);
            const Value& now = rs.original()[size_t(i)];
            if (sameStored(meta[size_t(i)], now, value)) continue;
            what = column + " is " + shownValue(now) + ", the run wrote " +
                   shownValue(storedForm(meta[size_t(i)], value));
            break;
        }
        ++counts_.changed;
        line_("changed since " + where + ": " + what + "; left alone");
    }

    Form& f_;
    const std::function<void(const std::string&)>& line_;
    UndoCounts& counts_;
    Journal journal_;
    std::map<std::pair<std::string, std::string>, std::unique_ptr<DestTable>> tables_;
};

}  // namespace

void UndoJournal(Form& f, const JournalFile& journal,
                 const std::function<void(const std::string&)>& line, UndoCounts& counts) {
    f.outcome.journal.clear();
    Undo undo(f, journal, line, counts);
    for (auto it = journal.entries.rbegin(); it != journal.entries.rend(); ++it) undo.entry(*it);
}

std::string undoSummary(const UndoCounts& c) {
    return "undo: " + std::to_string(c.deleted) + " deleted, " + std::to_string(c.restored) +
           " restored, " + std::to_string(c.putBack) + " put back, " + std::to_string(c.nothing) +
           " nothing to undo, " + std::to_string(c.changed) + " changed since (left alone)";
}

}  // namespace kordb
