// Seeds for the fuzz targets, made from project files: each target that
// reads the streams of one storage gets those streams of each file, cut
// short and framed as the target splits its input; each target that reads
// a whole file gets the file. A file whose container does not open is
// salvaged first, as a recovery would.
//
//   make_seeds OUTDIR FILE...     writes OUTDIR/<target>/<file>-<what>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "FuzzRun.h"
#include "salvage/StgReader.h"
#include "parse/FieldMap.h"
#include "parse/RecordLayout.h"
#include "parse/StreamRecords.h"
#include "platform/ByteView.h"
#include "platform/CompoundFile.h"
#include "platform/Files.h"
#include "platform/System.h"
#include "platform/Text.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;
using platform::CompoundFileReader;
using platform::ElementId;

// Each stream is cut to this, so that the targets run fast on the seeds
// and every length fits the targets' 16-bit cuts.
constexpr std::size_t kPartCap = 16384;
// Rich-text notes taken per file.
constexpr int kNotesPerFile = 4;

// The targets that read whole files, and the largest file each is given:
// the version detection's own seeds (fuzz/seeds/) describe small trees,
// which it explores faster than whole files.
struct WholeFileTarget {
  const char* name;
  std::size_t most;
};
constexpr WholeFileTarget kWholeFileTargets[] = {
    {"compound_reader_fuzz", SIZE_MAX}, {"salvage_fuzz", SIZE_MAX}, {"version_detection_fuzz", 32768}};

struct Writer {
  fs::path out;
  std::string stem;
  int written = 0;

  void Put(const std::string& target, const std::string& what, const Bytes& bytes) {
    if (bytes.empty()) return;
    fs::create_directories(out / target);
    std::ofstream file(out / target / (stem + "-" + what), std::ios::binary);
    file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    written += file.good();
  }
};

