#include "base/MwReport.h"

#include <algorithm>

namespace MwUtils {

void MwReport::AddItem(const char16_t* name, const char16_t* value, const char16_t* note,
                       const char16_t* status) {
  items_.push_back({name ? name : u"", note ? note : u" ", value ? value : u"", status ? status : u""});
}

int MwReport::BuildTable(char16_t*** column0, char16_t*** column1, char16_t*** column2,
                         char16_t*** column3) {
  texts_.clear();
  auto copy = [this](const std::u16string& text) {
    auto buffer = std::make_unique<char16_t[]>(text.size() + 1);
    std::copy(text.begin(), text.end(), buffer.get());
    buffer[text.size()] = u'\0';
    texts_.push_back(std::move(buffer));
    return texts_.back().get();
  };
  const std::size_t rows = items_.size() + 1;
  for (auto& column : columns_) column.assign(rows + 1, nullptr);

  const char16_t* level = recoveryLevel_ == 2 ? u"2" : recoveryLevel_ == 3 ? u"3" : u"1";
  columns_[0][0] = copy(title_);
  columns_[1][0] = copy(u"");
  columns_[2][0] = copy(level);
  columns_[3][0] = copy(u"");
  for (std::size_t i = 0; i < items_.size(); ++i) {
    columns_[0][i + 1] = copy(items_[i].name);
    columns_[1][i + 1] = copy(items_[i].value);
    columns_[2][i + 1] = copy(items_[i].status);
    columns_[3][i + 1] = copy(items_[i].note);
  }
  char16_t*** out[4] = {column0, column1, column2, column3};
  for (int c = 0; c < 4; ++c)
    if (out[c]) *out[c] = columns_[c].data();
  return static_cast<int>(rows);
}

}  // namespace MwUtils
