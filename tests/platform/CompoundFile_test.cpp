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

// Builds root, reads it back and expects the same tree.
void ExpectRoundTrip(const fixture::Node& root) {
  const auto bytes = fixture::Build(root);
  auto reader = CompoundFileReader::FromBytes(bytes);
  ASSERT_NE(reader, nullptr);
  EXPECT_EQ(Join(fixture::Differences(root, fixture::ReadBack(*reader))), "");
  EXPECT_EQ(Join(Image(bytes).TreeProblems()), "");
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

TEST(CompoundFileRoundTrip, NamesCompareCaseInsensitivelyAsTheFormatDoes) {
  // Shorter first, whatever the letters.
  EXPECT_LT(CompareNames(u"Z", u"AA"), 0);
  EXPECT_EQ(CompareNames(u"Props", u"PROPS"), 0);
  EXPECT_EQ(CompareNames(u"\u00e4\u0161\u03c9\u0436", u"\u00c4\u0160\u03a9\u0416"), 0);
  EXPECT_NE(CompareNames(u"a", u"b"), 0);

  const auto bytes = fixture::Build(fixture::Root({
      fixture::Storage(u"Dir", {fixture::Stream(u"Props", "p")}),
      fixture::Stream(u"\u00c4rger", "umlaut"),
  }));
  auto reader = CompoundFileReader::FromBytes(bytes);
  ASSERT_NE(reader, nullptr);
  const auto dir = reader->OpenStorage(kRootElement, u"dIR");
  ASSERT_TRUE(dir);
  EXPECT_TRUE(reader->OpenStream(*dir, u"props"));
  EXPECT_TRUE(reader->OpenStream(kRootElement, u"\u00e4RGER"));
  // The right kind only, and only in its own storage.
  EXPECT_FALSE(reader->OpenStream(kRootElement, u"Dir"));
  EXPECT_FALSE(reader->OpenStorage(*dir, u"Props"));
  EXPECT_FALSE(reader->OpenStream(kRootElement, u"Props"));
  EXPECT_FALSE(reader->Stat(9999));
  std::vector<std::uint8_t> out;
  EXPECT_FALSE(reader->ReadStream(*dir, out));
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

TEST(CompoundFileWriter, FileIsCreatedExclusivelyAndRemovedWithoutCommit) {
  fixture::ScratchDir dir;
  const auto path = dir.WideFile("a.cfb");

  FileError error = FileError::None;
  ASSERT_TRUE(fixture::WriteFile(dir.File("a.cfb"), {1, 2, 3}));
  EXPECT_EQ(CompoundFileWriter::Create(path, &error), nullptr);
  EXPECT_EQ(error, FileError::Exists);
  EXPECT_EQ(FileSize(path), 3u);  // untouched

  // A symbolic link is never followed, even to a place that is free.
  ASSERT_EQ(::symlink(dir.File("target").c_str(), dir.File("link").c_str()), 0);
  EXPECT_EQ(CompoundFileWriter::Create(dir.WideFile("link"), &error), nullptr);
  EXPECT_EQ(error, FileError::Exists);
  EXPECT_FALSE(NameTaken(dir.WideFile("target")));

  EXPECT_EQ(CompoundFileWriter::Create(dir.WideFile("no/such/folder"), &error), nullptr);
  EXPECT_EQ(error, FileError::NotFound);

  {
    auto writer = CompoundFileWriter::Create(dir.WideFile("abandoned.cfb"));
    ASSERT_NE(writer, nullptr);
    const auto s = writer->CreateStream(kRootElement, u"S");
    const auto data = Pattern(10000, 1);
    ASSERT_TRUE(writer->Write(*s, data.data(), data.size()));
    EXPECT_TRUE(NameTaken(dir.WideFile("abandoned.cfb")));
  }
  EXPECT_FALSE(NameTaken(dir.WideFile("abandoned.cfb")));
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

// Whatever the reader still reads of a damaged sample is either refused or
// exactly what was written.
void ExpectNothingWrong(const std::vector<std::uint8_t>& bytes, const std::string& what) {
  auto reader = CompoundFileReader::FromBytes(bytes);
  if (!reader) return;
  const fixture::Node read = fixture::ReadBack(*reader);
  const fixture::Node expected = SampleTree();
  for (const std::string& d : fixture::Differences(expected, read))
    if (d.find("unreadable") == std::string::npos && d.find("missing") == std::string::npos)
      ADD_FAILURE() << what << ": " << d;
}

TEST(CompoundFileReader, RefusesBadHeaders) {
  const Image good = Image::Of(SampleTree());
  ASSERT_NE(CompoundFileReader::FromBytes(good.bytes()), nullptr);
  struct Case {
    const char* what;
    std::size_t offset;
    std::uint16_t value;
  };
  const Case cases[] = {
      {"signature", kHdrSignature, 0x0000},   {"byte order", kHdrByteOrder, 0xFEFF},
      {"version 4", kHdrMajorVersion, 4},     {"4096-byte sectors", kHdrSectorShift, 12},
      {"mini sectors", kHdrMiniSectorShift, 7}, {"cutoff", kHdrMiniStreamCutoff + 1, 0x0002},
  };
  for (const Case& c : cases) {
    Image bad = good;
    bad.Put16(c.offset, c.value);
    EXPECT_EQ(CompoundFileReader::FromBytes(bad.bytes()), nullptr) << c.what;
  }
  EXPECT_EQ(CompoundFileReader::FromBytes({}), nullptr);
  EXPECT_EQ(CompoundFileReader::FromBytes(std::vector<std::uint8_t>(good.bytes().begin(),
                                                                    good.bytes().begin() + 511)),
            nullptr);
}

TEST(CompoundFileReader, TruncatedFilesNeverReadWrongData) {
  const Image good = Image::Of(SampleTree());
  for (std::size_t size = 0; size < good.bytes().size(); size += 64) {
    Image cut = good;
    cut.Truncate(size);
    ExpectNothingWrong(cut.bytes(), "truncated to " + std::to_string(size));
  }
  // The tables come last, so any cut of whole sectors loses them; bytes
  // after the last whole sector are no sector and are ignored.
  Image cut = good;
  cut.Truncate(good.bytes().size() - kSectorSize);
  EXPECT_EQ(CompoundFileReader::FromBytes(cut.bytes()), nullptr);
  Image longer = good;
  longer.bytes().resize(good.bytes().size() + 100, 0xAB);
  auto reader = CompoundFileReader::FromBytes(longer.bytes());
  ASSERT_NE(reader, nullptr);
  EXPECT_EQ(Join(fixture::Differences(SampleTree(), fixture::ReadBack(*reader))), "");
}

TEST(CompoundFileReader, BrokenStreamChainsFailOnlyTheirStream) {
  const Image good = Image::Of(SampleTree());
  struct Case {
    const char* what;
    void (*damage)(Image&);
    const char16_t* broken;
  };
  const Case cases[] = {
      {"cycle in a FAT chain",
       [](Image& i) { i.SetFatEntry(i.StreamChain(u"Large")[3], i.StreamChain(u"Large")[1]); }, u"Large"},
      {"chain ends early",
       [](Image& i) { i.SetFatEntry(i.StreamChain(u"Dir/B")[5], kEndOfChain); }, u"Dir/B"},
      {"sector past the end",
       [](Image& i) { i.SetEntryStart(*i.FindEntry(u"Large"), i.SectorCount() + 3); }, u"Large"},
      {"free sector in a chain",
       [](Image& i) { i.SetFatEntry(i.StreamChain(u"Large")[0], kFreeSector); }, u"Large"},
      {"size larger than the chain",
       [](Image& i) { i.SetEntrySize(*i.FindEntry(u"Dir/B"), 900000); }, u"Dir/B"},
      {"size past 2 GB",
       [](Image& i) { i.SetEntrySize(*i.FindEntry(u"Dir/B"), 0xFFFFF000u); }, u"Dir/B"},
      {"cycle in the mini FAT",
       [](Image& i) { i.SetMiniFatEntry(i.StreamChain(u"Dir/A")[2], i.StreamChain(u"Dir/A")[0]); }, u"Dir/A"},
      {"mini sector past the mini stream",
       [](Image& i) { i.SetEntryStart(*i.FindEntry(u"Small"), 5000); }, u"Small"},
      // The first chain checked keeps its sectors; storages are read breadth
      // first, so the root's streams come before those of Dir.
      {"two chains share sectors",
       [](Image& i) { i.SetEntryStart(*i.FindEntry(u"Dir/B"), i.StreamChain(u"Large")[0]); }, u"Dir/B"},
  };
  for (const Case& c : cases) {
    Image bad = good;
    c.damage(bad);
    auto reader = CompoundFileReader::FromBytes(bad.bytes());
    ASSERT_NE(reader, nullptr) << c.what;
    EXPECT_EQ(Join(fixture::Differences(SampleTree(), fixture::ReadBack(*reader))),
              Utf16ToUtf8(c.broken) + ": unreadable\n")
        << c.what;
  }
}

TEST(CompoundFileReader, RefusesBrokenStructures) {
  const Image good = Image::Of(SampleTree());
  const auto dir = *good.FindEntry(u"Dir");
  const auto a = *good.FindEntry(u"Dir/A");
  const auto c = *good.FindEntry(u"Dir/C");
  struct Case {
    const char* what;
    std::function<void(Image&)> damage;
  };
  const Case cases[] = {
      {"sibling points back at its parent", [&](Image& i) { i.SetEntryLinks(a, dir, fixture::kKeep, fixture::kKeep); }},
      {"sibling points at itself", [&](Image& i) { i.SetEntryLinks(c, c, fixture::kKeep, fixture::kKeep); }},
      {"child cycle", [&](Image& i) { i.SetEntryLinks(dir, fixture::kKeep, fixture::kKeep, 0); }},
      {"sibling past the directory", [&](Image& i) { i.SetEntryLinks(a, fixture::kKeep, 400, fixture::kKeep); }},
      {"sibling to an unused entry", [&](Image& i) { i.SetEntryLinks(a, fixture::kKeep, i.EntryCount() - 1, fixture::kKeep); }},
      {"child under a stream", [&](Image& i) { i.SetEntryLinks(a, fixture::kKeep, fixture::kKeep, c); }},
      {"root with a sibling", [&](Image& i) { i.SetEntryLinks(0, dir, fixture::kKeep, fixture::kKeep); }},
      {"entry of unknown type", [&](Image& i) { i.SetEntryType(a, 3); }},
      {"odd name length", [&](Image& i) { i.SetEntryNameLength(a, 5); }},
      {"name length past the field", [&](Image& i) { i.SetEntryNameLength(a, 66); }},
      {"empty name", [&](Image& i) { i.SetEntryNameLength(a, 2); }},
      {"two names alike", [&](Image& i) { i.SetEntryName(c, u"a"); }},
      {"root entry's type", [&](Image& i) { i.SetEntryType(0, kTypeStorage); }},
      {"directory chain cycle",
       [&](Image& i) { i.SetFatEntry(i.DirectorySectors().back(), i.DirectorySectors().front()); }},
      {"directory past the end", [&](Image& i) { i.SetHeaderField(kHdrFirstDirSector, i.SectorCount()); }},
      {"no directory", [&](Image& i) { i.SetHeaderField(kHdrFirstDirSector, kEndOfChain); }},
      {"FAT sector past the end", [&](Image& i) { i.SetHeaderFatEntry(0, i.SectorCount() + 1); }},
      {"FAT list zeroed", [&](Image& i) { i.ZeroHeaderFatList(); }},
      {"FAT zeroed", [&](Image& i) { i.ZeroFatSector(0); }},
      {"FAT count huge", [&](Image& i) { i.SetHeaderField(kHdrFatSectorCount, 0xFFFFFFFF); }},
      {"FAT count zero", [&](Image& i) { i.SetHeaderField(kHdrFatSectorCount, 0); }},
      {"mini FAT count wrong", [&](Image& i) { i.SetHeaderField(kHdrMiniFatSectorCount, 2); }},
      {"mini FAT past the end", [&](Image& i) { i.SetHeaderField(kHdrFirstMiniFatSector, 99999); }},
      {"mini stream chain broken", [&](Image& i) { i.SetEntryStart(0, i.SectorCount() + 9); }},
      {"directory zeroed", [&](Image& i) { i.ZeroDirectorySector(0); }},
  };
  for (const Case& k : cases) {
    Image bad = good;
    k.damage(bad);
    EXPECT_EQ(CompoundFileReader::FromBytes(bad.bytes()), nullptr) << k.what;
  }
}

TEST(CompoundFileReader, RefusesABrokenDifat) {
  const std::size_t size = kHeaderDifatEntries * kEntriesPerFatSector * kSectorSize;
  const Image good = Image::Of(fixture::Root({fixture::Stream(u"Big", Pattern(size, 1))}));
  ASSERT_NE(CompoundFileReader::FromBytes(good.bytes()), nullptr);
  const std::uint32_t difat = good.DifatSectors().at(0);
  const std::size_t link = Image::SectorOffset(difat) + kFatSectorsPerDifatSector * 4;
  struct Case {
    const char* what;
    std::function<void(Image&)> damage;
  };
  const Case cases[] = {
      {"no DIFAT sector", [](Image& i) { i.SetHeaderField(kHdrDifatSectorCount, 0); }},
      {"DIFAT past the end", [](Image& i) { i.SetHeaderField(kHdrFirstDifatSector, i.SectorCount()); }},
      {"DIFAT lists a sector past the end", [&](Image& i) { i.Put32(Image::SectorOffset(difat), 0x7FFFFFFF); }},
      {"DIFAT lists a FAT sector twice", [&](Image& i) { i.Put32(Image::SectorOffset(difat), i.HeaderField(kHdrDifat)); }},
      {"DIFAT is its own FAT sector", [&](Image& i) { i.Put32(Image::SectorOffset(difat), difat); }},
  };
  for (const Case& c : cases) {
    Image bad = good;
    c.damage(bad);
    EXPECT_EQ(CompoundFileReader::FromBytes(bad.bytes()), nullptr) << c.what;
  }
  // A DIFAT chain that loops back on itself is harmless while it holds
  // enough FAT sectors; its tail is never read.
  Image looped = good;
  looped.Put32(link, difat);
  EXPECT_NE(CompoundFileReader::FromBytes(looped.bytes()), nullptr);
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
