// The exported interface and the settings behind it, seen as a host sees
// them: what each setter keeps, what reaches the callbacks, and the progress
// filter that drops repeats.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "FoundationTestSupport.h"
#include "base/LibrarySettings.h"
#include "base/Logger.h"
#include "mdwdll.h"

namespace {

using namespace foundation_test;

class ExportsTest : public HostTest {};

TEST_F(ExportsTest, OutputFormatForms) {
  struct Case {
    const char16_t* given;
    std::u16string kept;
  };
  const Case cases[] = {
      {u"*.xml", u".xml"},  // the usual form: the extension with its dot
      {u".xml", u".xml"},   // no asterisk: kept as it is
      {u"*.*", u".*"},      // keep the input's extension
      {u"**.x", u"*.x"},    // only one asterisk is dropped
      {u"*.", u"."},
      {u"*", u".old"},  // 0 or 1 characters: ignored
      {u"x", u".old"},
      {u"", u".old"},
      {nullptr, u".old"},
  };
  for (const Case& c : cases) {
    api::HostSettings().outputFormat = u".old";
    SetOutputFormat(c.given);
    EXPECT_EQ(api::HostSettings().outputFormat, c.kept) << (c.given ? U8(c.given) : "null");
  }
}

TEST_F(ExportsTest, ExternStatusKeysReachTheStatusCallback) {
  Initialise();
  UseExternStatusStrings(0);
  ASSERT_NE(Recover(TextInput(), out), 0);

  EXPECT_TRUE(SawStatus("App/Resources/DllStrings/mdw/Pass1"));
  EXPECT_FALSE(SawStatus("Pass 1: Opening file..."));
}

TEST_F(ExportsTest, ProgressRepeatsAreDroppedButMinusOneAlwaysPasses) {
  Initialise();
  api::HostLog().OpenFile(W(logPath), true);
  RunContext run{api::HostLog(), api::HostSettings(), api::HostReport()};

  run.Progress(100, "again");  // the state a fresh load starts from
  run.Progress(0, "start");
  run.Progress(0, "start");
  run.Progress(37, "\x80 37");
  run.Progress(37, "other text, same percentage");
  run.Progress(-1, "unknown");
  run.Progress(-1, "unknown");
  run.Progress(37, "back");

  const std::vector<HostEvent> expected = {
      ProgressEvent("start", 0),     ProgressEvent("\xE2\x82\xAC 37", 37),
      ProgressEvent("unknown", -1),  ProgressEvent("unknown", -1),
      ProgressEvent("back", 37),
  };
  EXPECT_EQ(HostEvents(), expected);

  const std::vector<std::string> lines = LogLines();
  const std::vector<std::string> logged = {"'start' - 0%", "'\x80 37' - 37%", "'unknown' - -1%",
                                           "'unknown' - -1%", "'back' - 37%"};
  EXPECT_EQ(lines, logged);
}

TEST_F(ExportsTest, LastOutputPathNamesTheXmlFile) {
  char16_t buffer[512];
  EXPECT_EQ(GetLastOutputPath(buffer, 512), 0);

  Initialise();
  SetOutputFormat(u"*.xml");
  ASSERT_NE(Recover(TextInput(), out), 0);
  const std::u16string expected = W(out / "plan.xml");
  EXPECT_EQ(GetLastOutputPath(buffer, 512), static_cast<int32_t>(expected.size()));
  EXPECT_EQ(std::u16string(buffer), expected);

  // Cut to the capacity, still zero-terminated.
  EXPECT_EQ(GetLastOutputPath(buffer, 5), 4);
  EXPECT_EQ(std::u16string(buffer), expected.substr(0, 4));
  EXPECT_EQ(GetLastOutputPath(nullptr, 512), 0);
  EXPECT_EQ(GetLastOutputPath(buffer, 0), 0);
}

}  // namespace
