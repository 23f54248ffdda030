// What the file's structure said it held, storage by storage, beside what
// the readers could read of it: the facts of the loss report. The storage
// readers add to it where they log their counts; nothing else reads it but
// the report.
#pragma once

#include <cstddef>

namespace model {

struct StorageTally {
  // The storage was there.
  bool storageFound = false;
  // The storage's fixed streams (FixedMeta and FixedData) were there and
  // walked; false means the storage or its streams were lost.
  bool fixedRead = false;
  // Live records its FixedMeta declares (not deleted, not free slots,
  // blank task rows included) and how many of them could not be read.
  std::size_t held = 0;
  std::size_t unreadable = 0;
  // Records read where their garbled items no longer said, at the place the
  // records around them give: their flags were lost with the items.
  std::size_t placed = 0;
  // Records a stream cut short cut through: their later fields were lost.
  std::size_t cutShort = 0;
  // Its FixedMeta lost the header that tells how many items it lists: how
  // many records the table held is unknown.
  bool countLost = false;
  // Its var streams (names, notes, custom values...): read, items walked,
  // and items whose value lay outside the data.
  bool varRead = false;
  std::size_t varItems = 0;
  std::size_t varSkipped = 0;
  // Version 9: the file's field map, which codes the var items, was lost,
  // and the usual codes read them.
  bool varCodesGuessed = false;

  void AddFixed(std::size_t liveRecords, std::size_t unreadableRecords, std::size_t placedRecords = 0) {
    fixedRead = true;
    held += liveRecords + unreadableRecords;
    unreadable += unreadableRecords;
    placed += placedRecords;
  }
  void AddVar(std::size_t items, std::size_t skipped) {
    varRead = true;
    varItems += items;
    varSkipped += skipped;
  }
};

struct ReadTally {
  StorageTally tasks, resources, assignments, links, calendars;
};

}  // namespace model
