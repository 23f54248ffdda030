// The results of a run and of its passes: the codes the exports return.
#pragma once

#include <cstdint>

#include "mdwdll.h"

enum Result : std::int32_t {
  kRecovered = 0,
  kCannotOpenRepaired = -1,
  kGeneralFailure = -2,
  kNothingRecovered = -3,
  kWriteException = -5,
  kPathTooLong = -31,
  kCancelled = -1000,
};

static_assert(static_cast<int>(kRecovered) == MDW_OK);
static_assert(static_cast<int>(kCannotOpenRepaired) == MDW_ERR_OPEN_REPAIRED);
static_assert(static_cast<int>(kGeneralFailure) == MDW_ERR_GENERAL);
static_assert(static_cast<int>(kNothingRecovered) == MDW_ERR_NOTHING);
static_assert(static_cast<int>(kWriteException) == MDW_ERR_WRITE);
static_assert(static_cast<int>(kPathTooLong) == MDW_ERR_PATH_TOO_LONG);
static_assert(static_cast<int>(kCancelled) == MDW_ERR_CANCELLED);

// Thrown where a cancel is noticed deep in a pass whose result cannot carry
// it; the pass's driver turns it into kCancelled.
constexpr int kBreakException = 1;
