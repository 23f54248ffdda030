// Any bytes as a rich-text note: the reader reads them or refuses them
// without reading outside the input, and the text it gives is never longer
// than the note.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "platform/ByteView.h"
#include "xml/RtfNotes.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const platform::ByteView note(data, size);
  xml::RtfReader reader;
  const xml::RtfResult result = reader.Read(note);
  if (reader.Text().size() > size) std::abort();
  // A second note through the same reader starts clean.
  if (reader.Read(note) != result) std::abort();
  if (auto text = xml::NotesToText(note); text && text->size() > size) std::abort();
  return 0;
}
