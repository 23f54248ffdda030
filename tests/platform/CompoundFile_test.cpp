#include "platform/CompoundFile.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <functional>
#include <sstream>
#include <unistd.h>

#include "platform/CompoundFileFormat.h"
#include "platform/Text.h"
#include "support/CfbFixture.h"

namespace {

using namespace platform;
using namespace platform::cfb;
using fixture::Image;
using fixture::Pattern;

std::string Join(const std::vector<std::string>& lines) {
  std::string out;
  for (const std::string& l : lines) out += l + "\n";
  return out;
}

// --- round trips ---------------------------------------------------------------

TEST(CompoundFileRoundTrip, InterleavedWritesInPiecesOfOddSizes) {
  auto writer = CompoundFileWriter::CreateInMemory();
  const auto a = writer->CreateStream(kRootElement, u"A");
  const auto b = writer->CreateStream(kRootElement, u"B");
  const auto grows = writer->CreateStream(kRootElement, u"Grows");
  ASSERT_TRUE(a && b && grows);
  const auto bytesA = Pattern(50000, 1), bytesB = Pattern(30001, 2), bytesGrows = Pattern(4100, 3);
  for (std::size_t at = 0; at < bytesA.size(); at += 777) {
    ASSERT_TRUE(writer->Write(*a, &bytesA[at], std::min<std::size_t>(777, bytesA.size() - at)));
    if (at < bytesB.size()) {
      ASSERT_TRUE(writer->Write(*b, &bytesB[at], std::min<std::size_t>(777, bytesB.size() - at)));
    }
  }
  // Crosses the cutoff in the middle of a write, then adds single bytes.
  ASSERT_TRUE(writer->Write(*grows, bytesGrows.data(), 4000));
  ASSERT_TRUE(writer->Write(*grows, bytesGrows.data() + 4000, 97));
  for (std::size_t at = 4097; at < bytesGrows.size(); ++at)
    ASSERT_TRUE(writer->Write(*grows, &bytesGrows[at], 1));
  ASSERT_TRUE(writer->Commit());

  const auto expected = fixture::Root({fixture::Stream(u"A", bytesA), fixture::Stream(u"B", bytesB),
                                       fixture::Stream(u"Grows", bytesGrows)});
  auto reader = CompoundFileReader::FromBytes(writer->Bytes());
  ASSERT_NE(reader, nullptr);
  EXPECT_EQ(Join(fixture::Differences(expected, fixture::ReadBack(*reader))), "");
}

// --- the writer ----------------------------------------------------------------

TEST(CompoundFileWriter, RefusesWhatTheFormatCannotHold) {
  auto writer = CompoundFileWriter::CreateInMemory();
  const auto dir = writer->CreateStorage(kRootElement, u"Props");
  ASSERT_TRUE(dir);
  EXPECT_FALSE(writer->CreateStream(kRootElement, u"PROPS"));  // taken, in another case
  EXPECT_FALSE(writer->CreateStream(kRootElement, u""));
  EXPECT_FALSE(writer->CreateStream(kRootElement, std::u16string(32, u'x')));
  EXPECT_TRUE(writer->CreateStream(kRootElement, std::u16string(31, u'x')));
  EXPECT_FALSE(writer->CreateStream(kRootElement, u"a/b"));
  EXPECT_FALSE(writer->CreateStream(kRootElement, std::u16string(u"a\0b", 3)));
  EXPECT_TRUE(writer->CreateStream(*dir, u"PROPS"));  // another storage

  const auto stream = writer->CreateStream(kRootElement, u"S");
  ASSERT_TRUE(stream);
  EXPECT_FALSE(writer->CreateStream(*stream, u"Under"));
  EXPECT_FALSE(writer->Write(*dir, "x", 1));
  EXPECT_FALSE(writer->Write(12345, "x", 1));
  // Streams carry no class and no times in this format.
  EXPECT_FALSE(writer->SetClass(*stream, fixture::MakeClassId(1)));
  EXPECT_FALSE(writer->SetElementTimes(*stream, 1, 2));
  // Past 2 GB: refused before a byte is read, and the stream is unchanged.
  EXPECT_FALSE(writer->Write(*stream, "x", std::size_t{1} << 31));
  EXPECT_TRUE(writer->Write(*stream, "x", 1));

  ASSERT_TRUE(writer->Commit());
  EXPECT_FALSE(writer->Commit());
  EXPECT_FALSE(writer->Write(*stream, "x", 1));
  EXPECT_FALSE(writer->CreateStream(kRootElement, u"Late"));

  auto reader = CompoundFileReader::FromBytes(writer->Bytes());
  ASSERT_NE(reader, nullptr);
  std::vector<std::uint8_t> out;
  ASSERT_TRUE(reader->ReadStream(*reader->OpenStream(kRootElement, u"S"), out));
  EXPECT_EQ(out, std::vector<std::uint8_t>{'x'});
}

// --- the reader on malformed files ------------------------------------------------

fixture::Node SampleTree() {
  return fixture::Root({
      fixture::Stream(u"Small", Pattern(1000, 1)),
      fixture::Stream(u"Large", Pattern(20000, 2)),
      fixture::Storage(u"Dir", {fixture::Stream(u"A", Pattern(3000, 3)),
                                fixture::Stream(u"B", Pattern(9000, 4)),
                                fixture::Stream(u"C", Pattern(10, 5))}),
  });
}

// --- an independent reader ------------------------------------------------------

std::string Quote(const std::string& s) { return "'" + s + "'"; }

std::uint32_t Crc32(const std::vector<std::uint8_t>& bytes) {
  std::uint32_t crc = 0xFFFFFFFF;
  for (std::uint8_t b : bytes) {
    crc ^= b;
    for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1)));
  }
  return ~crc;
}

