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

 private:
  std::vector<std::vector<std::string>> rows_;
  std::vector<bool> right_aligned_;
};

}  // namespace vesmara::tools

#endif  // VESMARA_TOOLS_COMMON_TABLE_H_
