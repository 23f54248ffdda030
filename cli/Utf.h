// Text conversions the command-line host needs at the library's interface:
// its texts are UTF-16, the console and JSON want UTF-8, and file names are
// the system's bytes, UTF-8 or not.
#pragma once

#include <string>
#include <string_view>

namespace cli {

// A zero-terminated UTF-16 text (null: empty) as UTF-8; a lone surrogate
// becomes U+FFFD.
std::string ToUtf8(const char16_t* text);

// Well-formed UTF-8: each byte that is no part of a valid sequence becomes
// U+FFFD.
std::string SanitizeUtf8(std::string_view text);

// File names as the library takes them: bytes that are no part of a
// well-formed UTF-8 sequence travel as U+DC80..U+DCFF (one per byte) and
// come back as those bytes.
std::u16string PathFromBytes(std::string_view bytes);
std::string PathToBytes(std::u16string_view path);

}  // namespace cli
