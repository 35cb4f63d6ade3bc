// Plain-text tables for listings: left-aligned columns two spaces apart,
// right-aligned where asked (numbers), no trailing spaces.
#ifndef VESMARA_TOOLS_COMMON_TABLE_H_
#define VESMARA_TOOLS_COMMON_TABLE_H_

#include <string>
#include <vector>

namespace vesmara::tools {

class Table {
 public:
  // `right_aligned[i]` aligns column i to the right; missing entries are left.
  explicit Table(std::vector<std::string> headings, std::vector<bool> right_aligned = {});
  void addRow(std::vector<std::string> cells);
  std::string render() const;
  // The line `cells` would be in the table as it stands: for rows printed
  // one at a time, once rows added with their last cell still empty have
  // set the widths of the other columns.
  std::string renderRow(const std::vector<std::string>& cells) const;

 private:
  std::vector<std::size_t> widths() const;
  std::string renderRow(const std::vector<std::string>& cells, const std::vector<std::size_t>& widths) const;

  std::vector<std::vector<std::string>> rows_;
  std::vector<bool> right_aligned_;
};

}  // namespace vesmara::tools

#endif  // VESMARA_TOOLS_COMMON_TABLE_H_
