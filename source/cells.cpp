#include "source/cells.h"

#include <algorithm>

namespace kordb {

size_t SheetCells::budgetFor(size_t fileBytes) {
    constexpr size_t kFloor = size_t(24) << 20, kPerFileByte = 40;
    if (fileBytes >= (kMaxBytes - kFloor) / kPerFileByte) return kMaxBytes;
    return kFloor + fileBytes * kPerFileByte;
}

void SheetCells::charge(size_t bytes) {
    if (bytes <= maxBytes_ - bytes_) {
        bytes_ += bytes;
        return;
    }
    if (maxBytes_ >= kMaxBytes)
        throw ReadError("the worksheet would take more than " + std::to_string(maxBytes_ >> 20) +
                        " MB of memory, more than can be read");
    throw ReadError("the worksheet would take more than " + std::to_string(maxBytes_ >> 20) +
                    " MB of memory, far more than a file of its size holds (its repeats or "
                    "compression claim more than can be believed)");
}

void SheetCells::add(uint32_t row, uint32_t col, Cell cell) {
    if (row >= kMaxRows || col >= kMaxColumns)
        throw ReadError("a cell lies beyond the last row or column a worksheet can have");
    if (row >= rows_.size()) {
        charge((size_t(row) + 1 - rows_.size()) * sizeof(rows_[0]));
        rows_.resize(size_t(row) + 1);
    }
    cell.col = uint16_t(col);
    auto& cells = rows_[row];
    if (cells.empty()) {
        // Rows are about as wide as the one before: one allocation instead of a doubling
        // series that leaves most rows half empty. A sparse row after a wide one reserves
        // little, and what is reserved is charged.
        size_t width = row != lastRow_ && lastRow_ < rows_.size() ? rows_[lastRow_].size() : 0;
        size_t want = std::clamp<size_t>(width, size_t(col < 4 ? col + 1 : 4), 1024);
        charge(want * sizeof(Cell));
        cells.reserve(want);
    } else if (cells.size() == cells.capacity()) {
        charge(cells.capacity() * sizeof(Cell));  // the doubling to come
    }
    lastRow_ = row;
    if (!cells.empty() && cells.back().col >= cell.col) {
        // Out of order or repeated: rare, so a search is cheap enough.
        auto it = std::lower_bound(cells.begin(), cells.end(), cell.col,
                                   [](const Cell& c, uint16_t k) { return c.col < k; });
        if (it != cells.end() && it->col == cell.col) {
            *it = cell;
            return;
        }
        cells.insert(it, cell);
    } else {
        cells.push_back(cell);
    }
    ++cells_;
    columns_ = std::max(columns_, col + 1);
}

uint32_t SheetCells::addString(std::string s) {
    charge(s.size() + sizeof(std::string));
    strings_.push_back(std::move(s));
    return uint32_t(strings_.size() - 1);
}

const Cell* SheetCells::at(uint32_t row, uint32_t col) const {
    if (row >= rows_.size()) return nullptr;
    const auto& cells = rows_[row];
    // Rows are read left to right, and most rows are dense: try the direct slot first.
    if (col < cells.size() && cells[col].col == col) return &cells[col];
    auto it = std::lower_bound(cells.begin(), cells.end(), col,
                               [](const Cell& c, uint32_t k) { return c.col < k; });
    return it != cells.end() && it->col == col ? &*it : nullptr;
}

void SheetCells::finish() {
    // Drop trailing rows that hold nothing: row count is one past the last stored cell.
    while (!rows_.empty() && rows_.back().empty()) rows_.pop_back();
}

const char* errorText(uint8_t code) {
    switch (code) {
        case 0x00:
            return "#NULL!";
        case 0x07:
            return "#DIV/0!";
        case 0x0F:
            return "#VALUE!";
        case 0x17:
            return "#REF!";
        case 0x1D:
            return "#NAME?";
        case 0x24:
            return "#NUM!";
        case 0x2A:
            return "#N/A";
        case 0x2B:
            return "#GETTING_DATA";
        default:
            return "#ERROR";
    }
}

}  // namespace kordb
