#include "migration/undo.h"

#include <algorithm>
#include <map>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include "core/errors.h"
#include "core/text.h"
#include "migration/row_writer.h"
#include "migration/stored_value.h"

namespace kordb {

namespace {

using Columns = std::vector<std::pair<std::string, Value>>;

// What undo does with one write, decided before anything of its worksheet row is done.
struct Decision {
    enum class Act { Delete, Restore, Nothing, Changed } act = Act::Nothing;
    JournalEntry entry;
    DestTable* table = nullptr;
    std::vector<DestRecordset> rows;
    size_t row = 0;  // the row acted on
    std::string why;
};

class Undo {
  public:
    Undo(odbc::Connection& conn, JournalReader& journal, const UndoOptions& options)
        : conn_(conn),
          options_(options),
          rolledBack_(journal.header().atomic && !journal.committed()),
          version_(journal.header().version),
          journal_(journal.path().parent_path(), pathToUtf8(journal.path().stem()), "_UNDO_",
                   headerOf(conn, journal)) {}

    // The writes of one worksheet row, newest first: all of them undone, or none.
    void group(std::vector<JournalEntry> entries) {
        std::vector<Decision> decisions;
        bool changed = false;
        for (JournalEntry& e : entries) {
            decisions.push_back(decide(std::move(e)));
            changed = changed || decisions.back().act == Decision::Act::Changed;
        }
        for (Decision& d : decisions) {
            if (changed) {
                ++report_.changed;
                say("changed since " + where(d.entry) + ": " +
                    (d.act == Decision::Act::Changed ? d.why : "written with a row changed since") +
                    "; left alone");
                continue;
            }
            act(d);
        }
    }

    // Commits, or rolls back when a row changed since stops the undo.
    UndoReport finish(odbc::Transaction& tx, const std::function<void(const std::string&)>& line) {
        bool stop = report_.changed > 0 && !options_.skipChanged;
        if (stop) {
            tx.rollback();
            journal_.discard();
            report_.deleted = report_.restored = report_.nothing = 0;
        } else {
            tx.commit();
            report_.applied = true;
            report_.journal = journal_.path();
        }
        for (const auto& [isChange, text] : lines_)
            if (!stop || isChange) line(text);
        return report_;
    }

    void abandon() { journal_.discard(); }

  private:
    static JournalHeader headerOf(odbc::Connection& conn, JournalReader& j) {
        JournalHeader h = j.header();
        h.dbms = conn.dbmsName();
        h.identity = conn.databaseIdentity();
        h.atomic = true;
        h.undoes = pathToUtf8(j.path().filename());
        return h;
    }

    static std::string where(const JournalEntry& e) {
        std::string w = e.table + " [" + shownValue(e.key) + "]";
        if (e.row > 0) w += " (row " + std::to_string(e.row) + ")";
        return w;
    }

    void say(std::string text) {
        bool isChange = text.compare(0, 13, "changed since") == 0;
        lines_.emplace_back(isChange, std::move(text));
    }

    DestTable& table(const std::string& name, const std::string& keyColumn) {
        auto& t = tables_[{name, keyColumn}];
        if (!t) t = std::make_unique<DestTable>(&conn_, name, keyColumn);
        return *t;
    }

    // The first row holding every value of values as the write left it.
    static const DestRecordset* holding(DestTable& t, const std::vector<DestRecordset>& rows,
                                        const Columns& values, size_t& at) {
        const auto& meta = t.columnMeta();
        for (at = 0; at < rows.size(); ++at) {
            bool all = std::all_of(values.begin(), values.end(), [&](const auto& c) {
                int i = t.columnIndex(c.first);
                return sameStored(meta[size_t(i)], rows[at].original()[size_t(i)], c.second);
            });
            if (all) return &rows[at];
        }
        return nullptr;
    }

    static std::string difference(DestTable& t, const DestRecordset& rs, const Columns& written) {
        const auto& meta = t.columnMeta();
        for (const auto& [column, value] : written) {
            int i = t.columnIndex(column);
            const Value& now = rs.original()[size_t(i)];
            if (!sameStored(meta[size_t(i)], now, value))
                return column + " is " + shownValue(now) + ", the run wrote " +
                       shownValue(storedForm(meta[size_t(i)], value));
        }
        return "it differs";
    }

