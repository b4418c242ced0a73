#include "app/controls.hpp"

#include <algorithm>

namespace kelvarin {

void ComboBox::select(int index) {
    if (index < 0 || index >= static_cast<int>(items.size())) {
        itemIndex = -1;
        return;
    }
    itemIndex = index;
    text = items[static_cast<std::size_t>(index)];
}

StringGrid::StringGrid(int cols, int rows, int fixed)
    : fixedRows(fixed), colCount_(std::max(cols, 0)), rowCount_(std::max(rows, 0)) {
    cells_.assign(static_cast<std::size_t>(rowCount_),
                  std::vector<std::string>(static_cast<std::size_t>(colCount_)));
}

void StringGrid::setColCount(int cols) {
    colCount_ = std::max(cols, 0);
    for (auto& row : cells_)
        row.resize(static_cast<std::size_t>(colCount_));
}

void StringGrid::setRowCount(int rows) {
    rowCount_ = std::max(rows, 0);
    cells_.resize(static_cast<std::size_t>(rowCount_),
                  std::vector<std::string>(static_cast<std::size_t>(colCount_)));
}

const std::string& StringGrid::cell(int col, int row) const {
    static const std::string empty;
    if (col < 0 || row < 0 || col >= colCount_ || row >= rowCount_) return empty;
    return cells_[static_cast<std::size_t>(row)][static_cast<std::size_t>(col)];
}

void StringGrid::setCell(int col, int row, std::string text) {
    if (col < 0 || row < 0 || col >= colCount_ || row >= rowCount_) return;
    cells_[static_cast<std::size_t>(row)][static_cast<std::size_t>(col)] = std::move(text);
}

void StringGrid::clear() {
    for (auto& row : cells_)
        for (auto& c : row)
            c.clear();
}

}  // namespace kelvarin
