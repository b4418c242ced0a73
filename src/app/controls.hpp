// The control kinds every window is made of: plain values that the window logic reads and
// writes, and that the Qt binding shows. No toolkit code here.
#pragma once

#include <string>
#include <vector>

namespace kelvarin {

/// Background and pen colours the windows use.
enum class Colour { Window, Blue, White, Black, Red, Green, Yellow, Navy, Fuchsia, Gray };

struct Control {
    bool enabled = true;
    bool visible = true;
    Colour colour = Colour::Window;
};

struct Label : Control {
    std::string caption;
    std::string hint;
    /// The caption as messages name the field beside it: "tau:" gives "tau".
    std::string fieldName() const {
        return !caption.empty() && caption.back() == ':' ? caption.substr(0, caption.size() - 1)
                                                         : caption;
    }
};

/// Single-line text field.
struct Edit : Control {
    std::string text;
    std::string hint;
};

struct Button : Control {
    std::string caption;
};

struct CheckBox : Control {
    std::string caption;
    bool checked = false;
};

struct RadioGroup : Control {
    std::string caption;
    std::vector<std::string> items;
    int itemIndex = -1;  ///< -1: no item selected
};

/// Drop-down list with free text: `text` is what the field shows, `itemIndex` the chosen item
/// (-1 when the text was typed or nothing was chosen).
struct ComboBox : Control {
    std::vector<std::string> items;
    int itemIndex = -1;
    std::string text;
    /// Selects item `index` (or none for -1) and shows its text, as a user's pick does.
    void select(int index);
};

/// Table of texts addressed as (column, row); rows below `fixedRows` are headings.
class StringGrid : public Control {
public:
    StringGrid(int cols = 2, int rows = 18, int fixed = 0);

    int colCount() const { return colCount_; }
    int rowCount() const { return rowCount_; }
    int fixedRows = 0;

    void setColCount(int cols);
    /// Grows or shrinks the table; cells of new rows are empty, cells of removed rows are gone.
    void setRowCount(int rows);

    const std::string& cell(int col, int row) const;
    /// Writing a cell outside the table is ignored, reading one gives "".
    void setCell(int col, int row, std::string text);
    /// Empties every cell, keeping the size.
    void clear();

private:
    int colCount_;
    int rowCount_;
    std::vector<std::vector<std::string>> cells_;  // [row][col]
};

struct ProgressBar : Control {
    int min = 0;
    int max = 100;
    int position = 0;
};

/// One-shot style timer: the window logic starts it by setting `enabled`, its handler stops it.
struct Timer {
    int intervalMs = 1000;
    bool enabled = false;
};

struct Panel : Control {
    std::string caption;
};

struct MenuItem : Control {
    std::string caption;
};

}  // namespace kelvarin
