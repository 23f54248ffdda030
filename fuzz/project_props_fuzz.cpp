// Any bytes as a Props stream and as both summary property sets: the
// readers take what they can without reading outside the bytes, and no
// text passes its cut.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "model/Records.h"
#include "parse/ProjectProperties.h"
#include "platform/ByteView.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const platform::ByteView input(data, size);
  model::SProjectProps props;
  mpp::ReadSummaryProperties(input, input, props);
  mpp::ReadProjectItems(input, props);
  for (const std::u16string* text : {&props.Title, &props.Subject, &props.Author, &props.Manager, &props.Company,
                                     &props.Category, &props.Keywords, &props.CalendarName, &props.CurrencySymbol,
                                     &props.CurrencyCode})
    if (text->size() > mpp::kMaxPropertyUnits) std::abort();
  if (props.Comments.size() > mpp::kMaxCommentUnits) std::abort();
  return 0;
}
