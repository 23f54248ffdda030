// The recovery pipeline: salvage the container, detect the version, parse
// the project and write its XML, turning every failure into a result code.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// Results of a run and of its passes.
enum retcodes : std::int32_t {
  kRecovered = 0,
  kCannotOpenRepaired = -1,
  kGeneralFailure = -2,
  kNothingRecovered = -3,
  kWriteException = -5,
  kPathTooLong = -31,
  kCancelled = -1000,
};

// Longest output path a composed name may have, in UTF-16 units.
constexpr std::size_t kMaxComposedPath = 260;
// "plan(2).xml" ... "plan(999).xml" are tried when "plan.xml" exists.
constexpr int kMaxOutputSuffix = 999;

std::int32_t RunFileRecover(std::u16string_view input, std::u16string_view output);

// Composes a new output file name in folder from the input's name and the
// output format. Never takes over an existing file: "(2)", "(3)"... are
// tried instead. Returns 0, -2 (nothing free, or access denied) or -31.
std::int32_t MakeOutputFileName(std::u16string_view folder, std::u16string_view input,
                                std::u16string& composed);

// A fresh path in the work folder the host chose (else the temporary
// folder): "mw-" UUID ".tmp"; empty if there is no folder or no UUID.
std::u16string MakeTempFileName();

// The XML file a generator writes for an output path: its last three
// characters replaced by "xml".
std::u16string XmlPathFor(std::u16string_view output);
