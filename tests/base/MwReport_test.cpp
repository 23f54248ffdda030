// The recovery report as the host reads it: four column arrays of texts,
// row 0 with the recovery level, one row per item, a null entry at the end.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "FoundationTestSupport.h"
#include "base/MwReport.h"

namespace {

using namespace foundation_test;

struct Table {
  int rows = 0;
  char16_t** column[4] = {};

  std::u16string At(int row, int col) const {
    const char16_t* text = column[col][row];
    return text ? std::u16string(text) : u"<null>";
  }
  // Every column ends with a null entry after the last row.
  bool EndsAfter(int row) const {
    for (char16_t** c : column)
      if (c[row + 1] != nullptr) return false;
    return true;
  }
};

Table Build(MwUtils::MwReport& report) {
  Table table;
  table.rows = report.BuildTable(&table.column[0], &table.column[1], &table.column[2], &table.column[3]);
  return table;
}

TEST(MwReport, ItemsFollowTheLevelRow) {
  MwUtils::MwReport report;
  report.AddItem(u"Tasks", u"120");
  report.AddItem(u"Resources", u"8");
  report.AddItem(u"Links", u"3", u"checked");
  report.SetLevel(3);

  const Table table = Build(report);
  ASSERT_EQ(table.rows, 4);
  EXPECT_EQ(table.At(0, 2), u"3");
  const std::u16string expected[3][4] = {
      {u"Tasks", u"120", u"", u" "},
      {u"Resources", u"8", u"", u" "},
      {u"Links", u"3", u"", u"checked"},
  };
  for (int row = 1; row <= 3; ++row)
    for (int col = 0; col < 4; ++col)
      EXPECT_EQ(table.At(row, col), expected[row - 1][col]) << row << "," << col;
  EXPECT_TRUE(table.EndsAfter(3));
  // Each text is a copy of its own.
  EXPECT_NE(table.column[2][1], table.column[2][2]);
  EXPECT_NE(table.column[1][0], table.column[3][0]);
}

TEST(MwReport, RowsAccumulateAcrossRuns) {
  MwUtils::MwReport report;
  report.AddItem(u"Tasks", u"10");
  report.SetLevel(2);
  Table first = Build(report);
  ASSERT_EQ(first.rows, 2);
  // The host may scribble on what it was given; the next table is fresh.
  first.column[1][1][0] = u'X';

  report.AddItem(u"Tasks", u"4");
  report.AddItem(u"Assignments", u"6");
  report.SetLevel(1);
  const Table second = Build(report);
  ASSERT_EQ(second.rows, 4);
  EXPECT_EQ(second.At(0, 2), u"1");
  EXPECT_EQ(second.At(1, 0), u"Tasks");
  EXPECT_EQ(second.At(1, 1), u"10");
  EXPECT_EQ(second.At(2, 1), u"4");
  EXPECT_EQ(second.At(3, 0), u"Assignments");
  EXPECT_TRUE(second.EndsAfter(3));
}

class MwReportExport : public HostTest {};

TEST_F(MwReportExport, RunEndingBeforeTheParserAddsNothing) {
  char16_t** before[4] = {};
  EXPECT_EQ(RecoveryReport(&before[0], &before[1], &before[2], &before[3]), 0);
  int rowsBefore = 0;
  while (before[0][rowsBefore]) ++rowsBefore;
  ASSERT_GE(rowsBefore, 1);
  const std::u16string levelBefore = before[2][0];

  Initialise();
  EXPECT_NE(Recover(TextInput(), out), 0);

  char16_t** after[4] = {};
  EXPECT_EQ(RecoveryReport(&after[0], &after[1], &after[2], &after[3]), 0);
  int rowsAfter = 0;
  while (after[0][rowsAfter]) ++rowsAfter;
  EXPECT_EQ(rowsAfter, rowsBefore);
  EXPECT_EQ(std::u16string(after[2][0]), levelBefore);
  for (char16_t** column : after) EXPECT_EQ(column[rowsAfter], nullptr);
}

}  // namespace
