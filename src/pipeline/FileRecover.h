// The recovery pipeline: salvage the container, detect the version, parse
// the project and write its XML, turning every failure into a result code.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "base/Result.h"
#include "base/RunContext.h"

// The system's limits: a path of PATH_MAX bytes less its terminating zero,
// a name of NAME_MAX bytes. Longer output names give kPathTooLong.
constexpr std::size_t kMaxComposedPath = 4095;
constexpr std::size_t kMaxNameBytes = 255;
// "plan(2).xml" ... "plan(999).xml" are tried when "plan.xml" exists.
constexpr int kMaxOutputSuffix = 999;

// One run: its log, settings and report come from ctx.
std::int32_t RunFileRecover(RunContext& ctx, std::u16string_view input, std::u16string_view output);

// Composes a new output file name in folder from the input's name and the
// output format: the first of "plan.xml", "plan(2).xml"... that is not
// taken (a symbolic link counts as taken). Nothing is created: the run puts
// its finished document under the first name free at that time. Returns 0,
// -2 (nothing free, or no folder one may write into) or -31.
std::int32_t MakeOutputFileName(const LibrarySettings& settings, std::u16string_view folder, std::u16string_view input,
                                std::u16string& composed);

// A fresh path in the work folder the host chose (else the temporary
// folder): "mw-" UUID ".tmp"; empty if there is no folder or no UUID.
std::u16string MakeTempFileName(const LibrarySettings& settings);

// The XML file a generator writes for an output path: its last three
// characters replaced by "xml".
std::u16string XmlPathFor(std::u16string_view output);
