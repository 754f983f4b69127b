#include "migration/start_run.h"

#include <algorithm>
#include <exception>
#include <string>

#include "core/errors.h"
#include "settings/odbc.h"

namespace kordb {

namespace {

JournalHeader headerOf(Form& f) {
    JournalHeader h;
    h.workbook = f.st.WorkbookTitle;
    h.sheet = f.st.SheetName;
    h.server = f.ui.fieldText(0);
    h.database = f.ui.fieldText(1);
    h.atomic = f.atomicStart;
    if (odbc::Connection* conn = f.st.DestConn.get(); conn && conn->isOpen()) {
        h.dbms = conn->dbmsName();
        h.identity = conn->databaseIdentity();
    }
    return h;
}

// Commits and ends t. A failure before the commit is thrown; one after it (autocommit not
// coming back) is given back, for the caller to throw once it has taken the commit as done.
std::exception_ptr commit(std::optional<odbc::Transaction>& t) {
    std::exception_ptr afterCommit;
    try {
        t->commit();
    } catch (const std::exception&) {
        if (t->pending()) throw;
        afterCommit = std::current_exception();
    }
    t.reset();
    return afterCommit;
}

}  // namespace

StartRun::StartRun(Form& f)
    : f_(f), journal_(f.errorFolder, f.st.WorkbookTitle, kJournalInfix, headerOf(f)) {
    f_.outcome.journal.clear();
    f_.outcome.rolledBack = false;
    f_.outcome.rowByRowBecause.clear();
    f_.outcome.writtenOneByOneBecause.clear();
}

StartRun::~StartRun() {
    f_.outcome.journal = journal_.path();
    f_.outcome.lastRow = row_;
}

void StartRun::begin() {
    odbc::Connection* conn = f_.st.DestConn.get();
    if (!f_.atomicStart || !conn || !conn->isOpen()) return;
    transaction_.emplace(*conn);
}

void StartRun::finish() {
    if (!transaction_) return;
    // Committed, the run stays committed even when autocommit does not come back after it.
    std::exception_ptr afterCommit = commit(transaction_);
    journal_.recordCommitted();
    if (afterCommit) std::rethrow_exception(afterCommit);
}

void StartRun::fail() {
    if (!transaction_) return;
    // Nothing was committed: whatever goes wrong here, the engine drops the transaction at
    // the latest when the connection closes.
    f_.outcome.rolledBack = true;
    try {
        transaction_->rollback();
    } catch (const std::exception&) {
    }
    transaction_.reset();
    journal_.discard();
}

void StartRun::list(Form& f, const std::string& line, bool refreshFirst) {
    if (holding_.empty())
        RowHandler::list(f, line, refreshFirst);
    else
        lines_.emplace_back(line, refreshFirst);
}

bool StartRun::beginBatch(const std::vector<DestTable*>& tables) {
    odbc::Connection* conn = f_.st.DestConn.get();
    if (transaction_ || f_.rowByRow || !conn || !conn->isOpen()) return false;
    // A trigger could make a held row matter to a later look-up before it is stored.
    if (canHold_ < 0) {
        canHold_ = 1;
        for (DestTable* t : tables)
            if (conn->mayHaveTriggers(t->name())) canHold_ = 0;
    }
    if (!canHold_) return false;
    batch_.emplace(*conn);
    holding_ = tables;
    journal_.holdLines(true);
    for (DestTable* t : holding_) {
        t->holdWrites(true);
        t->beforeSending([this] { journal_.flush(); });
    }
    return true;
}

void StartRun::stopHolding() {
    for (DestTable* t : holding_) {
        t->holdWrites(false);
        t->beforeSending(nullptr);
    }
    holding_.clear();
    lines_.clear();
    journal_.holdLines(false);
}

void StartRun::endBatch() {
    if (holding_.empty()) return;
    for (DestTable* t : holding_) t->storeHeldWrites();
    // Committed, the batch stays stored even when autocommit does not come back after it: its
    // outcome and lines are given, and the error goes on without the batch being taken back.
    std::exception_ptr afterCommit = commit(batch_);
    journal_.recordOutcome(true);
    auto lines = std::move(lines_);
    stopHolding();
    for (const auto& [line, refreshFirst] : lines) RowHandler::list(f_, line, refreshFirst);
    if (afterCommit) std::rethrow_exception(afterCommit);
}

bool StartRun::abandonBatch() {
    if (holding_.empty()) return false;
    for (DestTable* t : holding_) t->dropHeldWrites();
    stopHolding();
    try {
        batch_->rollback();
    } catch (const std::exception&) {
        // The rows that come again meet the same fault, and it is shown for them.
    }
    batch_.reset();
    journal_.recordOutcome(false);
    return true;
}

void StartRun::batchRefused(const std::string& why) {
    // Whatever the destination held against the batch, it takes the rows one at a time: the
    // rest of the run goes that way, without a batch failing each time first.
    canHold_ = 0;
    if (f_.outcome.writtenOneByOneBecause.empty()) f_.outcome.writtenOneByOneBecause = why;
}

void StartRun::write(DestRecordset& rs) {
    if (!rs.adding() && rs.assigned().empty()) return;  // nothing to store
    // Once a statement has failed, an engine may answer nothing more in the transaction, not
    // even the catalog that names the refused column: asked before.
    if (transaction_) rs.table().columnMeta();
    journal_.recordWrite(rs, row_);
    // A table outside the batch sends its write now.
    if (!holding_.empty() &&
        std::find(holding_.begin(), holding_.end(), &rs.table()) == holding_.end())
        journal_.flush();
    // Held with its batch: its outcome is the batch's.
    const bool alone = !transaction_ && holding_.empty();
    try {
        rs.update();
    } catch (const KorError& e) {
        if (alone) journal_.recordOutcome(false);
        if (e.sqlstate().empty()) throw;
        std::string column = rs.culprit(e.description());
        throw KorError(e.number(),
                       "Row " + std::to_string(row_) +
                           (column.empty() ? std::string() : ", column " + column) + ": " +
                           e.description(),
                       e.sqlstate(), e.nativeCode());
    } catch (...) {
        if (alone) journal_.recordOutcome(false);
        throw;
    }
    if (alone) journal_.recordOutcome(true);
}

}  // namespace kordb
