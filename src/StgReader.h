// The compound-file salvage driver: reads a damaged file whole, rebuilds its
// allocation tables and directory without trusting them, and writes what it
// recovered into a clean compound file.
#pragma once

#include <string>
#include <string_view>

class CStgReader {
 public:
  virtual ~CStgReader() = default;

  // Each stage returns 0 on success or a non-zero error code.
  virtual int Init(std::u16string_view path);
  virtual int ParseData();
  virtual int WriteData(std::u16string_view repairedPath);
};
