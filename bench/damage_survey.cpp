// Salvages every damaged file of a batch made by the damage tool and prints,
// per kind of damage, how many of the original's streams came back
// byte-identical, and how many of those a salvage could give back at all:
// the streams whose bytes all survive in the damaged file, in pieces of a
// sector (a mini sector for streams in the mini stream) at sector-aligned
// places, each place standing for one piece, and the share of those that
// came back. Each file runs in a child process with a time limit, so a
// crash or a hang is counted, not fatal to the survey.
//
//   damage_survey ORIGINALS_DIR DAMAGED_DIR [WORK_DIR]
//
// With DAMAGE_SURVEY_MISSES set, every stream that could have come back and
// did not is listed (MISS: damaged file, stream path).
// DAMAGED_DIR holds manifest.tsv (output, source, kind, seed, ...).
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <unordered_map>
#include <vector>

#include "base/RunContext.h"
#include "salvage/StgReader.h"
#include "platform/CompoundFile.h"
#include "platform/Files.h"
#include "platform/Text.h"

namespace {

// The run's log, settings and report; the log is never opened.
Logger runLog;
LibrarySettings runSettings;
MwUtils::MwReport runReport;
RunContext run{runLog, runSettings, runReport};

constexpr unsigned kSecondsPerFile = 60;

// Path of every non-empty stream, with its bytes.
using Streams = std::map<std::string, std::vector<std::uint8_t>>;

void Collect(const platform::CompoundFileReader& reader, platform::ElementId storage,
             const std::string& path, int depth, Streams& out) {
  if (depth > 64) return;
  for (const platform::ElementInfo& child : reader.Children(storage)) {
    std::string where = path + "/" + platform::Utf16ToUtf8(child.name);
    if (child.isStorage) {
      Collect(reader, child.id, where, depth + 1, out);
    } else if (child.size > 0) {
      std::vector<std::uint8_t> bytes;
      if (reader.ReadStream(child.id, bytes)) out[where] = std::move(bytes);
    }
  }
}

Streams ReadStreams(const std::string& path) {
  Streams streams;
  if (auto reader = platform::CompoundFileReader::Open(platform::Utf8ToUtf16(path)))
    Collect(*reader, platform::kRootElement, "", 0, streams);
  return streams;
}

struct Outcome {
  int result = 0;       // salvage stage result: 0, or the first failing code
  int streams = 0;      // non-empty streams of the original
  int samePlace = 0;    // byte-identical at the same path
  int anywhere = 0;     // byte-identical somewhere in the repaired file
  int recoverable = 0;  // whose bytes all survive in the damaged file
  int recovered = 0;    // of those, byte-identical at the same path
};

// The pieces of the damaged file at every multiple of step, found by their
// first eight bytes.
class Pieces {
 public:
  Pieces(const std::vector<std::uint8_t>& file, std::size_t step) : file_(file), step_(step) {
    for (std::size_t at = 0; at + 8 <= file.size(); at += step) byKey_.emplace(Key(file.data() + at), at);
  }
  // The first of those places, none of taken, at which bytes [data, data +
  // length) stand. Pieces shorter than a key are looked for place by place.
  std::optional<std::size_t> Free(const std::uint8_t* data, std::size_t length,
                                  const std::set<std::size_t>& taken) const {
    if (length < 8) {
      for (std::size_t at = 0; at + length <= file_.size(); at += step_)
        if (!taken.count(at) && std::memcmp(file_.data() + at, data, length) == 0) return at;
      return std::nullopt;
    }
    auto [lo, hi] = byKey_.equal_range(Key(data));
    std::optional<std::size_t> first;
    for (; lo != hi; ++lo)
      if (!taken.count(lo->second) && lo->second + length <= file_.size() &&
          std::memcmp(file_.data() + lo->second, data, length) == 0 && (!first || lo->second < *first))
        first = lo->second;
    return first;
  }

