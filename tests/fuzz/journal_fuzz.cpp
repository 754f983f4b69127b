// The undo journal as a file may hold anything: it is read whole or refused with a KorError,
// and every write it lets through is one a migration of its sheet can make.

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>

#include "core/errors.h"
#include "core/tables.h"
#include "migration/journal.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string file = "/tmp/kordb-fuzz-journal-" + std::to_string(::getpid());
    std::ofstream(file, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(data), std::streamsize(size));
    try {
        kordb::JournalReader reader(file);
        for (size_t i = 0; i < reader.size(); ++i) {
            kordb::JournalEntry e = reader.entry(i);
            if (e.op == kordb::JournalEntry::Op::Delete || e.newValues.empty()) std::abort();
            if (e.table != reader.header().sheet && e.table != kordb::table::kPlu) std::abort();
        }
    } catch (const kordb::KorError&) {
    }
    return 0;
}
