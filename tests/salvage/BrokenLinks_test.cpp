// Directory links that point out of the directory, back into the walk, at
// another storage's first child, at an entry whose name has no place in
// the storage the link leads from, or at another storage's stream of a
// name this one holds: what hung below them comes
// back in the storage it belongs to, and no storage's contents move
// elsewhere.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "salvage/SalvageRun.h"

namespace {

using fixture::kKeep;

// A FixedMeta whose header is sound: two items of the table's stride.
std::vector<std::uint8_t> SoundFixedMeta(std::uint32_t stride, std::uint32_t seed) {
  std::vector<std::uint8_t> meta = fixture::Pattern(16 + 2 * stride, seed);
  const std::uint32_t header[4] = {0xFADFADBA, 0, 2, 120};
  for (std::size_t i = 0; i < 16; ++i) meta[i] = static_cast<std::uint8_t>(header[i / 4] >> (8 * (i % 4)));
  return meta;
}

fixture::Node Tables(std::u16string name, std::uint32_t seed, std::uint32_t stride = 0) {
  std::vector<fixture::Node> children;
  std::uint32_t i = 0;
  for (const char16_t* s : {u"FixedMeta", u"FixedData", u"VarMeta", u"Var2Data"}) {
    children.push_back(fixture::Stream(s, fixture::Pattern(90 + 30 * i, seed * 8 + i)));
    ++i;
  }
  if (stride != 0) children.front() = fixture::Stream(u"FixedMeta", SoundFixedMeta(stride, seed));
  return fixture::Storage(std::move(name), std::move(children));
}

fixture::Node Project() {
  return fixture::Root({fixture::Stream(u"Props9", fixture::Pattern(600, 1)),
                        fixture::Storage(u"   19", {Tables(u"TBkndTask", 2, 47), Tables(u"TBkndRsc", 3, 37),
                                                    Tables(u"TBkndAssn", 4, 34),
                                                    fixture::Stream(u"Props", fixture::Pattern(900, 5))}),
                        fixture::Storage(u"   29", {Tables(u"CTable", 6), Tables(u"CV_iew", 7), Tables(u"CMap", 8)})});
}

constexpr std::uint32_t kOutside = 0x00FF0000;  // far beyond any entry

// A stream entry of storage whose right link is free, to point elsewhere.
std::uint32_t LeafOf(const fixture::Image& image, const std::u16string& storage) {
  for (const char16_t* s : {u"FixedMeta", u"FixedData", u"VarMeta", u"Var2Data"}) {
    const auto entry = image.FindEntry(storage + u"/" + s);
    if (entry && image.Entry(*entry).right == platform::cfb::kNoEntry) return *entry;
  }
  ADD_FAILURE() << "no leaf";
  return 0;
}

TEST(BrokenLinks, WhatHungBelowComesBackInItsStorage) {
  struct Case {
    const char* what;
    std::function<void(fixture::Image&)> damage;
  };
  std::vector<Case> cases = {
      {"a storage's child link out of the directory",
       [](fixture::Image& image) { image.SetEntryLinks(*image.FindEntry(u"   29"), kKeep, kKeep, kOutside); }},
      {"a data storage's child link saying it has none",
       [](fixture::Image& image) {
         image.SetEntryLinks(*image.FindEntry(u"   19"), kKeep, kKeep, platform::cfb::kNoEntry);
       }},
      {"a view storage's child link saying it has none",
       [](fixture::Image& image) {
         image.SetEntryLinks(*image.FindEntry(u"   29"), kKeep, kKeep, platform::cfb::kNoEntry);
       }},
      {"a table storage's child link out of the directory",
       [](fixture::Image& image) {
         image.SetEntryLinks(*image.FindEntry(u"   19/TBkndRsc"), kKeep, kKeep, kOutside);
       }},
      {"a sibling link to another storage's first child",
       [](fixture::Image& image) {
         const std::uint32_t first = image.Entry(*image.FindEntry(u"   29")).child;
         image.SetEntryLinks(LeafOf(image, u"   19/TBkndTask"), kKeep, first, kKeep);
       }},
      {"a sibling link to a storage's own first child, which cuts off its right-hand part",
       [](fixture::Image& image) {
         const std::uint32_t storage = *image.FindEntry(u"   19/TBkndAssn");
         const std::uint32_t first = image.Entry(storage).child;
         const fixture::EntryFields top = image.Entry(first);
         ASSERT_NE(top.right, platform::cfb::kNoEntry);
         image.SetEntryLinks(first, kKeep, first, kKeep);
       }},
      // Names sort shorter first: a FixedMeta never lies left of a table's
      // other streams, and the storage's own tree leads to its own one.
      // What the link led to before comes back too.
      {"a left link against the name order to another table's stream of a name the storage holds",
       [](fixture::Image& image) {
         for (const char16_t* s : {u"FixedMeta", u"FixedData", u"VarMeta", u"Var2Data"}) {
           const std::uint32_t e = *image.FindEntry(std::u16string(u"   19/TBkndTask/") + s);
           if (image.Entry(e).left != platform::cfb::kNoEntry)
             return image.SetEntryLinks(e, *image.FindEntry(u"   19/TBkndAssn/FixedMeta"), kKeep, kKeep);
         }
         ADD_FAILURE() << "no left link in the task table";
       }},
      {"a data storage's sibling link into a table storage's streams",
       [](fixture::Image& image) {
         // A table stream has no place in a data storage: the link is
         // damaged, and the stream stays its table's.
         const std::uint32_t table = *image.FindEntry(u"   19/TBkndAssn");
         const std::uint32_t first = image.Entry(table).child;
         std::uint32_t inner = platform::cfb::kNoEntry;
         for (const char16_t* s : {u"FixedMeta", u"FixedData", u"VarMeta", u"Var2Data"})
           if (const auto e = image.FindEntry(std::u16string(u"   19/TBkndAssn/") + s); e && *e != first) inner = *e;
         ASSERT_NE(inner, platform::cfb::kNoEntry);
         for (const char16_t* s : {u"TBkndTask", u"TBkndRsc", u"TBkndAssn", u"Props"}) {
           const std::uint32_t e = *image.FindEntry(std::u16string(u"   19/") + s);
           if (image.Entry(e).right == platform::cfb::kNoEntry) return image.SetEntryLinks(e, kKeep, inner, kKeep);
         }
         ADD_FAILURE() << "no leaf in the data storage";
       }},
  };
  // A table storage's child link to another table's streams, whose
  // FixedMeta's items are of another stride, whichever table is walked
  // first.
  for (const char16_t* from : {u"   19/TBkndTask", u"   19/TBkndRsc", u"   19/TBkndAssn"})
    for (const char16_t* to : {u"   19/TBkndTask", u"   19/TBkndRsc", u"   19/TBkndAssn"})
      if (std::u16string(from) != to)
        cases.push_back({"a table storage's child link to another table's streams", [from, to](fixture::Image& image) {
                           const std::uint32_t other = image.Entry(*image.FindEntry(to)).child;
                           image.SetEntryLinks(*image.FindEntry(from), kKeep, kKeep, other);
                         }});
  // A right link that keeps the name order to another table's stream of a
  // name the storage holds, whichever table is walked first.
  for (const auto& [from, to] : {std::pair{u"   19/TBkndTask/", u"   29/CTable/FixedMeta"},
                                 std::pair{u"   29/CTable/", u"   19/TBkndTask/FixedMeta"}})
    cases.push_back({"a link that keeps the name order to a stream of a name the storage holds",
                     [from, to](fixture::Image& image) {
                       for (const std::u16string_view s : {u"VarMeta", u"Var2Data"}) {
                         std::u16string path(from);
                         path.append(s);
                         const std::uint32_t e = *image.FindEntry(path);
                         if (image.Entry(e).right == platform::cfb::kNoEntry)
                           return image.SetEntryLinks(e, kKeep, *image.FindEntry(to), kKeep);
                       }
                       ADD_FAILURE() << "no free right link";
                     }});
  fixture::ScratchDir scratch;
  const fixture::Node project = Project();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    fixture::Image image = fixture::Image::Of(project);
    c.damage(image);
    auto run = salvage_test::Salvage(scratch, image.bytes());
    ASSERT_TRUE(run.repaired);
    EXPECT_EQ(salvage_test::MissingFrom(project, *run.repaired), std::vector<std::string>{});
  }
}

}  // namespace