    Decision decide(JournalEntry e) {
        Decision d;
        d.entry = std::move(e);
        const JournalEntry& en = d.entry;
        if (rolledBack_) {
            d.why = "the run was rolled back";
            return d;
        }
        if (en.outcome == JournalEntry::Outcome::Failed) {
            d.why = "the write was refused";
            return d;
        }
        DestTable& t = table(en.table, en.keyColumn);
        d.table = &t;
        d.rows = t.lookupAll(en.key);
        size_t at = 0;
        if (en.op == JournalEntry::Op::Insert && version_ < 2 && !d.rows.empty()) {
            d.act = Decision::Act::Changed;
            d.why = "a journal of an earlier release does not tell whether it changed since";
            return d;
        }
        if (en.op == JournalEntry::Op::Insert) {
            if (holding(t, d.rows, en.newValues, at)) {
                d.act = Decision::Act::Delete;
                d.row = at;
            } else if (d.rows.empty()) {
                d.why = "the row is not there";
            } else {
                d.act = Decision::Act::Changed;
                d.why = difference(t, d.rows.front(), en.newValues);
            }
            return d;
        }
        if (holding(t, d.rows, en.newValues, at)) {
            d.act = Decision::Act::Restore;
            d.row = at;
        } else if (holding(t, d.rows, en.oldValues, at)) {
            d.why = "it holds its previous values";
        } else if (d.rows.empty()) {
            d.act = Decision::Act::Changed;
            d.why = "the row is gone";
        } else {
            d.act = Decision::Act::Changed;
            d.why = difference(t, d.rows.front(), en.newValues);
        }
        return d;
    }

    void act(Decision& d) {
        const JournalEntry& e = d.entry;
        switch (d.act) {
            case Decision::Act::Delete: {
                DestRecordset& rs = d.rows[d.row];
                journal_.recordDelete(rs);
                rs.remove();
                ++report_.deleted;
                say("deleted " + where(e));
                return;
            }
            case Decision::Act::Restore: {
                DestRecordset& rs = d.rows[d.row];
                for (const auto& [column, value] : e.oldValues) rs.set(column, value);
                journal_.recordWrite(rs, 0);
                rs.update();
                ++report_.restored;
                say("restored " + where(e));
                return;
            }
            case Decision::Act::Nothing:
                ++report_.nothing;
                say("nothing to undo " + where(e) + ": " + d.why);
                return;
            case Decision::Act::Changed:
                return;  // left with its group
        }
    }

