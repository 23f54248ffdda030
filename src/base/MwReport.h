// The recovery report: what the runs of this process wrote, row by row, and
// a recovery level from 1 (poor) to 3 (good). Rows accumulate across runs.
#pragma once

#include <memory>
#include <string>
#include <vector>

namespace MwUtils {

struct ReportItem {
  std::u16string name;
  std::u16string note;
  std::u16string value;
  // Column 2 of the item's row: empty for the count rows, "whole" or
  // "lost" for the loss rows.
  std::u16string status;
};

class MwReport {
 public:
  virtual ~MwReport() = default;

  // A null note becomes a single blank.
  void AddItem(const char16_t* name, const char16_t* value, const char16_t* note = nullptr,
               const char16_t* status = nullptr);
  void SetLevel(int level) { recoveryLevel_ = level; }
  int Level() const { return recoveryLevel_; }
  const std::vector<ReportItem>& Items() const { return items_; }

  // Builds the four columns (each ended by a null entry) and returns the
  // number of rows. The previous table is released.
  int BuildTable(char16_t*** column0, char16_t*** column1, char16_t*** column2,
                 char16_t*** column3);

 private:
  std::u16string title_;
  int recoveryLevel_ = 1;
  std::vector<ReportItem> items_;
  // The texts the table points into, and the four column arrays.
  std::vector<std::unique_ptr<char16_t[]>> texts_;
  std::vector<char16_t*> columns_[4];
};

}  // namespace MwUtils
