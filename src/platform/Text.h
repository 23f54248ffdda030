// Text conversions between the library's three encodings: UTF-16 at the
// exported interface and in the project model, the 8-bit "ANSI" code page
// (Windows-1252) of the library's inner texts and its log, and UTF-8 for the
// XML output and for file names handed to the operating system.
#pragma once

#include <string>
#include <string_view>

namespace platform {

// A zero-terminated wide text as a string; a null pointer gives an empty one.
std::u16string FromWide(const char16_t* text);

// Ill-formed input (a lone surrogate, a bad UTF-8 sequence) becomes U+FFFD.
std::string Utf16ToUtf8(std::u16string_view text);
std::u16string Utf8ToUtf16(std::string_view text);

// File names as the system's bytes: a name need not be UTF-8. Bytes that
// are no part of a well-formed UTF-8 sequence travel as the lone low
// surrogates U+DC80..U+DCFF (one per byte) and come back as those bytes, so
// that every name the system can give can be opened again.
std::u16string PathFromBytes(std::string_view bytes);
std::string PathToBytes(std::u16string_view path);

// Windows-1252: what the code page cannot hold becomes '?'.
std::string Utf16ToAnsi(std::u16string_view text);
std::u16string AnsiToUtf16(std::string_view text);
std::string Utf8ToAnsi(std::string_view text);

}  // namespace platform
