#include "migration/row_writer.h"

#include <algorithm>
#include <ctime>
#include <unordered_set>

#include "core/errors.h"
#include "core/text.h"
#include "migration/stored_value.h"

namespace kordb {

namespace {

// Statements kept per run; rows of one sheet assign few distinct column sets, so this only
// bounds a pathological sheet.
constexpr size_t kMaxCachedWrites = 64;
// Changes sent in one request at most: a batch's worth.
constexpr size_t kChangesPerRequest = 500;

bool isPlainIdentifier(std::string_view name) {
    if (name.empty()) return false;
    auto letter = [](char c) {
        return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_';
    };
    if (!letter(name.front())) return false;
    for (char c : name)
        if (!letter(c) && !(c >= '0' && c <= '9')) return false;
    return true;
}

// Types whose stored value may not come back equal to what was read, or cannot be compared:
// they cannot help to find a row again.
bool comparable(odbc::ColumnType type) {
    switch (type.kind()) {
        case odbc::ColumnKind::Binary:
        case odbc::ColumnKind::Float:
        case odbc::ColumnKind::Time:
        case odbc::ColumnKind::Timestamp:
            return false;
        default:
            return type.known() && !type.isLong();
    }
}

[[noreturn]] void noCurrentRow() {
    throw KorError(errnum::kNoCurrentRow,
                   "Either BOF or EOF is True, or the current record has been deleted. Requested "
                   "operation requires a current record.");
}

void appendIndex(std::string& key, int index) {
    key += std::to_string(index) + ',';
}

}  // namespace

std::string quoteIdentifier(std::string_view name, std::string_view quote) {
    std::string r(quote);
    for (size_t i = 0; i < name.size(); ++i) {
        if (!quote.empty() && name.compare(i, quote.size(), quote) == 0) {
            r += quote;
            r += quote;
            i += quote.size() - 1;
            continue;
        }
        r += name[i];
    }
    return r += quote;
}

std::string tableReference(std::string_view name, std::string_view quote) {
    return isPlainIdentifier(name) ? std::string(name) : quoteIdentifier(name, quote);
}

Value todayDate() {
    return Value::date(localTimeText("%Y-%m-%d"));
}

// ---- DestTable -------------------------------------------------------------------------------

DestTable::DestTable(odbc::Connection* conn, std::string_view tableName, std::string keyColumn)
    : conn_(conn), rawTable_(tableName), keyColumn_(std::move(keyColumn)) {
    if (conn_ && conn_->isOpen()) {
        quote_ = conn_->identifierQuote();
        const std::string& dbms = conn_->dbmsName();
        if (dbms.find("SQL SERVER") != std::string::npos)
            engine_ = Engine::SqlServer;
        else if (dbms.find("POSTGRES") != std::string::npos)
            engine_ = Engine::Postgres;
        else if (dbms.find("SQLITE") != std::string::npos)
            engine_ = Engine::Sqlite;
    }
    table_ = tableReference(rawTable_, quote_);
    lookupSql_ = "SELECT * FROM " + table_ + " WHERE " + keyColumn_ + "=?";
}

DestTable::~DestTable() = default;

std::vector<std::vector<Value>> DestTable::fetch(const Value& key) {
    storeHeldWrites();  // a look-up sees every row written before it
    if (!conn_ || !conn_->isOpen())
        throw KorError(errnum::kConnectionClosed,
                       "The destination connection is not open. Connect to the destination "
                       "database first.");
    odbc::Statement* st = nullptr;
    if (key.isNull()) {
        st = &statement(
            "N", [&] { return "SELECT * FROM " + table_ + " WHERE " + keyColumn_ + " IS NULL"; });
        st->execute();
    } else {
        if (!lookup_) {
            // Kept only once prepared: a failed prepare fails again the next time, the same way.
            auto st = std::make_unique<odbc::Statement>(*conn_);
            st->prepare(lookupSql_);
            lookup_ = std::move(st);
        }
        // Once the key column is known, the key goes as text of its type and size: one
        // declaration for every look-up of the run.
        odbc::ColumnType type;
        size_t size = 0;
        if (int k = keyIndex(); k >= 0) {
            const odbc::ColumnInfo& c = columns_[size_t(k)];
            // Long text types cannot be compared with "=" on SQL Server.
            if (c.sqlType.isText() && !c.sqlType.isLong()) type = c.sqlType, size = c.size;
        }
        lookup_->bind(1, key.isText() ? key : Value::text(key.toText()), type, size);
        lookup_->execute();
        st = lookup_.get();
    }
    if (columns_.empty()) {
        columns_ = st->columns();
        spelled_.assign(columns_.size(), std::string());
        for (size_t i = 0; i < columns_.size(); ++i)
            byUpperName_.emplace(toUpper(columns_[i].name), int(i));
    }
    return st->fetchAll();
}

DestRecordset DestTable::lookup(const std::string& key) {
    std::vector<std::vector<Value>> rows;
    if (auto hit = prefetched_.find(key); hit != prefetched_.end())
        rows = hit->second;
    else
        rows = fetch(Value::text(key));
    DestRecordset rs(*this);
    if (!rows.empty()) {
        rs.found_ = true;
        rs.original_ = std::move(rows.front());
    }
    if (!simulated_.empty()) {
        auto it = simulated_.find(key);
        if (it != simulated_.end()) {
            rs.found_ = true;
            rs.original_ = it->second;
        }
    }
    return rs;
}

namespace {

// Keys as the most lenient engine compares them: letter case and trailing blanks ignored.
std::string loose(std::string_view key) {
    while (!key.empty() && key.back() == ' ') key.remove_suffix(1);
    return toUpper(key);
}

// Keys per look-up statement: far below any engine's limit on parameters (SQL Server: 2,100).
constexpr size_t kPrefetchKeys = 500;

}  // namespace

void DestTable::planEachExecution() {
    // PostgreSQL keeps a prepared statement's generic plan once it looks no dearer than the
    // plans made for the values; from version 12 on it can be told to plan every execution. Set
    // only where the server knows the setting: a refused SET would end an atomic run's
    // transaction.
    if (engine_ != Engine::Postgres) return;
    try {
        odbc::Statement st(*conn_);
        st.execDirect(
            "SELECT set_config('plan_cache_mode', 'force_custom_plan', false) FROM pg_settings "
            "WHERE name = 'plan_cache_mode'");
        st.fetchAll();
    } catch (const KorError&) {
        // Slower on a growing table, not wrong.
    }
}

int DestTable::keyIndex() {
    auto it = byUpperName_.find(toUpper(keyColumn_));
    return it == byUpperName_.end() ? -1 : it->second;
}

std::string DestTable::prefetch(const std::vector<std::string>& keys) {
    prefetched_.clear();
    prefetchedLoosely_.clear();
    if (!conn_ || !conn_->isOpen() || keys.empty()) return {};
    // The result's columns, and the key column's type, as a look-up of one key learns them.
    if (columns_.empty()) fetch(Value::text(keys.front()));
    const int k = keyIndex();
    if (k < 0) return {};
    odbc::ColumnType type = columns_[size_t(k)].sqlType;
    if (!type.isText() || type.isLong())
        return {};  // compared as the engine converts them: each on its own
    try {
        prefetchDistinct(keys, k, type);
    } catch (const KorError& e) {
        prefetched_.clear();
        prefetchedLoosely_.clear();
        if (e.sqlstate().empty()) throw;
        return e.description();
    }
    return {};
}

void DestTable::prefetchDistinct(const std::vector<std::string>& keys, int k,
                                 odbc::ColumnType type) {
    std::vector<std::string> distinct;
    std::unordered_set<std::string> seen;
    for (const std::string& key : keys)
        if (seen.insert(key).second) distinct.push_back(key);
    for (size_t at = 0; at < distinct.size(); at += kPrefetchKeys) {
        const size_t n = std::min(kPrefetchKeys, distinct.size() - at);
        // One statement text per run: a short last batch repeats its last key. Its plan is
        // made for each batch: one made while the table was empty would read all of it for
        // every batch as Start fills it.
        odbc::Statement& st = statement("P", [&] {
            planEachExecution();
            std::string sql = "SELECT * FROM " + table_ + " WHERE " + keyColumn_ + " IN (";
            for (size_t i = 0; i < kPrefetchKeys; ++i) sql += i ? ",?" : "?";
            return sql + (engine_ == Engine::SqlServer ? ") OPTION (RECOMPILE)" : ")");
        });
        for (size_t i = 0; i < kPrefetchKeys; ++i)
            st.bind(int(i + 1), Value::text(distinct[at + std::min(i, n - 1)]), type,
                    columns_[size_t(k)].size);
        st.execute();
        std::unordered_map<std::string, std::vector<std::vector<Value>>> found;
        std::unordered_map<std::string, std::vector<std::string>> textsByLoose;
        for (auto& row : st.fetchAll()) {
            std::string text = row[size_t(k)].toText();
            auto& rows = found[text];
            if (rows.empty()) textsByLoose[loose(text)].push_back(text);
            rows.push_back(std::move(row));
        }
        for (size_t i = 0; i < n; ++i) {
            const std::string& key = distinct[at + i];
            // Beyond ASCII a collation may fold more than case (accents, widths): such a key
            // gets a look-up of its own.
            if (std::any_of(key.begin(), key.end(),
                            [](char c) { return static_cast<unsigned char>(c) >= 0x80; }))
                continue;
            // Another row the engine may have taken for this key: which one it would give a
            // look-up of its own cannot be told here.
            auto group = textsByLoose.find(loose(key));
            if (group != textsByLoose.end() &&
                std::any_of(group->second.begin(), group->second.end(),
                            [&](const std::string& text) { return text != key; }))
                continue;
            auto exact = found.find(key);
            prefetched_[key] =
                exact == found.end() ? std::vector<std::vector<Value>>() : std::move(exact->second);
            prefetchedLoosely_.emplace(loose(key), key);
        }
    }
}

void DestTable::holdWrites(bool on) {
    if (!on) dropHeldWrites();
    holding_ = on;
}

void DestTable::storeHeldWrites() {
    // New rows first: a change never finds a row of its own batch (a key written since is
    // looked up again, and a look-up stores what is held), and rows present earlier can only
    // make a unique value refused sooner, never later, than one row at a time would.
    storeHeldInserts();
    storeHeldChanges();
}

void DestTable::hold(std::vector<int> columns, std::vector<Value> row) {
    auto group = std::find_if(held_.begin(), held_.end(),
                              [&](const Held& h) { return h.columns == columns; });
    if (group == held_.end()) group = held_.insert(held_.end(), Held{std::move(columns), {}});
    group->rows.push_back(std::move(row));
}

void DestTable::dropHeldWrites() {
    held_.clear();
    heldChanges_.clear();
}

void DestTable::storeHeldInserts() {
    if (held_.empty()) return;
    std::vector<Held> held = std::move(held_);
    held_.clear();
    if (held.size() > 1 && (engine_ == Engine::Postgres || engine_ == Engine::SqlServer)) {
        // A statement of its own text is prepared before it runs, a round trip more than one
        // prepared for the run: shared only where that saves statements all the same.
        size_t apart = 0, params = 0;
        for (const Held& h : held) {
            const size_t per = rowsPerInsert(h.columns.size());
            apart += (h.rows.size() + per - 1) / per;
            params += h.rows.size() * h.columns.size();
        }
        if (2 * (params / kParametersPerRequest + 1) < apart) {
            storeMixedInserts(held);
            return;
        }
    }
    for (const Held& h : held) {
        const size_t perStatement = rowsPerInsert(h.columns.size());
        for (size_t at = 0; at < h.rows.size(); at += perStatement) {
            const size_t n = std::min(perStatement, h.rows.size() - at);
            std::string key = "M" + std::to_string(n) + ":";
            for (int c : h.columns) appendIndex(key, c);
            odbc::Statement& st = statement(key, [&] {
                std::string names, marks;
                for (int c : h.columns) {
                    if (!names.empty()) names += ", ", marks += ", ";
                    names += columnRef(c);
                    marks += "?";
                }
                std::string sql = "INSERT INTO " + table_ + " (" + names + ") VALUES ";
                for (size_t r = 0; r < n; ++r) sql += (r ? ", (" : "(") + marks + ")";
                return sql;
            });
            int p = 0;
            for (size_t r = at; r < at + n; ++r)
                for (size_t i = 0; i < h.columns.size(); ++i) {
                    const odbc::ColumnInfo& c = columns_[size_t(h.columns[i])];
                    st.bindStored(++p, h.rows[r][i], c.sqlType, c.size, c.digits);
                }
            sending();
            st.execute();
        }
    }
}

void DestTable::storeMixedInserts(const std::vector<Held>& held) {
    // Rows that leave different columns out share statements: each column any of them assigns
    // is named, and a row that leaves one out gives it DEFAULT, as leaving it out would. A sheet
    // whose rows fill their optional columns unevenly would otherwise need a statement for each
    // pattern.
    std::vector<int> all;
    for (const Held& h : held) all.insert(all.end(), h.columns.begin(), h.columns.end());
    std::sort(all.begin(), all.end());
    all.erase(std::unique(all.begin(), all.end()), all.end());
    std::string names;
    for (int c : all) names += (names.empty() ? "" : ", ") + columnRef(c);
    const std::string head = "INSERT INTO " + table_ + " (" + names + ") VALUES ";

    struct Row {
        const Held* group;
        size_t index;
    };
    std::vector<Row> rows;
    for (const Held& h : held)
        for (size_t r = 0; r < h.rows.size(); ++r) rows.push_back({&h, r});
    for (size_t at = 0; at < rows.size();) {
        std::string sql = head;
        size_t n = 0, params = 0;
        for (; at + n < rows.size() && n < 1000; ++n) {
            const Held& h = *rows[at + n].group;
            if (n > 0 && params + h.columns.size() > kParametersPerRequest) break;
            params += h.columns.size();
            sql += n ? ", (" : "(";
            size_t i = 0;
            for (size_t k = 0; k < all.size(); ++k) {
                if (k) sql += ", ";
                const bool given = i < h.columns.size() && h.columns[i] == all[k];
                sql += given ? "?" : "DEFAULT";
                if (given) ++i;
            }
            sql += ')';
        }
        odbc::Statement st(*conn_);
        // Prepared, not run directly: psqlODBC mangles a timestamp parameter's type in a long
        // statement it is given directly.
        st.prepare(sql);
        int p = 0;
        for (size_t r = at; r < at + n; ++r) {
            const Held& h = *rows[r].group;
            for (size_t i = 0; i < h.columns.size(); ++i) {
                const odbc::ColumnInfo& c = columns_[size_t(h.columns[i])];
                st.bindStored(++p, h.rows[rows[r].index][i], c.sqlType, c.size, c.digits);
            }
        }
        sending();
        st.execute();
        at += n;
    }
}

void DestTable::storeHeldChanges() {
    if (heldChanges_.empty()) return;
    std::vector<HeldChange> held = std::move(heldChanges_);
    heldChanges_.clear();
    // Many statements in one request where the engine takes them (SQLite's driver runs one
    // statement a call).
    const size_t perRequest =
        engine_ == Engine::Postgres || engine_ == Engine::SqlServer ? kChangesPerRequest : 1;
    for (size_t at = 0; at < held.size();) {
        size_t n = 0, params = 0;
        std::string sql;
        for (; at + n < held.size() && n < perRequest; ++n) {
            const HeldChange& c = held[at + n];
            if (n > 0 && params + c.params.size() > kParametersPerRequest) break;
            params += c.params.size();
            if (n > 0) sql += "; ";
            sql += c.sql;
        }
        odbc::Statement& st = statement("B" + sql, [&] { return sql; });
        int p = 0;
        for (size_t i = at; i < at + n; ++i)
            for (const auto& [index, value] : held[i].params) {
                const odbc::ColumnInfo& c = columns_[size_t(index)];
                st.bindStored(++p, value, c.sqlType, c.size, c.digits);
            }
        sending();
        st.execute();
        // Each statement must have found its row. Anything else (a row gone, a server that
        // counts nothing) takes the batch back: its rows alone tell which, as they always did.
        const auto& counts = st.counts();
        if (counts.size() != n ||
            std::any_of(counts.begin(), counts.end(), [](long long c) { return c != 1; }))
            throw KorError(errnum::kRowNotLocated,
                           "Row cannot be located for updating. Some values may have been "
                           "changed since it was last read.");
        at += n;
    }
}

void DestTable::forget(const Value& key) {
    if (prefetched_.empty() || key.isNull()) return;
    auto [from, to] = prefetchedLoosely_.equal_range(loose(key.toText()));
    for (auto it = from; it != to; ++it) prefetched_.erase(it->second);
    prefetchedLoosely_.erase(from, to);
}

std::vector<DestRecordset> DestTable::lookupAll(const Value& key) {
    std::vector<DestRecordset> out;
    for (auto& row : fetch(key)) {
        DestRecordset rs(*this);
        rs.found_ = true;
        rs.original_ = std::move(row);
        out.push_back(std::move(rs));
    }
    return out;
}

DestRecordset DestTable::newRow() {
    return DestRecordset(*this);
}

const std::string& DestTable::spelledName(int index) const {
    const std::string& s = spelled_[size_t(index)];
    return s.empty() ? columns_[size_t(index)].name : s;
}

const std::vector<odbc::ColumnMeta>& DestTable::columnMeta() {
    if (meta_.size() == columns_.size()) return meta_;
    std::vector<odbc::ColumnMeta> catalog;
    try {
        catalog = conn_->columnsOf(rawTable_);
    } catch (const std::exception&) {
        // Without the catalog, what the look-up described still tells types and sizes.
    }
    meta_.clear();
    for (const odbc::ColumnInfo& c : columns_) {
        auto it = std::find_if(catalog.begin(), catalog.end(), [&](const odbc::ColumnMeta& m) {
            return equalsNoCase(m.name, c.name);
        });
        if (it != catalog.end()) {
            meta_.push_back(*it);
            continue;
        }
        odbc::ColumnMeta m;
        m.name = c.name;
        m.sqlType = c.sqlType;
        m.size = c.size;
        m.digits = c.digits;
        m.hasDefault = true;
        meta_.push_back(std::move(m));
    }
    return meta_;
}

void DestTable::simulate(const DestRecordset& rs,
                         const std::function<bool(const std::string&)>& wanted) {
    if (!rs.adding_ && !rs.found_) return;
    const int k = keyIndex();
    if (k < 0) return;
    const auto& assigned = rs.assigned_;
    if (wanted) {
        // The key as the row would be stored, before the whole row is made.
        Value key = rs.adding_ ? Value() : rs.original_[size_t(k)];
        for (size_t j = 0; j < assigned.size(); ++j)
            if (assigned[j].first == k) key = rs.storedAssigned(j);
        if (key.isNull() || !wanted(key.toText())) return;
    }
    const auto& meta = columnMeta();
    std::vector<Value> row;
    if (rs.adding_) {
        row.reserve(meta.size());
        for (const auto& m : meta) row.push_back(defaultValue(m));
    } else {
        row = rs.original_;
    }
    for (size_t j = 0; j < assigned.size(); ++j)
        row[size_t(assigned[j].first)] = rs.storedAssigned(j);
    if (row[size_t(k)].isNull()) return;
    simulated_[row[size_t(k)].toText()] = std::move(row);
}

int DestTable::columnIndex(std::string_view name) {
    auto hit = byName_.find(name);
    if (hit != byName_.end()) return hit->second;
    auto it = byUpperName_.find(toUpper(name));
    if (it == byUpperName_.end())
        throw KorError(errnum::kItemNotFound, "Column '" + std::string(name) +
                                                  "' not found in destination table '" + rawTable_ +
                                                  "'.");
    byName_.emplace(std::string(name), it->second);
    if (spelled_[size_t(it->second)].empty()) spelled_[size_t(it->second)] = std::string(name);
    return it->second;
}

const std::vector<int>& DestTable::keyColumns() {
    if (keyKnown_) return primaryKey_;
    keyKnown_ = true;
    for (const std::string& name : conn_->primaryKey(rawTable_)) {
        auto it = byUpperName_.find(toUpper(name));
        if (it == byUpperName_.end()) {
            // A key the result does not show cannot identify the row: use all values.
            primaryKey_.clear();
            break;
        }
        primaryKey_.push_back(it->second);
    }
    return primaryKey_;
}

bool DestTable::keyIdentifiesRow() {
    const std::vector<int>& key = keyColumns();
    return key.size() == 1 && equalsNoCase(columns_[size_t(key[0])].name, keyColumn_);
}

std::string DestTable::columnRef(int index) const {
    return quoteIdentifier(columns_[size_t(index)].name, quote_);
}

template <class BuildSql>
odbc::Statement& DestTable::statement(const std::string& cacheKey, BuildSql sql) {
    auto it = writes_.find(cacheKey);
    if (it != writes_.end()) return *it->second;
    if (writes_.size() >= kMaxCachedWrites) writes_.clear();
    auto st = std::make_unique<odbc::Statement>(*conn_);
    st->prepare(sql());
    return *writes_.emplace(cacheKey, std::move(st)).first->second;
}

// ---- DestRecordset ---------------------------------------------------------------------------

void DestRecordset::addNew() {
    adding_ = true;
    assigned_.clear();
    storedKnown_ = false;
}

void DestRecordset::set(std::string_view column, const Value& value) {
    if (!adding_ && !found_) noCurrentRow();
    int index = table_->columnIndex(column);
    auto it = std::lower_bound(assigned_.begin(), assigned_.end(), index,
                               [](const auto& a, int i) { return a.first < i; });
    if (it != assigned_.end() && it->first == index)
        it->second = value;
    else
        assigned_.emplace(it, index, value);
    storedKnown_ = false;
}

const Value& DestRecordset::storedAssigned(size_t j) const {
    if (!storedKnown_) {
        const auto& meta = table_->columnMeta();
        stored_.assign(assigned_.size(), Value());
        storedAsIs_.assign(assigned_.size(), true);
        for (size_t i = 0; i < assigned_.size(); ++i) {
            const auto& [index, value] = assigned_[i];
            const odbc::ColumnMeta& m = meta[size_t(index)];
            if (storedAsIs(m, value)) continue;
            stored_[i] = storedForm(m, value);
            storedAsIs_[i] = false;
        }
        storedKnown_ = true;
    }
    return storedAsIs_[j] ? assigned_[j].second : stored_[j];
}

Value DestRecordset::boundAssigned(size_t j) const {
    const auto& [index, value] = assigned_[j];
    return boundForm(table_->columnMeta()[size_t(index)], value, storedAssigned(j));
}

void DestRecordset::update() {
    if (adding_)
        insert();
    else if (found_)
        change();
    else
        noCurrentRow();
    adding_ = false;
    assigned_.clear();
    storedKnown_ = false;
}

void DestRecordset::insert() {
    DestTable& t = *table_;
    if (t.holding_ && !assigned_.empty()) {
        int k = t.keyIndex();
        std::vector<int> columns;
        std::vector<Value> row;
        columns.reserve(assigned_.size());
        row.reserve(assigned_.size());
        for (size_t j = 0; j < assigned_.size(); ++j) {
            if (assigned_[j].first == k) t.forget(assigned_[j].second);
            columns.push_back(assigned_[j].first);
            row.push_back(boundAssigned(j));
        }
        t.hold(std::move(columns), std::move(row));
        return;
    }
    std::string key = "I";
    for (auto& a : assigned_) appendIndex(key, a.first);
    odbc::Statement& st = t.statement(key, [&] {
        std::string sql = "INSERT INTO " + t.table_;
        if (assigned_.empty()) return sql + " DEFAULT VALUES";
        std::string names, marks;
        for (auto& a : assigned_) {
            if (!names.empty()) names += ", ", marks += ", ";
            names += t.columnRef(a.first);
            marks += "?";
        }
        return sql + " (" + names + ") VALUES (" + marks + ")";
    });
    bindAssigned(st);
    int k = t.keyIndex();
    for (auto& a : assigned_)
        if (a.first == k) t.forget(a.second);
    t.sending();
    st.execute();
}

void DestRecordset::bindAssigned(odbc::Statement& st) const {
    int p = 0;
    for (size_t j = 0; j < assigned_.size(); ++j) {
        const odbc::ColumnInfo& c = table_->columns_[size_t(assigned_[j].first)];
        st.bindStored(++p, boundAssigned(j), c.sqlType, c.size, c.digits);
    }
}

std::vector<int> DestRecordset::identifyingColumns(bool& byKey) const {
    DestTable& t = *table_;
    std::vector<int> where = t.keyColumns();
    byKey = !where.empty();
    if (!byKey)
        for (size_t i = 0; i < t.columns_.size(); ++i)
            if (comparable(t.columns_[i].sqlType)) where.push_back(int(i));
    if (where.empty())
        throw KorError(
            errnum::kRowNotLocated,
            "Insufficient key column information for updating table '" + t.rawTable_ + "'.");
    return where;
}

std::string DestRecordset::identifyingCondition(const std::vector<int>& where) const {
    std::string cond;
    for (int i : where) {
        if (!cond.empty()) cond += " AND ";
        cond += table_->columnRef(i) + (original_[size_t(i)].isNull() ? " IS NULL" : "=?");
    }
    return cond;
}

void DestRecordset::bindIdentifying(odbc::Statement& st, int& p,
                                    const std::vector<int>& where) const {
    for (int i : where) {
        const Value& v = original_[size_t(i)];
        if (v.isNull()) continue;
        const odbc::ColumnInfo& c = table_->columns_[size_t(i)];
        st.bindStored(++p, v, c.sqlType, c.size, c.digits);
    }
}

void DestRecordset::change() {
    if (assigned_.empty()) return;
    DestTable& t = *table_;
    // The row found is identified by its primary key, or else by every value it was read
    // with; either way only that one row may change.
    bool byKey = false;
    std::vector<int> where = identifyingColumns(byKey);
    using Engine = DestTable::Engine;
    // Held where the statement finds one row at most: an engine's row identity tells rows
    // alike in every value apart.
    if (t.holding_ && (byKey || t.engine_ != Engine::Unknown)) {
        hold(where, byKey);
        return;
    }
    t.storeHeldWrites();

    std::string key = "U";
    appendIndex(key, int(assigned_.size()));
    for (auto& a : assigned_) appendIndex(key, a.first);
    for (int i : where) appendIndex(key, original_[size_t(i)].isNull() ? -1 - i : i);

    odbc::Statement& st = t.statement(key, [&] { return changeSql(where, byKey); });
    bindAssigned(st);
    int p = int(assigned_.size());
    bindIdentifying(st, p, where);
    if (int k = t.keyIndex(); k >= 0) t.forget(original_[size_t(k)]);
    t.sending();
    st.execute();
    long long n = st.rowCount();
    if (n < 0) {
        // No count from the server: the row must now be found with its new values.
        std::vector<Value> now = original_;
        for (auto& a : assigned_) now[size_t(a.first)] = a.second;
        n = rowsMatching(where, now);
    }
    if (n == 0)
        throw KorError(errnum::kRowNotLocated,
                       "Row cannot be located for updating. Some values may have been changed "
                       "since it was last read.");
}

std::string DestRecordset::changeSql(const std::vector<int>& where, bool byKey) const {
    const DestTable& t = *table_;
    std::string sets;
    for (auto& a : assigned_) {
        if (!sets.empty()) sets += ", ";
        sets += t.columnRef(a.first) + "=?";
    }
    std::string cond = identifyingCondition(where);
    using Engine = DestTable::Engine;
    if (byKey || t.engine_ == Engine::Unknown)
        return "UPDATE " + t.table_ + " SET " + sets + " WHERE " + cond;
    if (t.engine_ == Engine::SqlServer)
        return "UPDATE TOP (1) " + t.table_ + " SET " + sets + " WHERE " + cond;
    // Rows alike in every value are told apart by the engine's own row identity.
    std::string id = t.engine_ == Engine::Postgres ? "ctid" : "rowid";
    return "UPDATE " + t.table_ + " SET " + sets + " WHERE " + id + " = (SELECT " + id + " FROM " +
           t.table_ + " WHERE " + cond + " LIMIT 1)";
}

void DestRecordset::hold(const std::vector<int>& where, bool byKey) {
    DestTable& t = *table_;
    DestTable::HeldChange c;
    for (size_t j = 0; j < assigned_.size(); ++j)
        c.params.emplace_back(assigned_[j].first, boundAssigned(j));
    for (int i : where)
        if (!original_[size_t(i)].isNull()) c.params.emplace_back(i, original_[size_t(i)]);
    c.sql = changeSql(where, byKey);
    if (int k = t.keyIndex(); k >= 0) t.forget(original_[size_t(k)]);
    t.heldChanges_.push_back(std::move(c));
}

void DestRecordset::remove() {
    if (!found_) noCurrentRow();
    DestTable& t = *table_;
    t.storeHeldWrites();
    bool byKey = false;
    std::vector<int> where = identifyingColumns(byKey);
    std::string key = "D";
    for (int i : where) appendIndex(key, original_[size_t(i)].isNull() ? -1 - i : i);
    odbc::Statement& st = t.statement(key, [&] {
        std::string cond = identifyingCondition(where);
        using Engine = DestTable::Engine;
        if (byKey || t.engine_ == Engine::Unknown)
            return "DELETE FROM " + t.table_ + " WHERE " + cond;
        if (t.engine_ == Engine::SqlServer)
            return "DELETE TOP (1) FROM " + t.table_ + " WHERE " + cond;
        std::string id = t.engine_ == Engine::Postgres ? "ctid" : "rowid";
        return "DELETE FROM " + t.table_ + " WHERE " + id + " = (SELECT " + id + " FROM " +
               t.table_ + " WHERE " + cond + " LIMIT 1)";
    });
    // Rows alike in every value can only be told apart by how many there are: where the
    // server might send no count, they are counted first.
    using Engine = DestTable::Engine;
    long long before = -1;
    if (!byKey && t.engine_ != Engine::Postgres && t.engine_ != Engine::Sqlite)
        before = rowsMatching(where, original_);
    int p = 0;
    bindIdentifying(st, p, where);
    if (int k = t.keyIndex(); k >= 0) t.forget(original_[size_t(k)]);
    t.sending();
    st.execute();
    long long n = st.rowCount();
    if (n < 0) {
        long long after = rowsMatching(where, original_);
        n = before >= 0 ? before - after : (after == 0 ? 1 : 0);
    }
    if (n == 0)
        throw KorError(errnum::kRowNotLocated,
                       "Row cannot be located for deleting. Some values may have been changed "
                       "since it was last read.");
    found_ = false;
}

long long DestRecordset::rowsMatching(const std::vector<int>& where,
                                      const std::vector<Value>& values) {
    DestTable& t = *table_;
    std::string key = "C";
    for (int i : where) appendIndex(key, values[size_t(i)].isNull() ? -1 - i : i);
    odbc::Statement& st = t.statement(key, [&] {
        std::string cond;
        for (int i : where) {
            if (!cond.empty()) cond += " AND ";
            cond += t.columnRef(i) + (values[size_t(i)].isNull() ? " IS NULL" : "=?");
        }
        return "SELECT COUNT(*) FROM " + t.table_ + " WHERE " + cond;
    });
    int p = 0;
    for (int i : where) {
        const Value& v = values[size_t(i)];
        if (v.isNull()) continue;
        const odbc::ColumnInfo& c = t.columns_[size_t(i)];
        st.bind(++p, v, c.sqlType, c.size, c.digits);
    }
    st.execute();
    auto rows = st.fetchAll();
    return rows.empty() || rows[0].empty() ? 0 : static_cast<long long>(rows[0][0].toNumber());
}

std::vector<std::string> DestRecordset::refusals() {
    DestTable& t = *table_;
    const auto& meta = t.columnMeta();
    std::vector<std::string> out;
    auto a = assigned_.begin();
    for (size_t i = 0; i < meta.size(); ++i) {
        if (a != assigned_.end() && a->first == int(i)) {
            std::string why = refusal(meta[i], a->second);
            if (!why.empty()) out.push_back(t.spelledName(int(i)) + ": " + why);
            ++a;
        } else if (adding_ && !meta[i].nullable && !meta[i].hasDefault) {
            out.push_back(t.spelledName(int(i)) + ": empty but NOT NULL without default");
        }
    }
    return out;
}

std::vector<std::string> DestRecordset::changes() {
    std::vector<std::string> out;
    if (adding_ || !found_) return out;
    DestTable& t = *table_;
    const auto& meta = t.columnMeta();
    for (const auto& [i, v] : assigned_) {
        const odbc::ColumnMeta& m = meta[size_t(i)];
        const Value& old = original_[size_t(i)];
        if (sameStored(m, old, v)) continue;
        out.push_back(t.spelledName(i) + ": " + shownValue(old) + " -> " +
                      shownValue(storedForm(m, v)));
    }
    return out;
}

std::string DestRecordset::culprit(const std::string& driverText) {
    DestTable& t = *table_;
    const auto& meta = t.columnMeta();
    for (const auto& [i, v] : assigned_)
        if (!refusal(meta[size_t(i)], v).empty()) return t.spelledName(i);
    // Engines name the column in their own letter case, often quoted: the longest column
    // name that stands in the text as a word of its own.
    auto word = [](char c) {
        return (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
               static_cast<unsigned char>(c) >= 0x80;
    };
    std::string text = toUpper(driverText);
    int best = -1;
    size_t bestLength = 0;
    for (size_t i = 0; i < t.columns_.size(); ++i) {
        std::string name = toUpper(t.columns_[i].name);
        if (name.size() <= bestLength) continue;
        for (size_t at = text.find(name); at != std::string::npos; at = text.find(name, at + 1)) {
            size_t end = at + name.size();
            if ((at == 0 || !word(text[at - 1])) && (end == text.size() || !word(text[end]))) {
                best = int(i);
                bestLength = name.size();
                break;
            }
        }
    }
    return best < 0 ? std::string() : t.spelledName(best);
}

}  // namespace kordb
