#include "migration/start_run.h"

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

}  // namespace

StartRun::StartRun(Form& f)
    : f_(f), journal_(f.errorFolder, f.st.WorkbookTitle + kJournalInfix, headerOf(f)) {
    f_.outcome.journal.clear();
    f_.outcome.rolledBack = false;
    f_.outcome.rowByRowBecause.clear();
}

StartRun::~StartRun() {
    f_.outcome.journal = journal_.path();
}

void StartRun::begin() {
    odbc::Connection* conn = f_.st.DestConn.get();
    if (!f_.atomicStart || !conn || !conn->isOpen()) return;
    conn->setAutoCommit(false);
    transaction_ = true;
}

void StartRun::finish() {
    if (!transaction_) return;
    f_.st.DestConn->commit();
    transaction_ = false;
    journal_.recordCommitted();
    f_.st.DestConn->setAutoCommit(true);
}

void StartRun::fail() {
    if (!transaction_) return;
    transaction_ = false;
    // Nothing was committed: whatever goes wrong here, the engine drops the transaction at
    // the latest when the connection closes.
    f_.outcome.rolledBack = true;
    try {
        f_.st.DestConn->rollback();
        f_.st.DestConn->setAutoCommit(true);
    } catch (const std::exception&) {
    }
    journal_.discard();
}

void StartRun::write(DestRecordset& rs) {
    if (!rs.adding() && rs.assigned().empty()) return;  // nothing to store
    // Once a statement has failed, an engine may answer nothing more in the transaction, not
    // even the catalog that names the refused column: asked before.
    if (transaction_) rs.table().columnMeta();
    journal_.recordWrite(rs, row_);
    try {
        rs.update();
    } catch (const KorError& e) {
        if (!transaction_) journal_.recordOutcome(false);
        if (e.sqlstate().empty()) throw;
        std::string column = rs.culprit(e.description());
        throw KorError(e.number(),
                       "Row " + std::to_string(row_) +
                           (column.empty() ? std::string() : ", column " + column) + ": " +
                           e.description(),
                       e.sqlstate(), e.nativeCode());
    } catch (...) {
        if (!transaction_) journal_.recordOutcome(false);
        throw;
    }
    if (!transaction_) journal_.recordOutcome(true);
}

}  // namespace kordb