 private:
  static std::uint64_t Key(const std::uint8_t* p) {
    std::uint64_t k = 0;
    std::memcpy(&k, p, 8);
    return k;
  }
  const std::vector<std::uint8_t>& file_;
  std::size_t step_;
  std::unordered_multimap<std::uint64_t, std::size_t> byKey_;
};

// Where each piece of each stream of an intact compound file lies in it:
// the file offset of every sector (mini sector below the cutoff) of its
// chain, by the stream's path as Collect names it. The originals are intact,
// yet every read stays inside the file and every chain ends.
class PiecePlaces {
 public:
  explicit PiecePlaces(const std::vector<std::uint8_t>& file) : file_(file) {
    if (file.size() < 512) return;
    shift_ = U16(0x1E);
    if (shift_ != 9 && shift_ != 12) return;
    cutoff_ = U32(0x38);
    for (std::uint32_t i = 0; i < 109; ++i) AddFatSector(U32(0x4C + 4 * i));
    std::uint32_t difat = U32(0x44);
    for (std::size_t n = 0; n < SectorCount() && difat < kLast; ++n) {
      const std::size_t per = (std::size_t{1} << shift_) / 4 - 1;
      for (std::size_t i = 0; i < per; ++i) AddFatSector(U32(Offset(difat) + 4 * i));
      difat = U32(Offset(difat) + 4 * per);
    }
    for (std::uint32_t s : Chain(U32(0x3C)))
      for (std::size_t i = 0; i < (std::size_t{1} << shift_) / 4; ++i) miniFat_.push_back(U32(Offset(s) + 4 * i));
    for (std::uint32_t s : Chain(U32(0x30)))
      for (std::size_t at = Offset(s); at + 128 <= Offset(s) + (std::size_t{1} << shift_); at += 128) entries_.push_back(at);
    if (entries_.empty()) return;
    for (std::uint32_t s : Chain(U32(entries_[0] + 0x74))) miniStream_.push_back(Offset(s));
    Walk(U32(entries_[0] + 0x4C), "", 0);
  }
  const std::map<std::string, std::vector<std::size_t>>& ByPath() const { return places_; }

