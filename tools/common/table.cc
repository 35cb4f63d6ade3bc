#include "common/table.h"

#include <algorithm>

namespace vesmara::tools {

Table::Table(std::vector<std::string> headings, std::vector<bool> right_aligned)
    : right_aligned_(std::move(right_aligned)) {
  rows_.push_back(std::move(headings));
}

void Table::addRow(std::vector<std::string> cells) { rows_.push_back(std::move(cells)); }

std::string Table::render() const {
  std::vector<std::size_t> widths;
  for (const auto& row : rows_) {
    widths.resize(std::max(widths.size(), row.size()));
    for (std::size_t i = 0; i < row.size(); ++i) widths[i] = std::max(widths[i], row[i].size());
  }
  std::string text;
  for (const auto& row : rows_) {
    std::string line;
    for (std::size_t i = 0; i < row.size(); ++i) {
      if (i > 0) line += "  ";
      const std::string padding(widths[i] - row[i].size(), ' ');
      const bool right = i < right_aligned_.size() && right_aligned_[i];
      line += right ? padding + row[i] : row[i] + padding;
    }
    line.erase(line.find_last_not_of(' ') + 1);
    text += line + "\n";
  }
  return text;
}

}  // namespace vesmara::tools
