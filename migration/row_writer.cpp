#include "migration/row_writer.h"

#include <sqlext.h>

#include <algorithm>
#include <ctime>

#include "core/errors.h"
#include "core/text.h"

namespace kordb {

namespace {

// Statements kept per run; rows of one sheet assign few distinct column sets, so this only
// bounds a pathological sheet.
constexpr size_t kMaxCachedWrites = 64;

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
bool comparable(SQLSMALLINT type) {
    switch (type) {
        case SQL_LONGVARCHAR:
        case SQL_WLONGVARCHAR:
        case SQL_LONGVARBINARY:
        case SQL_VARBINARY:
        case SQL_BINARY:
        case SQL_FLOAT:
        case SQL_REAL:
        case SQL_DOUBLE:
        case SQL_TYPE_TIME:
        case SQL_TYPE_TIMESTAMP:
        case SQL_TIME:
        case SQL_TIMESTAMP:
        case SQL_UNKNOWN_TYPE:
            return false;
        default:
            return true;
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
    std::time_t now = std::time(nullptr);
    std::tm local{};
#ifdef _WIN32
    localtime_s(&local, &now);
#else
    localtime_r(&now, &local);
#endif
    char buf[16];
    std::strftime(buf, sizeof buf, "%Y-%m-%d", &local);
    return Value::date(buf);
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

DestRecordset DestTable::lookup(const std::string& key) {
    if (!conn_ || !conn_->isOpen())
        throw KorError(errnum::kConnectionClosed,
                       "The destination connection is not open. Connect to the destination "
                       "database first.");
    if (!lookup_) {
        lookup_ = std::make_unique<odbc::Statement>(*conn_);
        lookup_->prepare(lookupSql_);
    }
    // Once the key column's type is known, the key goes as that type: a Unicode parameter
    // against a non-Unicode column can keep SQL Server from using the key's index.
    SQLSMALLINT type = SQL_UNKNOWN_TYPE;
    if (!columns_.empty()) {
        auto it = byUpperName_.find(toUpper(keyColumn_));
        if (it != byUpperName_.end()) {
            SQLSMALLINT t = columns_[size_t(it->second)].sqlType;
            // Long text types cannot be compared with "=" on SQL Server.
            if (odbc::isCharType(t) && t != SQL_LONGVARCHAR && t != SQL_WLONGVARCHAR) type = t;
        }
    }
    lookup_->bind(1, Value::text(key), type);
    lookup_->execute();
    if (columns_.empty()) {
        columns_ = lookup_->columns();
        for (size_t i = 0; i < columns_.size(); ++i)
            byUpperName_.emplace(toUpper(columns_[i].name), int(i));
    }
    auto rows = lookup_->fetchAll();
    DestRecordset rs(*this);
    if (!rows.empty()) {
        rs.found_ = true;
        rs.original_ = std::move(rows.front());
    }
    return rs;
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
}

void DestRecordset::insert() {
    DestTable& t = *table_;
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
    int p = 0;
    for (auto& a : assigned_) {
        const odbc::ColumnInfo& c = t.columns_[size_t(a.first)];
        st.bind(++p, a.second, c.sqlType, c.size, c.digits);
    }
    st.execute();
}

void DestRecordset::change() {
    if (assigned_.empty()) return;
    DestTable& t = *table_;
    // The row found is identified by its primary key, or else by every value it was read
    // with; either way only that one row may change.
    std::vector<int> where = t.keyColumns();
    bool byKey = !where.empty();
    if (!byKey)
        for (size_t i = 0; i < t.columns_.size(); ++i)
            if (comparable(t.columns_[i].sqlType)) where.push_back(int(i));
    if (where.empty())
        throw KorError(
            errnum::kRowNotLocated,
            "Insufficient key column information for updating table '" + t.rawTable_ + "'.");

    std::string key = "U";
    appendIndex(key, int(assigned_.size()));
    for (auto& a : assigned_) appendIndex(key, a.first);
    for (int i : where) appendIndex(key, original_[size_t(i)].isNull() ? -1 - i : i);

    odbc::Statement& st = t.statement(key, [&] {
        std::string sets, cond;
        for (auto& a : assigned_) {
            if (!sets.empty()) sets += ", ";
            sets += t.columnRef(a.first) + "=?";
        }
        for (int i : where) {
            if (!cond.empty()) cond += " AND ";
            cond += t.columnRef(i) + (original_[size_t(i)].isNull() ? " IS NULL" : "=?");
        }
        using Engine = DestTable::Engine;
        if (byKey || t.engine_ == Engine::Unknown)
            return "UPDATE " + t.table_ + " SET " + sets + " WHERE " + cond;
        if (t.engine_ == Engine::SqlServer)
            return "UPDATE TOP (1) " + t.table_ + " SET " + sets + " WHERE " + cond;
        // Rows alike in every value are told apart by the engine's own row identity.
        std::string id = t.engine_ == Engine::Postgres ? "ctid" : "rowid";
        return "UPDATE " + t.table_ + " SET " + sets + " WHERE " + id + " = (SELECT " + id +
               " FROM " + t.table_ + " WHERE " + cond + " LIMIT 1)";
    });
    int p = 0;
    for (auto& a : assigned_) {
        const odbc::ColumnInfo& c = t.columns_[size_t(a.first)];
        st.bind(++p, a.second, c.sqlType, c.size, c.digits);
    }
    for (int i : where) {
        const Value& v = original_[size_t(i)];
        if (v.isNull()) continue;
        const odbc::ColumnInfo& c = t.columns_[size_t(i)];
        st.bind(++p, v, c.sqlType, c.size, c.digits);
    }
    st.execute();
    if (st.rowCount() == 0)
        throw KorError(errnum::kRowNotLocated,
                       "Row cannot be located for updating. Some values may have been changed "
                       "since it was last read.");
}

}  // namespace kordb
