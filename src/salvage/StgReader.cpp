#include "salvage/StgReader.h"

#include <algorithm>
#include <limits>
#include <string>

#include "base/LibrarySettings.h"
#include "base/Logger.h"
#include "platform/Files.h"
#include "platform/Text.h"
#include "salvage/FamousNames.h"
#include "salvage/MiniJumps.h"
#include "salvage/NameRepair.h"
#include "salvage/Root.h"
#include "salvage/Layout.h"
#include "salvage/SalvageState.h"
#include "salvage/Sat.h"
#include "salvage/SectorSwaps.h"
#include "salvage/Version4.h"

using namespace salvage;

namespace {

// A file needs the header and two sectors before the salvage tries it.
constexpr std::int64_t kMinFileSize = 3 * kSectorSize;
// Files from here on cannot be addressed by the salvage's 32-bit offsets.
constexpr std::uint64_t kMaxFileSize = std::numeric_limits<std::int32_t>::max() - kSectorSize;

}  // namespace

CStgReader::CStgReader(const RunContext& run) : state_(run) {
  state_.log().WriteLine("inside CStgReader::CStgReader()");
  state_.log().WriteLine("CStgReader::CStgReader() done.");
}

CStgReader::~CStgReader() = default;

int CStgReader::Init(std::u16string_view path) {
  state_.log().WriteLine("[STG]\tREADER: inside CStgReader::Init()");
  platform::File file = platform::OpenForReading(path);
  if (!file.IsOpen()) {
    state_.log().WriteErrorValue("[STG]\tCStgReader: cannot init LLFile class, filename: ",
                           platform::Utf16ToAnsi(path).c_str());
    return -1;
  }
  const auto size = file.Size();
  if (!size || *size > kMaxFileSize) {
    state_.log().WriteError("[STG]\tCStgReader:: cannot determine file size");
    return -1;
  }
  state_.log().WriteNumber("[STG]\tREADER: infile size is", static_cast<long long>(*size));

  Bytes image;
  try {
    image.resize(static_cast<std::size_t>(*size) + kSectorSize);
    std::fill(image.end() - kSectorSize, image.end(), 0);
  } catch (const std::bad_alloc&) {
    state_.log().WriteError("[STG]\tCStgReader:: cannot read file contents");
    return -1;
  }
  std::size_t done = 0;
  while (done < *size) {
    const long long n = file.Read(image.data() + done, static_cast<std::size_t>(*size) - done);
    if (n <= 0) {
      state_.log().WriteError("[STG]\tCStgReader:: cannot read file contents");
      return -1;
    }
    done += static_cast<std::size_t>(n);
  }
  file.Close();

  std::uint64_t imageSize = *size;
  if (const std::uint64_t relaid = ReadVersion4AsVersion3(image, imageSize, state_.log())) imageSize = relaid;
  if (imageSize > kMaxFileSize) {
    state_.log().WriteError("[STG]\tCStgReader:: cannot determine file size");
    return -1;
  }
  image_ = std::move(image);
  initialised_ = true;
  imageSize_ = static_cast<std::int32_t>(imageSize);
  root_ = std::make_unique<CRoot>(state_);
  sat_ = std::make_unique<CSat>(state_);
  state_.recurseLevel = 0;
  lastParsed_ = -10;
  LoadFamousNames();
  state_.log().WriteLine("[STG]\tCStgReader::Init() done.");
  return 0;
}

// The chains the directory accounts for (its own, the big streams' and the
// mini stream's) rule those out as the mini SAT; what remains may replace a
// mini SAT that the header led astray.
std::vector<salvage::CSat::KnownChain> CStgReader::KnownChains(const salvage::DirItem*& rootItem) const {
  std::vector<salvage::CSat::KnownChain> known;
  rootItem = nullptr;
  for (std::uint32_t n = 0; n < root_->EntryCount(); ++n) {
    const salvage::DirItem* item = root_->GetEntry(n);
    if (!item) continue;
    if (item->Type() == salvage::kTypeRoot && !rootItem) rootItem = item;
    if (item->Type() == salvage::kTypeRoot || item->Size() >= salvage::kMiniStreamCutoff)
      known.push_back({item->Start(), (item->Size() + salvage::kSectorSize - 1) / salvage::kSectorSize});
  }
  // The directory's own sectors last: where the table was lost they are
  // the least certain.
  for (std::uint32_t sector : root_->RootChain().sectors) known.push_back({sector, 1});
  known.push_back({state_.header.rootsStart, 1});
  if (!rootItem && root_->EntryCount() > 0) rootItem = root_->GetEntry(0);
  return known;
}