 private:
  static constexpr std::uint32_t kLast = 0xFFFFFFFA;
  std::uint32_t U16(std::size_t at) const { return at + 2 <= file_.size() ? file_[at] | file_[at + 1] << 8 : 0; }
  std::uint32_t U32(std::size_t at) const {
    if (at + 4 > file_.size()) return 0xFFFFFFFF;
    return std::uint32_t{file_[at]} | file_[at + 1] << 8 | file_[at + 2] << 16 | std::uint32_t{file_[at + 3]} << 24;
  }
  std::size_t SectorCount() const { return file_.size() >> shift_; }
  std::size_t Offset(std::uint32_t sector) const { return (std::size_t{sector} + 1) << shift_; }
  void AddFatSector(std::uint32_t s) {
    if (s >= kLast) return;
    for (std::size_t i = 0; i < (std::size_t{1} << shift_) / 4; ++i) fat_.push_back(U32(Offset(s) + 4 * i));
  }
  std::vector<std::uint32_t> Chain(std::uint32_t s, const std::vector<std::uint32_t>* table = nullptr) const {
    const std::vector<std::uint32_t>& links = table ? *table : fat_;
    std::vector<std::uint32_t> chain;
    while (s < links.size() && chain.size() < links.size()) chain.push_back(s), s = links[s];
    return chain;
  }
  void Walk(std::uint32_t index, const std::string& path, int depth) {
    std::vector<std::uint32_t> pending{index};
    while (!pending.empty() && depth < 64) {
      std::uint32_t i = pending.back();
      pending.pop_back();
      if (i >= entries_.size() || !seen_.insert(i).second) continue;
      const std::size_t at = entries_[i];
      pending.push_back(U32(at + 0x44));
      pending.push_back(U32(at + 0x48));
      std::u16string name;
      for (std::size_t c = 0; c + 2 < std::min<std::uint32_t>(U16(at + 0x40), 64); c += 2) name += char16_t(U16(at + c));
      const std::string where = path + "/" + platform::Utf16ToUtf8(name);
      const std::uint32_t type = file_[at + 0x42], start = U32(at + 0x74), size = U32(at + 0x78);
      if (type == 1) Walk(U32(at + 0x4C), where, depth + 1);
      if (type != 2 || size == 0) continue;
      std::vector<std::size_t>& offsets = places_[where];
      if (size < cutoff_) {
        for (std::uint32_t m : Chain(start, &miniFat_))
          if (std::size_t{m} * 64 / (std::size_t{1} << shift_) < miniStream_.size())
            offsets.push_back(miniStream_[std::size_t{m} * 64 >> shift_] + (std::size_t{m} * 64 & ((std::size_t{1} << shift_) - 1)));
      } else {
        for (std::uint32_t s : Chain(start)) offsets.push_back(Offset(s));
      }
    }
  }
  const std::vector<std::uint8_t>& file_;
  std::uint32_t shift_ = 9, cutoff_ = 4096;
  std::vector<std::uint32_t> fat_, miniFat_;
  std::vector<std::size_t> entries_, miniStream_;
  std::set<std::uint32_t> seen_;
  std::map<std::string, std::vector<std::size_t>> places_;
};

// The streams whose bytes all survive in the damaged file, piece by piece
// (64-byte mini sectors below 4,096 bytes, 512-byte sectors above). Each
// place of the damaged file stands for one piece only: a piece still at its
// own place keeps it, and the rest share out what is left. A stream whose own
// bytes are gone is not counted as surviving merely because another stream
// holds the same bytes (empty tables' meta streams are alike, byte for byte).
std::set<std::string> Recoverable(const Streams& expected, const std::vector<std::uint8_t>& original,
                                  const std::vector<std::uint8_t>& damaged) {
  const PiecePlaces own(original);
  const Pieces sectors(damaged, 512), miniSectors(damaged, 64);
  std::set<std::size_t> claimed[2];
  auto piecesOf = [](const std::vector<std::uint8_t>& bytes) { return bytes.size() < 4096 ? std::size_t{64} : std::size_t{512}; };
  // Whether piece i of the stream at path still stands at its own place.
  auto atOwnPlace = [&](const std::string& path, const std::vector<std::uint8_t>& bytes, std::size_t i) {
    const auto places = own.ByPath().find(path);
    if (places == own.ByPath().end() || i >= places->second.size()) return false;
    const std::size_t at = places->second[i], piece = piecesOf(bytes), length = std::min(piece, bytes.size() - i * piece);
    return at + length <= damaged.size() && std::memcmp(damaged.data() + at, bytes.data() + i * piece, length) == 0;
  };
  for (const auto& [path, bytes] : expected) {
    const std::size_t piece = piecesOf(bytes), count = (bytes.size() + piece - 1) / piece;
    for (std::size_t i = 0; i < count; ++i)
      if (atOwnPlace(path, bytes, i)) claimed[piece == 64].insert(own.ByPath().at(path)[i]);
  }
  std::set<std::string> survives;
  for (const auto& [path, bytes] : expected) {
    const std::size_t piece = piecesOf(bytes), count = (bytes.size() + piece - 1) / piece;
    // The places this stream takes, given up again if a piece has none.
    std::vector<std::size_t> taken;
    bool all = true;
    for (std::size_t i = 0; i < count && all; ++i) {
      if (atOwnPlace(path, bytes, i)) continue;
      const std::size_t length = std::min(piece, bytes.size() - i * piece);
      auto at = (piece == 64 ? miniSectors : sectors).Free(bytes.data() + i * piece, length, claimed[piece == 64]);
      if (at && claimed[piece == 64].insert(*at).second) taken.push_back(*at);
      all = at.has_value();
    }
    if (all) survives.insert(path);
    else
      for (std::size_t at : taken) claimed[piece == 64].erase(at);
  }
  return survives;
}

// Runs in the child: salvage, compare, report through the pipe.
Outcome Survey(const std::string& original, const std::string& damaged, const std::string& work) {
  Outcome outcome;
  Streams expected = ReadStreams(original);
  outcome.streams = static_cast<int>(expected.size());
  std::set<std::string> recoverable;
  {
    std::vector<std::uint8_t> originalFile, damagedFile;
    platform::ReadWholeFile(platform::Utf8ToUtf16(original), originalFile);
    platform::ReadWholeFile(platform::Utf8ToUtf16(damaged), damagedFile);
    recoverable = Recoverable(expected, originalFile, damagedFile);
  }
  outcome.recoverable = static_cast<int>(recoverable.size());
  runSettings.workFolder = platform::Utf8ToUtf16(work);
  std::string repairedPath = work + "/repaired-" + std::to_string(::getpid()) + ".cfb";
  std::u16string repaired = platform::Utf8ToUtf16(repairedPath);
  platform::DeleteFile(repaired);
  CStgReader reader(run);
  int code = reader.Init(platform::Utf8ToUtf16(damaged));
  if (code == 0) code = reader.ParseData();
  if (code == 0) code = reader.WriteData(repaired);
  outcome.result = code;
  if (code != 0) return outcome;
  Streams actual = ReadStreams(repairedPath);
  platform::DeleteFile(repaired);
  std::unordered_multimap<std::size_t, const std::vector<std::uint8_t>*> bySize;
  for (const auto& [path, bytes] : actual) bySize.emplace(bytes.size(), &bytes);
  for (const auto& [path, bytes] : expected) {
    auto it = actual.find(path);
    if (it != actual.end() && it->second == bytes) {
      ++outcome.samePlace;
      ++outcome.anywhere;
      outcome.recovered += recoverable.count(path) != 0;
      continue;
    }
    if (recoverable.count(path) && std::getenv("DAMAGE_SURVEY_MISSES"))
      std::printf("MISS: %s %s\n", damaged.c_str(), path.c_str());
    auto [lo, hi] = bySize.equal_range(bytes.size());
    for (; lo != hi; ++lo)
      if (*lo->second == bytes) {
        ++outcome.anywhere;
        break;
      }
  }
  return outcome;
}

struct KindTotals {
  int files = 0, failed = 0, crashed = 0, hung = 0;
  long streams = 0, samePlace = 0, anywhere = 0, recoverable = 0, recovered = 0;
  double slowest = 0;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: damage_survey ORIGINALS_DIR DAMAGED_DIR [WORK_DIR]\n");
    return 2;
  }
  std::string originals = argv[1], damaged = argv[2];
  std::string work = argc > 3 ? argv[3] : "/tmp";
  struct stat folder {};
  if (::stat(work.c_str(), &folder) != 0 || !S_ISDIR(folder.st_mode)) {
    std::fprintf(stderr, "damage_survey: no folder %s to rebuild the files in\n", work.c_str());
    return 2;
  }
  std::ifstream manifest(damaged + "/manifest.tsv");
  if (!manifest) {
    std::fprintf(stderr, "damage_survey: no %s/manifest.tsv\n", damaged.c_str());
    return 2;
  }
  std::map<std::string, KindTotals> totals;
  std::string line;
  std::getline(manifest, line);  // column names
  while (std::getline(manifest, line)) {
    std::istringstream fields(line);
    std::string output, source, kind;
    std::getline(fields, output, '\t');
    std::getline(fields, source, '\t');
    std::getline(fields, kind, '\t');
    if (output.empty()) continue;
    std::string outputName = output.substr(output.rfind('/') + 1);
    std::string sourceName = source.substr(source.rfind('/') + 1);

    int pipeFds[2];
    if (::pipe(pipeFds) != 0) return 1;
    auto started = std::chrono::steady_clock::now();
    pid_t child = ::fork();
    if (child == 0) {
      ::close(pipeFds[0]);
      ::alarm(kSecondsPerFile);
      Outcome o = Survey(originals + "/" + sourceName, damaged + "/" + outputName, work);
      std::fflush(stdout);
      ssize_t n = ::write(pipeFds[1], &o, sizeof o);
      ::_exit(n == sizeof o ? 0 : 1);
    }
    ::close(pipeFds[1]);
    Outcome o;
    ssize_t got = ::read(pipeFds[0], &o, sizeof o);
    ::close(pipeFds[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();

    KindTotals& t = totals[kind];
    ++t.files;
    t.slowest = std::max(t.slowest, seconds);
    if (got != static_cast<ssize_t>(sizeof o) || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
      bool hung = WIFSIGNALED(status) && WTERMSIG(status) == SIGALRM;
      (hung ? t.hung : t.crashed)++;
      std::printf("%s: %s %s\n", hung ? "HANG" : "CRASH", outputName.c_str(),
                  WIFSIGNALED(status) ? strsignal(WTERMSIG(status)) : "exit");
      continue;
    }
    if (o.result != 0) ++t.failed;
    t.streams += o.streams;
    t.samePlace += o.samePlace;
    t.anywhere += o.anywhere;
    t.recoverable += o.recoverable;
    t.recovered += o.recovered;
  }

  std::printf("| damage kind | files | salvage failed | crashed | hung | streams | identical, same place | identical, anywhere | recoverable | recoverable given back | slowest file (s) |\n");
  std::printf("|---|---|---|---|---|---|---|---|---|---|---|\n");
  KindTotals all;
  auto row = [](const char* kind, const KindTotals& t) {
    auto pct = [&](long n) { return t.streams ? 100.0 * n / t.streams : 0.0; };
    const double back = t.recoverable ? 100.0 * t.recovered / t.recoverable : 0.0;
    std::printf("| %s | %d | %d | %d | %d | %ld | %.1f %% | %.1f %% | %.1f %% | %.1f %% | %.2f |\n", kind, t.files,
                t.failed, t.crashed, t.hung, t.streams, pct(t.samePlace), pct(t.anywhere), pct(t.recoverable), back,
                t.slowest);
  };
  for (const auto& [kind, t] : totals) {
    row(kind.c_str(), t);
    all.files += t.files, all.failed += t.failed, all.crashed += t.crashed, all.hung += t.hung;
    all.streams += t.streams, all.samePlace += t.samePlace, all.anywhere += t.anywhere;
    all.recoverable += t.recoverable, all.recovered += t.recovered;
    all.slowest = std::max(all.slowest, t.slowest);
  }
  row("all", all);
  return all.crashed || all.hung ? 1 : 0;
}