    odbc::Connection& conn_;
    const UndoOptions& options_;
    const bool rolledBack_;  // an atomic run that never committed stored nothing
    const int version_;
    Journal journal_;
    UndoReport report_;
    std::vector<std::pair<bool, std::string>> lines_;
    std::map<std::pair<std::string, std::string>, std::unique_ptr<DestTable>> tables_;
};

// Why the destination conn reaches is not the one the journal was written against, or empty
// when it is that one as far as can be told.
std::string otherDestination(const JournalHeader& h, odbc::Connection& conn,
                             const std::string& server, const std::string& database) {
    if (!h.dbms.empty() && !equalsNoCase(h.dbms, conn.dbmsName()))
        return "it was written against " + h.dbms + ", this is " + conn.dbmsName();
    if (!h.identity.empty()) {
        std::string here = conn.databaseIdentity();
        if (!here.empty())
            return here == h.identity ? std::string()
                                      : "it was written against database " + h.database + " on " +
                                            h.server + " (" + h.identity + "), this is " + here;
    }
    if (!equalsNoCase(h.server, server) || !equalsNoCase(h.database, database))
        return "it was written against database " + h.database + " on " + h.server + ", this is " +
               database + " on " + server;
    return {};
}

}  // namespace

void checkAgainstCatalogue(JournalReader& journal, odbc::Connection& conn) {
    struct Catalog {
        std::vector<odbc::ColumnMeta> columns;
        std::vector<std::string> key;
    };
    std::map<std::string, Catalog> catalogs;
    for (const auto& [table, columns] : journal.columnsNamed()) {
        std::vector<odbc::ColumnMeta> catalog = conn.columnsOf(table);
        if (catalog.empty())
            throw KorError(errnum::kBadFormat, "The undo journal \"" + pathToUtf8(journal.path()) +
                                                   "\" names table " + table +
                                                   ", which the destination does not have.");
        catalogs[table] = {catalog, conn.primaryKey(table)};
        for (const std::string& c : columns)
            if (std::none_of(catalog.begin(), catalog.end(),
                             [&](const odbc::ColumnMeta& m) { return equalsNoCase(m.name, c); }))
                throw KorError(errnum::kBadFormat, "The undo journal \"" +
                                                       pathToUtf8(journal.path()) +
                                                       "\" names column " + c + " of " + table +
                                                       ", which the destination does not have.");
    }
    // An insert's line holds the whole row its run stored, so that undo can tell it unchanged;
    // a line with less would have a row deleted whatever it holds.
    // An earlier release's journal holds the assigned columns only: its inserts are never
    // deleted (see decide()).
    Value ignored;
    for (size_t i = 0; journal.header().version >= 2 && i < journal.size(); ++i) {
        JournalEntry e = journal.entry(i);
        if (e.op != JournalEntry::Op::Insert) continue;
        const Catalog& c = catalogs[e.table];
        for (const odbc::ColumnMeta& m : c.columns) {
            bool inKey = std::any_of(c.key.begin(), c.key.end(),
                                     [&](const std::string& k) { return equalsNoCase(k, m.name); });
            if (!knownWhenLeftOut(m, inKey, ignored)) continue;
            if (std::none_of(e.newValues.begin(), e.newValues.end(),
                             [&](const auto& v) { return equalsNoCase(v.first, m.name); }))
                throw KorError(errnum::kBadFormat,
                               "The undo journal \"" + pathToUtf8(journal.path()) + "\" (line " +
                                   std::to_string(e.line) + ") inserts a row of " + e.table +
                                   " without its column " + m.name +
                                   ": whether the row changed since cannot be told.");
        }
    }
}

UndoVetting vetJournal(JournalReader& journal, odbc::Connection& conn, const std::string& server,
                       const std::string& database, bool otherAllowed) {
    UndoVetting r;
    try {
        r.otherDestination = otherDestination(journal.header(), conn, server, database);
        r.refused = !r.otherDestination.empty() && !otherAllowed;
        if (!r.refused) checkAgainstCatalogue(journal, conn);
    } catch (const std::exception& e) {
        r.error = e.what();
    }
    return r;
}

std::string journalSummary(JournalReader& journal) {
    const JournalHeader& h = journal.header();
    return "journal of " + h.sheet + (h.workbook.empty() ? "" : " from " + h.workbook) +
           (h.started.empty() ? "" : ", started " + h.started) + ": " +
           std::to_string(journal.size()) + " writes";
}

UndoReport undoJournal(odbc::Connection& conn, JournalReader& journal, const UndoOptions& options,
                       const std::function<void(const std::string&)>& line) {
    std::optional<Undo> undo;
    try {
        undo.emplace(conn, journal, options);
        odbc::Transaction tx(conn);
        // Newest first, a worksheet row's writes together.
        for (size_t end = journal.size(); end > 0;) {
            std::vector<JournalEntry> group;
            group.push_back(journal.entry(--end));
            while (end > 0 && group.front().row > 0) {
                JournalEntry before = journal.entry(end - 1);
                if (before.row != group.front().row || before.outcome != group.front().outcome)
                    break;
                group.push_back(std::move(before));
                --end;
            }
            undo->group(std::move(group));
        }
        return undo->finish(tx, line);
    } catch (const std::exception& e) {
        if (undo) undo->abandon();
        UndoReport failed;
        failed.error = e.what();
        return failed;
    } catch (...) {
        if (undo) undo->abandon();
        throw;
    }
}

std::string undoSummary(const UndoReport& r) {
    return "undo: " + std::to_string(r.deleted) + " deleted, " + std::to_string(r.restored) +
           " restored, " + std::to_string(r.nothing) + " nothing to undo, " +
           std::to_string(r.changed) + " changed since (left alone)";
}

}  // namespace kordb
