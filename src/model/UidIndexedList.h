// A list of records in file order with an index by UID, so that the
// readers' "first record whose UID equals" costs constant time however
// long the project is. Records with the same UID are chained in list
// order: Find gives the first, Next the following ones.
//
// The index follows Append as it happens. Anything else
// that may move records or change their UIDs goes through Edit, after
// which the index is rebuilt on its next use.
#pragma once

#include <cstddef>
#include <cstdint>
#include <unordered_map>
#include <utility>
#include <vector>

namespace model {

template <typename Record>
class UidIndexedList {
 public:
  static constexpr std::size_t npos = static_cast<std::size_t>(-1);

  const std::vector<Record>& Items() const { return items_; }
  std::size_t size() const { return items_.size(); }
  bool empty() const { return items_.empty(); }
  const Record& operator[](std::size_t i) const { return items_[i]; }
  Record& At(std::size_t i) { return items_[i]; }  // the UID must not change

  Record& Append(Record record) {
    Refresh();
    items_.push_back(std::move(record));
    Link(items_.size() - 1);
    return items_.back();
  }

  // The position of the first record with uid, or npos.
  std::size_t Find(std::uint32_t uid) const {
    Refresh();
    auto it = chains_.find(uid);
    return it == chains_.end() ? npos : it->second.first;
  }
  // The position of the next record with the same UID as the one at index.
  std::size_t Next(std::size_t index) const {
    Refresh();
    return index < next_.size() ? next_[index] : npos;
  }
  Record* FindRecord(std::uint32_t uid) {
    const std::size_t index = Find(uid);
    return index == npos ? nullptr : &items_[index];
  }
  const Record* FindRecord(std::uint32_t uid) const {
    const std::size_t index = Find(uid);
    return index == npos ? nullptr : &items_[index];
  }

  // The records for changes the index cannot follow (sorting, removing
  // from the middle, changing UIDs).
  std::vector<Record>& Edit() {
    stale_ = true;
    return items_;
  }

  void Clear() {
    items_.clear();
    next_.clear();
    prev_.clear();
    chains_.clear();
    stale_ = false;
  }

 private:
  struct Chain {
    std::size_t first;
    std::size_t last;
  };

  // Chains the record at index after the records of its UID before it.
  void Link(std::size_t index) const {
    next_.push_back(npos);
    prev_.push_back(npos);
    auto [it, inserted] = chains_.try_emplace(items_[index].UID, Chain{index, index});
    if (!inserted) {
      next_[it->second.last] = index;
      prev_[index] = it->second.last;
      it->second.last = index;
    }
  }

  // The index of records changed through Edit, made anew (the records stay
  // where they are).
  void Refresh() const {
    if (!stale_) return;
    stale_ = false;
    next_.clear();
    prev_.clear();
    chains_.clear();
    for (std::size_t i = 0; i < items_.size(); ++i) Link(i);
  }

  std::vector<Record> items_;
  // The index: mutable, as it is made anew on the first look-up after Edit.
  mutable std::vector<std::size_t> next_;
  mutable std::vector<std::size_t> prev_;
  mutable std::unordered_map<std::uint32_t, Chain> chains_;
  mutable bool stale_ = false;
};

}  // namespace model