TEST(CompoundFileOlefile, ReadsEveryStreamWeWrite) {
  if (std::system("/usr/bin/python3 -c 'import olefile' >/dev/null 2>&1") != 0)
    GTEST_SKIP() << "python3-olefile is not installed for /usr/bin/python3";
  fixture::ScratchDir dir;
  // Streams of the sizes around the cutoff, nested storages with classes
  // and times, many elements in one storage, odd names, and enough data
  // for a DIFAT sector.
  std::vector<fixture::Node> many;
  for (int i = 0; i < 300; ++i)
    many.push_back(fixture::Stream(u"N" + Utf8ToUtf16(std::to_string(i)), Pattern(i * 13, i)));
  std::vector<fixture::Node> top = {
      fixture::Stream(u"\x01" u"CompObj", Pattern(100, 1)),
      fixture::Stream(u"Empty", Pattern(0, 0)),
      fixture::Stream(u"s4095", Pattern(4095, 2)),
      fixture::Stream(u"s4096", Pattern(4096, 3)),
      fixture::Stream(u"s4097", Pattern(4097, 4)),
      fixture::Stream(u"\u00c4rger \u03a9", Pattern(77, 5)),
      fixture::Stream(u"Huge", Pattern(kHeaderDifatEntries * kEntriesPerFatSector * kSectorSize + 1000, 6)),
      fixture::Storage(u"   1", {fixture::Storage(u"TBkndTask", {fixture::Stream(u"Var2Data", Pattern(20000, 7))})
                                   .WithClass(fixture::MakeClassId(2))
                                   .WithTimes(0x01D5000000000000, 0x01D6000000000000),
                               fixture::Storage(u"Many", many)})
          .WithClass(fixture::MakeClassId(1)),
  };
  const auto root = fixture::Root(top).WithClass(fixture::MakeClassId(7)).WithTimes(0, 0x01D7000000000000);
  const auto bytes = fixture::Build(root);
  ASSERT_TRUE(fixture::WriteFile(dir.File("ours.cfb"), bytes));

  // The manifest: one line per element: its path (names joined by '/', in
  // UTF-8), kind, size, CRC-32 of the content, class in hex and times.
  std::ostringstream manifest;
  struct Item {
    const fixture::Node* node;
    std::string path;
  };
  std::vector<Item> work{{&root, ""}};
  while (!work.empty()) {
    const Item item = work.back();
    work.pop_back();
    const fixture::Node& n = *item.node;
    std::string cls;
    for (std::uint8_t b : n.classId) cls += "0123456789abcdef"[b >> 4], cls += "0123456789abcdef"[b & 15];
    manifest << (item.path.empty() ? "/" : item.path) << '\t' << (n.isStorage ? "storage" : "stream") << '\t'
             << n.bytes.size() << '\t' << Crc32(n.bytes) << '\t' << cls << '\t' << n.created << '\t' << n.modified << '\n';
    for (const auto& c : n.children)
      work.push_back({&c, (item.path.empty() ? "" : item.path + "/") + Utf16ToUtf8(c.name)});
  }
  {
    std::ofstream out(dir.File("manifest.txt"), std::ios::binary);
    out << manifest.str();
  }
  const std::string script = std::string(MDW_SOURCE_DIR) + "/tests/platform/olefile_check.py";
  const std::string command = "/usr/bin/python3 " + Quote(script) + " " + Quote(dir.File("ours.cfb")) + " " +
                              Quote(dir.File("manifest.txt")) + " > " + Quote(dir.File("olefile.log")) + " 2>&1";
  const int status = std::system(command.c_str());
  std::ifstream log(dir.File("olefile.log"));
  const std::string output((std::istreambuf_iterator<char>(log)), std::istreambuf_iterator<char>());
  EXPECT_EQ(status, 0) << output;
}

}  // namespace
