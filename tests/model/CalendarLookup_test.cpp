// Calendars looked up by UID while readers keep appending to the list.
#include <gtest/gtest.h>

#include "model/Project.h"

namespace {

model::SCalendar Calendar(std::uint32_t uid, std::u16string name) {
  model::SCalendar calendar;
  calendar.UID = uid;
  calendar.Name = std::move(name);
  return calendar;
}

TEST(CalendarLookup, FirstOfAUidWinsAndLaterChangesAreFollowed) {
  model::Project gen;
  EXPECT_EQ(gen.CalendarByUid(1), nullptr);
  gen.calendars.push_back(Calendar(1, u"Standard"));
  gen.calendars.push_back(Calendar(1, u"Copy"));
  ASSERT_NE(gen.CalendarByUid(1), nullptr);
  EXPECT_EQ(gen.CalendarByUid(1)->Name, u"Standard");
  EXPECT_EQ(gen.CalendarByUid(7), nullptr);
  gen.calendars.push_back(Calendar(7, u"Night"));
  ASSERT_NE(gen.CalendarByUid(7), nullptr);
  EXPECT_EQ(gen.CalendarByUid(7)->Name, u"Night");
  // Removed from the middle behind the index's back.
  gen.calendars.erase(gen.calendars.begin());
  ASSERT_NE(gen.CalendarByUid(1), nullptr);
  EXPECT_EQ(gen.CalendarByUid(1)->Name, u"Copy");
  EXPECT_EQ(gen.CalendarByUid(7)->Name, u"Night");
}

}  // namespace
