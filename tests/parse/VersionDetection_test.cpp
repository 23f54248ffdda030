// Version detection on compound files built in memory, method by method and
// with the data storage overruling the saving application.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "parse/VersionDetection.h"
#include "platform/Text.h"
#include "support/CfbFixture.h"
#include "support/TestRun.h"

namespace {

namespace fs = std::filesystem;
using fixture::Storage;
using fixture::Stream;

// A CompObj stream: a 28-byte header, the user-type text's length (its zero
// included) and the text; cut to keep bytes.
fixture::Node CompObj(std::string_view userType, std::size_t keep = SIZE_MAX) {
  std::vector<std::uint8_t> bytes(28, 0);
  const auto length = static_cast<std::uint32_t>(userType.size() + 1);
  for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<std::uint8_t>(length >> (8 * i)));
  bytes.insert(bytes.end(), userType.begin(), userType.end());
  bytes.resize(std::min(bytes.size() + 5, keep), 0);
  return Stream(u"\x01" "CompObj", bytes);
}

fixture::Node Data(std::u16string name) { return Storage(std::move(name), {Stream(u"Props", "p")}); }

int Detect(fixture::ScratchDir& scratch, const std::vector<std::uint8_t>& bytes) {
  static int files = 0;
  const std::string path = scratch.File("file" + std::to_string(++files) + ".mpp");
  EXPECT_TRUE(fixture::WriteFile(path, bytes));
  return DetectFileVersion(test_support::QuietRun().log, platform::Utf8ToUtf16(path));
}

// The CompObj text decides by its prefix; look-alikes and unknown products
// fall through to the Props streams and storages; the data storage shows
// the format the file was saved in and overrules the saving application.
TEST(VersionDetection, EachMethodInItsOrderAndTheDataStorageLast) {
  struct Case {
    const char* what;
    std::vector<fixture::Node> children;
    int version;
  };
  const std::vector<Case> cases = {
      {"CompObj decides over Props", {CompObj("Microsoft Project 9.0 Plan"), Stream(u"Props14", "x"), Data(u"   19")}, 9},
      {"CompObj 12", {CompObj("Microsoft Project 12.0"), Data(u"   112")}, 12},
      {"CompObj 14 with more", {CompObj("Microsoft.Project 14.0.1"), Data(u"   114")}, 14},
      {"a blank for the dot", {CompObj("Microsoft Project 14.0"), Data(u"   112")}, 12},
      {"text cut by the stream", {CompObj("Microsoft Project 12.0", 32 + 20), Data(u"   19")}, 9},
      {"text cut by a zero", {CompObj(std::string_view("Microsoft Project 9\0.0", 22)), Data(u"   114")}, 14},
      {"short text", {CompObj("Plan", 32 + 3), Data(u"   114")}, 14},
      {"unknown product", {CompObj("OtherVendor.Planner 3.1"), Data(u"   114")}, 14},
      {"Props streams", {Stream(u"Props14", "x"), Stream(u"Props9", "x"), Data(u"   19"), Data(u"   114")}, 9},
      {"storages only", {Storage(u"   214"), Storage(u"   29")}, 9},
      {"a stream is no storage", {Stream(u"   114", "x"), Storage(u"   212")}, 12},
      {"nothing known", {Storage(u"   1", {Stream(u"Props", "x")}), Stream(u"Props", "x")}, 0},
      {"data storage overrules 14", {CompObj("Microsoft.Project 14.0"), Data(u"   112")}, 12},
      {"data storage overrules 12", {CompObj("Microsoft Project 12.0"), Data(u"   19")}, 9},
      {"data storage overrules Props", {Stream(u"Props14", "x"), Data(u"   112")}, 12},
      {"data storage overrules a storage", {Storage(u"   29"), Data(u"   114")}, 14},
      {"of two left behind the newest", {CompObj("Microsoft.Project 14.0"), Data(u"   19"), Data(u"   112")}, 12},
      {"decided one present", {CompObj("Microsoft.Project 14.0"), Data(u"   114"), Data(u"   112")}, 14},
      {"no data storage", {CompObj("Microsoft.Project 14.0"), Storage(u"   212")}, 14},
  };
  fixture::ScratchDir scratch;
  for (const Case& c : cases)
    EXPECT_EQ(Detect(scratch, fixture::Build(fixture::Root(c.children))), c.version) << c.what;

  // A CompObj stream whose chain ends after its first sector.
  fixture::Node compObj = CompObj("Microsoft.Project 14.0");
  compObj.bytes.resize(5000, 0x20);
  fixture::Image image =
      fixture::Image::Of(fixture::Root({compObj, Stream(u"Props12", "x"), Data(u"   112")}));
  const auto chain = image.StreamChain(u"\x01" "CompObj");
  ASSERT_FALSE(chain.empty());
  image.SetFatEntry(chain.front(), platform::cfb::kEndOfChain);
  EXPECT_EQ(Detect(scratch, image.bytes()), 12);

  const std::string text = "Task 1: pour the foundations, then wait a week.\n";
  EXPECT_EQ(Detect(scratch, std::vector<std::uint8_t>(text.begin(), text.end())), 0);
}

}  // namespace
