#pragma once
// Start's side of a pass: each destination row recorded in the undo journal and then stored,
// a value the destination refuses named by its worksheet row and column, and with the form's
// atomicStart the whole run in one transaction.

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "form/form.h"
#include "migration/journal.h"
#include "migration/passes.h"
#include "settings/odbc.h"

namespace kordb {

class StartRun : public RowHandler {
  public:
    explicit StartRun(Form& f);
    ~StartRun() override;
    StartRun(const StartRun&) = delete;
    StartRun& operator=(const StartRun&) = delete;

    // Before the first look-up: starts the transaction of an atomic run.
    void begin();
    // The run reached its end: commits the transaction of an atomic run.
    void finish();
    // In the error trap, before the error is shown: rolls an atomic run back.
    void fail();

    bool listing() const override { return true; }
    void beginRow(long sheetRow, const Value&) override { row_ = sheetRow; }
    void write(DestRecordset& rs) override;
    void skip(bool) override {}
    void endRow() override {}
    void list(Form& f, const std::string& line, bool refreshFirst) override;
    bool beginBatch(const std::vector<DestTable*>& tables) override;
    void endBatch() override;
    bool abandonBatch() override;
    void batchRefused(const std::string& why) override;

  private:
    void stopHolding();

    Form& f_;
    Journal journal_;
    long row_ = 0;
    // An atomic run's transaction, from begin() to finish() or fail().
    std::optional<odbc::Transaction> transaction_;
    std::optional<odbc::Transaction> batch_;
    // The batch's writes held by the tables, in a transaction of the batch's own, and the
    // list's lines held with them; whether the tables can hold writes at all.
    std::vector<DestTable*> holding_;
    std::vector<std::pair<std::string, bool>> lines_;
    int canHold_ = -1;
};

}  // namespace kordb
