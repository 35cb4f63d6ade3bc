#include "common/table.h"

#include <algorithm>

namespace vesmara::tools {

Table::Table(std::vector<std::string> headings, std::vector<bool> right_aligned)
    : right_aligned_(std::move(right_aligned)) {
  rows_.push_back(std::move(headings));
}

void Table::addRow(std::vector<std::string> cells) { rows_.push_back(std::move(cells)); }

std::vector<std::size_t> Table::widths() const {
  std::vector<std::size_t> widths;
  for (const auto& row : rows_) {
    widths.resize(std::max(widths.size(), row.size()));
    for (std::size_t i = 0; i < row.size(); ++i) widths[i] = std::max(widths[i], row[i].size());
  }
  return widths;
}

std::string Table::render() const {
  const std::vector<std::size_t> column_widths = widths();
  std::string text;
  for (const auto& row : rows_) text += renderRow(row, column_widths);
  return text;
}

std::string Table::renderRow(const std::vector<std::string>& cells) const { return renderRow(cells, widths()); }

std::string Table::renderRow(const std::vector<std::string>& cells, const std::vector<std::size_t>& widths) const {
  std::string line;
  for (std::size_t i = 0; i < cells.size(); ++i) {
    if (i > 0) line += "  ";
    const std::size_t width = i < widths.size() ? std::max(widths[i], cells[i].size()) : cells[i].size();
    const std::string padding(width - cells[i].size(), ' ');
    const bool right = i < right_aligned_.size() && right_aligned_[i];
    line += right ? padding + cells[i] : cells[i] + padding;
  }
  line.erase(line.find_last_not_of(' ') + 1);
  return line + "\n";
}

}  // namespace vesmara::tools
