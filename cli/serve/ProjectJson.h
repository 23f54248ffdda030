// The project a recovery wrote, as JSON for pages and scripts: read back
// from the Project XML document itself, so that hosts see exactly what the
// document holds.
#pragma once

#include <string>

namespace serve {

// JSON text for a string: escaped, its bytes as UTF-8 (a byte that is not
// part of a valid UTF-8 sequence becomes U+FFFD).
std::string JsonQuote(const std::string& text);

// Reads the Project XML document `xml` (the text of one of our documents)
// and gives {"header":{...},"tasks":[...],"resources":[...],
// "assignments":[...],"links":[...]}. Returns false, with the reason in
// `error`, when the text is not a well-formed document of that form.
bool ProjectJsonFromXml(const std::string& xml, std::string& json, std::string& error);

// The same from a file (at most `maxBytes` of it are read).
bool ProjectJsonFromFile(const std::string& path, std::string& json, std::string& error,
                         std::size_t maxBytes = std::size_t(1) << 31);

}  // namespace serve