bool CStgReader::MendMiniSat() {
  const salvage::DirItem* rootItem = nullptr;
  const std::vector<salvage::CSat::KnownChain> known = KnownChains(rootItem);
  if (!rootItem) return false;
  // Chains through lost SAT parts follow the directory now that it is
  // known; the mini SAT and the mini stream, read through them before,
  // are read again.
  const int relinked = sat_->MendBrokenLinks(known);
  const bool runs = sat_->MendLostRuns(known, rootItem->Size());
  if (runs || relinked > 0) {
    state_.header.miniSatStart = sat_->FindMiniSat();
    sat_->ReadMiniSat();
    sat_->SetMiniSatLoc(rootItem->Start(), rootItem->Size());
    root_->RecutMiniStarts();
  }
  const bool miniSatMended = sat_->MendMiniSat(known, rootItem->Size());
  const int lostMiniParts = sat_->MendLostMiniParts(rootItem->Size());
  std::vector<salvage::CSat::KnownChain> shortChains;
  for (std::uint32_t n = 0; n < root_->EntryCount(); ++n) {
    const salvage::DirItem* item = root_->GetEntry(n);
    if (item && !item->lost && item->Type() == salvage::kTypeStream && item->Size() > 0 &&
        item->Size() < salvage::kMiniStreamCutoff)
      shortChains.push_back({item->Start(), (item->Size() + salvage::kMiniSectorSize - 1) / salvage::kMiniSectorSize});
  }
  // The chains through lost mini SAT parts follow the directory too;
  // single damaged links are mended only where no part was lost.
  if (lostMiniParts > 0) sat_->MendLostMiniRuns(shortChains);
  if (miniSatMended || lostMiniParts > 0) return true;
  return sat_->MendBrokenMiniLinks(shortChains) > 0 || runs || relinked > 0;
}

// A file shorter than its table accounts for was cut: said in the log and
// in the run's report, with both sizes.
void CStgReader::NoteCut() {
  const std::uint64_t accounted = sat_->AccountedBytes();
  const auto size = static_cast<std::uint64_t>(imageSize_);
  state_.cutAt = 0;
  if (accounted <= size) return;
  state_.cutAt = size;
  state_.log().WriteFormat("File was cut: %llu bytes of the %llu its header and tables account for",
                           static_cast<unsigned long long>(size), static_cast<unsigned long long>(accounted));
  const std::u16string value = platform::Utf8ToUtf16(std::to_string(size) + " of " + std::to_string(accounted) + " bytes");
  state_.run.report.AddItem(u"File cut", value.c_str(), u"the file ends before the sectors its tables use; what lay past its end is lost",
                            u"lost");
}

void CStgReader::ReleaseImage() {
  if (sat_) sat_->ReleaseImage();
  if (root_) root_->ReleaseImage();
  salvage::Bytes().swap(image_);
}

// Only where directory entries were lost: the chains that no surviving
// entry, the directory or the tables own, copied out before the image goes.
void CStgReader::CollectLostChains() {
  std::vector<salvage::UnownedChain>().swap(lostChains_);
  entriesLost_ = false;
  metasGivenBack_.reset();
  bool lost = false;
  salvage::OwnedParts owned;
  for (std::uint32_t n = 0; n < root_->EntryCount(); ++n) {
    const salvage::DirItem* item = root_->GetEntry(n);
    if (!item) continue;
    lost |= item->lost;
    if (item->lost || item->Type() == salvage::kTypeStorage) continue;
    if (item->Type() == salvage::kTypeRoot)
      owned.bigStarts.push_back(item->Start());
    else if (item->declaredSize > 0)
      (item->declaredSize < salvage::kMiniStreamCutoff ? owned.miniStarts : owned.bigStarts).push_back(item->Start());
  }
  entriesLost_ = lost;
  if (!lost) return;
  owned.bigSectors = root_->RootChain().sectors;
  owned.bigSectors.push_back(state_.header.rootsStart);
  owned.bigSectors.insert(owned.bigSectors.end(), sat_->MiniSatList().begin(), sat_->MiniSatList().end());
  lostChains_ = salvage::CollectUnownedChains(*sat_, ImageView(image_.data(), image_.size()), owned,
                                              static_cast<std::uint64_t>(imageSize_));
  std::size_t mini = 0;
  for (const salvage::UnownedChain& c : lostChains_) mini += c.mini;
  state_.log().WriteFormat("[STG]\tEntries were lost: %zu chains no surviving entry owns (%zu in the mini stream)",
                           lostChains_.size(), mini);
}