Bytes ReadFile(const fs::path& path) {
  std::ifstream file(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

// The container, salvaged into a scratch file when it does not open as it is.
std::unique_ptr<CompoundFileReader> OpenOrSalvage(const fs::path& path) {
  const std::u16string name = platform::Utf8ToUtf16(path.string());
  if (auto reader = CompoundFileReader::Open(name)) return reader;
  const std::u16string repaired =
      platform::TempFolder() + platform::Utf8ToUtf16("make-seeds-" + std::to_string(::getpid()) + ".cfb");
  FuzzRun().settings.workFolder = platform::TempFolder();
  platform::DeleteFile(repaired);
  std::unique_ptr<CompoundFileReader> reader;
  {
    CStgReader salvage(FuzzRun());
    if (salvage.Init(name) == 0 && salvage.ParseData() == 0 && salvage.WriteData(repaired) == 0)
      reader = CompoundFileReader::Open(repaired);
  }
  platform::DeleteFile(repaired);
  return reader;
}

// The first kPartCap bytes of a stream; empty when it is not there.
Bytes StreamOf(const CompoundFileReader& reader, std::optional<ElementId> storage, std::u16string_view name,
               std::size_t cap = kPartCap) {
  Bytes bytes;
  if (!storage) return bytes;
  const auto stream = reader.OpenStream(*storage, name);
  if (!stream || !reader.ReadStream(*stream, bytes)) bytes.clear();
  if (bytes.size() > cap) bytes.resize(cap);
  return bytes;
}

// prefix, the 16-bit lengths of the cut parts, padding to headSize, the
// parts, then last.
Bytes Framed(Bytes prefix, std::size_t headSize, const std::vector<const Bytes*>& cut, const Bytes& last) {
  Bytes out = std::move(prefix);
  for (const Bytes* part : cut) {
    out.push_back(static_cast<std::uint8_t>(part->size()));
    out.push_back(static_cast<std::uint8_t>(part->size() >> 8));
  }
  out.resize(headSize, 0);
  for (const Bytes* part : cut) out.insert(out.end(), part->begin(), part->end());
  out.insert(out.end(), last.begin(), last.end());
  return out;
}

// A Props stream of the items of props that keep, cut to kPartCap.
template <typename Keep>
Bytes PropsOf(const Bytes& props, Keep keep) {
  Bytes out(props.begin(), props.begin() + std::min(props.size(), mpp::kPropsHeader));
  for (const mpp::PropsItem& item : mpp::ReadPropsItems(platform::ByteView(props.data(), props.size()))) {
    const std::size_t size = mpp::kPropsItemHeader + item.data.size();
    if (!keep(item) || out.size() + size > kPartCap) continue;
    out.resize(out.size() + size);
    platform::ByteView(props.data(), props.size()).CopyTo(item.offset, size, out.data() + out.size() - size);
  }
  return out;
}

// The record size and field map items of kind (keys 0x00400001 and
// 0x03000014 on, see parser/FieldMap.h); when the file has no map of kind,
// one made of the built-in layout, so that every seed has a map to read.
Bytes MapOf(const Bytes& props, mpp::RecordKind kind) {
  const auto k = static_cast<std::uint32_t>(kind);
  Bytes out = PropsOf(props, [k](const mpp::PropsItem& item) {
    return item.key == 0x00400001 + k || item.key == 0x03000014 + k;
  });
  if (mpp::ReadFieldMaps(platform::ByteView(out.data(), out.size())).Of(kind).entries) return out;
  out.resize(mpp::kPropsHeader, 0);
  auto put = [&out](std::uint32_t value, int width) {
    for (int i = 0; i < width; ++i) out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
  };
  const mpp::RecordLayout& layout = mpp::BuiltInLayout14(kind);
  put(4, 4), put(0x00400001 + k, 4), put(0, 4), put(layout.recordSize, 4);
  put(static_cast<std::uint32_t>(layout.fields.size() * mpp::kFieldMapEntry), 4), put(0x03000014 + k, 4), put(0, 4);
  for (const mpp::FieldSlot& slot : layout.fields) {
    const std::uint16_t type = slot.encoding == mpp::Encoding::F64    ? mpp::kMapFloat
                               : slot.encoding == mpp::Encoding::Date ? mpp::kMapDate
                               : mpp::WidthOf(slot.encoding) == 4     ? mpp::kMapU32
                                                                      : mpp::kMapU16;
    put(0, 4), put(slot.offset, 4), put(static_cast<std::uint32_t>(mpp::FieldLocation::Fixed), 4);
    put(mpp::FieldIdOf(slot.field), 4), put(0, 4), put(type, 2);
    put(static_cast<std::uint32_t>(mpp::WidthOf(slot.encoding)), 2), put(0, 4);
  }
  return out;
}

struct StorageStreams {
  Bytes varMeta, var2Data, fixedMeta, fixedData, fixed2Meta;
};

StorageStreams StreamsOf(const CompoundFileReader& reader, std::optional<ElementId> data, std::u16string_view name) {
  const auto storage = data ? reader.OpenStorage(*data, name) : std::nullopt;
  return {StreamOf(reader, storage, u"VarMeta"), StreamOf(reader, storage, u"Var2Data"),
          StreamOf(reader, storage, u"FixedMeta"), StreamOf(reader, storage, u"FixedData"),
          StreamOf(reader, storage, u"Fixed2Meta")};
}

// The values of the (12-byte) var items that are rich-text notes.
void PutNotes(Writer& writer, const StorageStreams& s, int& taken) {
  const mpp::VarMeta meta(platform::ByteView(s.varMeta.data(), s.varMeta.size()));
  const platform::ByteView values(s.var2Data.data(), s.var2Data.size());
  for (std::size_t i = 0; i < meta.Count() && taken < kNotesPerFile; ++i) {
    const auto item = meta.Item(i);
    const auto value = item ? mpp::VarValue(values, item->position) : std::nullopt;
    char head[5];
    if (!value || !value->CopyTo(0, sizeof head, head) || std::string(head, sizeof head) != "{\\rtf") continue;
    Bytes note(value->size());
    value->CopyTo(0, note.size(), note.data());
    writer.Put("rtf_notes_fuzz", "note" + std::to_string(taken++), note);
  }
}

void SeedsOf(const fs::path& path, Writer& writer) {
  const Bytes whole = ReadFile(path);
  for (const WholeFileTarget& target : kWholeFileTargets)
    if (whole.size() <= target.most) writer.Put(target.name, "file", whole);

  const auto reader = OpenOrSalvage(path);
  if (!reader) return;
  int format = 0;
  std::optional<ElementId> data;
  for (const auto& [version, name] : {std::pair{14, u"   114"}, {12, u"   112"}, {9, u"   19"}}) {
    if ((data = reader->OpenStorage(platform::kRootElement, name))) {
      format = version;
      break;
    }
  }
  if (!data) return;
  // Whole: the items wanted may lie beyond the first kPartCap bytes.
  const Bytes props = StreamOf(*reader, data, u"Props", SIZE_MAX);
  // The project's own items, without the field maps.
  writer.Put("project_props_fuzz", "props",
             PropsOf(props, [](const mpp::PropsItem& item) { return item.data.size() < 1024; }));
  writer.Put("project_props_fuzz", "summary", StreamOf(*reader, platform::kRootElement, u"\005SummaryInformation"));
  writer.Put("project_props_fuzz", "docsummary",
             StreamOf(*reader, platform::kRootElement, u"\005DocumentSummaryInformation"));

  const StorageStreams task = StreamsOf(*reader, data, u"TBkndTask"), rsc = StreamsOf(*reader, data, u"TBkndRsc"),
                       cal = StreamsOf(*reader, data, u"TBkndCal"), assn = StreamsOf(*reader, data, u"TBkndAssn"),
                       cons = StreamsOf(*reader, data, u"TBkndCons");
  // Per kind, in the order of the record kinds.
  const StorageStreams* kinds[] = {&task, &rsc, &cal, &assn, &cons};
  const char* kindNames[] = {"task", "rsc", "cal", "assn", "cons"};
  for (std::uint8_t k = 0; k < std::size(kinds); ++k)
    if (!kinds[k]->fixedMeta.empty())
      writer.Put("record_layout_fuzz", kindNames[k],
                 Framed({k}, 5, {&kinds[k]->fixedMeta, &kinds[k]->fixedData},
                        MapOf(props, static_cast<mpp::RecordKind>(k))));
  if (!assn.fixedMeta.empty() || !cons.fixedMeta.empty())
    writer.Put("assn_storage_fuzz", "assn",
               Framed({}, 8, {&assn.fixedMeta, &assn.fixedData, &cons.fixedMeta, &cons.fixedData}, {}));

  if (format == 9) {
    writer.Put("older_var_fuzz", "task", Framed({}, 2, {&task.varMeta}, task.var2Data));
    writer.Put("older_var_fuzz", "assn", Framed({}, 2, {&assn.varMeta}, assn.var2Data));
    return;
  }
  writer.Put("task_storage_fuzz", "task", Framed({}, 8, {&task.varMeta, &task.var2Data, &task.fixedMeta}, task.fixedData));
  writer.Put("rsc_cal_storage_fuzz", "rsc",
             Framed({1}, 11, {&rsc.varMeta, &rsc.var2Data, &rsc.fixedMeta, &rsc.fixedData}, rsc.fixed2Meta));
  writer.Put("rsc_cal_storage_fuzz", "cal",
             Framed({0}, 11, {&cal.varMeta, &cal.var2Data, &cal.fixedMeta, &cal.fixedData}, {}));
  int notes = 0;
  PutNotes(writer, task, notes);
  PutNotes(writer, rsc, notes);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: make_seeds OUTDIR FILE...\n");
    return 2;
  }
  Writer writer{argv[1], "", 0};
  for (int i = 2; i < argc; ++i) {
    writer.stem = fs::path(argv[i]).stem().string();
    SeedsOf(argv[i], writer);
  }
  std::printf("make_seeds: %d seeds from %d files in %s\n", writer.written, argc - 2, argv[1]);
  return 0;
}
