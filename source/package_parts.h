#pragma once
// What the readers of zip packages share: the values as the XML of both formats writes them,
// the package's relationships, and the streaming of a part through xml::Scanner. Internal to
// the readers: package_reader.cpp (the package), ooxml_reader.cpp and ods_reader.cpp.

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "core/text.h"
#include "core/value.h"
#include "source/cells.h"
#include "source/xml_scan.h"
#include "source/zip_package.h"

namespace kordb::package {

using xml::Ns;

// ---- Values as the files write them ----

// s == lit, compiled to a compare of known length (names are compared per element).
template <size_t N>
inline bool is(std::string_view s, const char (&lit)[N]) {
    return s.size() == N - 1 && std::memcmp(s.data(), lit, N - 1) == 0;
}

std::string lower(std::string_view s);

inline bool parseUint(std::string_view s, uint64_t& out) {
    s = trimWhiteSpace(s);
    if (s.empty()) return false;
    auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), out);
    return ec == std::errc() && end == s.data() + s.size();
}

// An ISO 8601 date, date and time, or time ("2024-01-31", "2024-01-31T13:45:00.5Z",
// "13:45:00") as a Date cell: days since 1899-12-30 on the calendar as it is, or a time alone
// as a fraction of a day. A zone is ignored: spreadsheets have none.
bool parseIsoDate(std::string_view s, Cell& cell);

// The code of an error text ("#DIV/0!"); 0xFF for none.
uint8_t errorCode(std::string_view text);

// One cell's text, more than any spreadsheet holds, and what keeps a hostile part's memory in
// bounds.
constexpr size_t kMaxText = size_t(16) << 20;

// Lists a part may hold (sheets, relationships, formats): far more than any workbook has.
constexpr size_t kMaxEntries = 100000;

void countEntry(xml::Scanner& sc, size_t count, const char* what);

// s, refused when it is not valid UTF-8.
std::string checkedText(xml::Scanner& sc, std::string&& s);

// Gives equal texts of a sheet one string: a column of a few codes repeated over thousands
// of rows costs a few strings, not thousands.
class StringPool {
  public:
    explicit StringPool(SheetCells& out) : out_(out), slots_(1024, kFree) {}

    uint32_t intern(xml::Scanner& sc, std::string_view s) {
        size_t mask = slots_.size() - 1;
        for (size_t i = std::hash<std::string_view>()(s) & mask;; i = (i + 1) & mask) {
            uint32_t& slot = slots_[i];
            if (slot == kFree) {
                if (!xml::validUtf8(s)) sc.damaged("a text that is not valid UTF-8");
                uint32_t index = out_.addString(std::string(s));
                slot = index;
                if (++used_ * 2 > slots_.size()) grow();
                return index;
            }
            if (out_.string(slot) == s) return slot;
        }
    }

  private:
    static constexpr uint32_t kFree = std::numeric_limits<uint32_t>::max();

    void grow() {
        std::vector<uint32_t> old(slots_.size() * 2, kFree);
        old.swap(slots_);
        size_t mask = slots_.size() - 1;
        for (uint32_t index : old) {
            if (index == kFree) continue;
            size_t i = std::hash<std::string_view>()(out_.string(index)) & mask;
            while (slots_[i] != kFree) i = (i + 1) & mask;
            slots_[i] = index;
        }
    }

    SheetCells& out_;
    std::vector<uint32_t> slots_;  // indexes into out_'s strings
    size_t used_ = 0;
};

template <class Handler>
void scanPart(ZipPackage& zip, int64_t entry, Handler& h) {
    ZipPackage::Stream stream(zip, entry);
    xml::Scanner scanner(stream.part());
    // A big part inflates on a second thread while this one parses.
    std::optional<Prefetch> ahead;
    if (stream.size() >= (uint64_t(8) << 20)) {
        try {
            ahead.emplace(stream);
        } catch (const std::system_error&) {
            // No thread to be had: inflate as we go.
        }
    }
    if (ahead)
        scanner.run(*ahead, h);
    else
        scanner.run(stream, h);
}

// ---- Package structure (OPC) ----

std::string_view lastSegment(std::string_view uri);

struct Relationship {
    std::string id, type, target;  // target resolved to a part name
};

// The relationships of a part; of the package itself for an empty sourcePart.
std::vector<Relationship> readRels(ZipPackage& zip, std::string_view sourcePart);

inline constexpr const char* kBinaryWorkbook =
    "it is an Excel binary workbook (.xlsb), which is not supported: save it as .xlsx";
inline constexpr const char* kNoWorkbook =
    "it is not a workbook: it is a zip archive without a workbook in it";

// The readers of the two formats.
std::unique_ptr<WorkbookReader> openOoxmlWorkbook(std::unique_ptr<ZipPackage> zip,
                                                  std::string mainPart);
std::unique_ptr<WorkbookReader> openOds(std::unique_ptr<ZipPackage> zip);
// The refusal of an OpenDocument file of another kind ("text", "graphics", ...).
std::string describeOdf(std::string_view kind);

}  // namespace kordb::package