int CStgReader::ParseData() {
  state_.log().WriteLine("[STG]\tinside CStgReader::ParseData()");
  if (!initialised_) return -1;
  state_.stats = SalvageStats{};
  const ImageView image(image_.data(), image_.size());
  sat_->Init(image);
  root_->Init(std::span<std::uint8_t>(image_.data(), image_.size()), imageSize_);

  if (imageSize_ < kMinFileSize) {
    state_.log().WriteError("[STG]\tFile is too small.");
    return -1;
  }

  state_.bounds = FileBounds::ForFileSize(imageSize_);
  HeaderInfo& h = state_.header;
  h.satStart = image.ReadByBound(kHdrDifat, static_cast<std::uint32_t>(state_.bounds.maxSector));
  h.satSectorsCount = image.ReadByBound(kHdrFatSectorCount, state_.bounds.needSatSectors);
  h.miniSatStart = image.ReadByBound(kHdrFirstMiniFatSector, kEndOfChain);
  h.miniSatCount = image.ReadByBound(kHdrMiniFatSectorCount, state_.bounds.needSatSectors);
  h.rootsStart = image.ReadByBound(kHdrFirstDirSector, static_cast<std::uint32_t>(state_.bounds.maxSector));
  h.difStart = image.ReadByBound(kHdrFirstDifatSector, static_cast<std::uint32_t>(state_.bounds.maxSector));
  h.difSectorsCount = image.ReadByBound(kHdrDifatSectorCount, state_.bounds.needDifSectors);
  state_.log().WriteNumber("[STG]\t[Header]\tSAT start sector", h.satStart);
  state_.log().WriteNumber("[STG]\t[Header]\tSAT sectors count", h.satSectorsCount);
  state_.log().WriteNumber("[STG]\t[Header]\tminiSAT start", h.miniSatStart);
  state_.log().WriteNumber("[STG]\t[Header]\tRoots start", h.rootsStart);
  state_.log().WriteNumber("[STG]\t[Header]\tDIF start sector", h.difStart);
  state_.log().WriteNumber("[STG]\t[Header]\tDIF sectors count", h.difSectorsCount);

  sat_->SetFileInfo(imageSize_, h);
  h.satStart = sat_->FindSat();
  if (state_.run.Cancelled()) return -1000;
  if (int code = sat_->ReadSat(); code != 0) {
    state_.log().WriteErrorNumber("[STG]\tSAT read error ", code);
    return -1;
  }
  NoteCut();
  h.miniSatStart = sat_->FindMiniSat();
  if (state_.run.Cancelled()) return -1000;
  if (int code = sat_->ReadMiniSat(); code != 0) {
    state_.log().WriteErrorNumber("[STG]\tminiSAT read error ", code);
    return -1;
  }

  root_->SetSat(sat_.get());
  h.rootsStart = root_->FindRoot();
  int code = root_->ReadRoot();
  if (state_.run.Cancelled()) return -1000;
  if (code != 0) {
    state_.log().WriteErrorNumber("[STG]\tRoot read error ", code);
    return -2;
  }
  salvage::RepairProjectNames(*root_, state_);
  const bool linksMended = MendMiniSat();
  salvage::MendMiniJumps(*root_, *sat_, state_);
  salvage::MendSwappedSectors(*root_, *sat_, std::span<std::uint8_t>(image_.data(), image_.size()),
                              !linksMended && sat_->LinksAsStored(), state_);
  code = root_->ReadFilesData();
  if (state_.run.Cancelled()) return -1000;
  if (code != 0) {
    state_.log().WriteErrorNumber("[STG]\tFiles data read error ", code);
    return -3;
  }
  CollectLostChains();
  // Every stream's bytes are read: the mini stream's copy goes, and so
  // does the image unless streams are views of it, so that writing the new
  // file does not hold the old one twice.
  sat_->ReleaseMiniStream();
  if (!root_->HoldsViews()) ReleaseImage();
  state_.log().WriteLine("[STG]\tCStgReader::ParseData() done.");
  return 0;
}
