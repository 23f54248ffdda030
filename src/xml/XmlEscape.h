// Making any text safe as the content of an XML 1.0 element, whatever a
// damaged project file held: well-formed UTF-8 of allowed characters only,
// markup either inside CDATA sections or escaped.
#pragma once

#include <string>
#include <string_view>

namespace xml {

// The text as well-formed UTF-8 holding only characters XML 1.0 allows:
// ill-formed sequences, encoded surrogates, control characters other than
// tab, line feed and carriage return, and U+FFFE and U+FFFF each become
// U+FFFD.
std::string CleanXmlText(std::string_view utf8);

// True when the text holds '<', '>' or '&'.
bool HasMarkup(std::string_view text);

// The text as one CDATA section; every "]]>" inside is split across two
// sections, so that any text fits.
std::string CDataSection(std::string_view text);

// True when the whole text is a single CDATA section that closes only at
// its end.
bool IsSingleCDataSection(std::string_view text);

// Text that its writer has already escaped: its entity and character
// references are kept as they are, and every '&' that starts no valid
// reference, every '<' and every '>' is escaped.
std::string CompleteEscapes(std::string_view text);

}  // namespace xml
