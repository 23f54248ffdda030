// The project's own properties: title, author and the other document
// texts, the dates of creation and last save, currency, working time,
// calendar, start and finish, read into model::SProjectProps.
//
// Two sources. The root's summary streams ("\5SummaryInformation",
// "\5DocumentSummaryInformation", see PropertySet.h) hold the document
// texts and the two timestamps; the data storage's Props stream holds the
// rest and a second copy of the texts, as items of its item list
// (FieldMap.h) keyed
//
//   0x02400000 company        0x02400001 manager     0x02400002 start
//   0x02400003 finish         0x02400004 schedule from (u16: 1 from start,
//   0x02400005 comments                              0 from finish)
//   0x02400006 created, 0x02400007 last saved (local time)
//   0x02400029 the project's GUID (16 bytes)
//   0x02400008 title          0x02400009 subject     0x0240000C author
//   0x0240000D keywords       0x0240000E project calendar (its name)
//   0x02400010 currency symbol                       0x02400011 symbol
//              position (u16 0..3)                   0x02400012 digits (u16)
//   0x0240001C default start time (u16, tenths of a minute after midnight)
//   0x0240001D minutes per day (u32)                 0x0240001E per week
//   0x02400021 default finish time                   0x02400025 week start
//              (u16, 0 = Sunday)                     0x0240002C fiscal year
//              start month (u16)                     0x02400045 status date
//   0x02400049 category       0x0240138F days per month (u16)
//   0x024013BB currency code
//
// texts UTF-16LE with a terminator, dates PackedDate. A text is the summary
// stream's when that has one, the Props item's otherwise. A value that is
// absent, cut, unterminated or out of its range stays empty; nothing here
// throws.
#pragma once

#include <cstddef>

#include "base/RunContext.h"
#include "model/Records.h"
#include "platform/ByteView.h"
#include "platform/CompoundFile.h"

namespace mpp {

// Texts are cut at these many UTF-16 units (comments are longer).
inline constexpr std::size_t kMaxPropertyUnits = model::kFixedTextUnits - 1;
inline constexpr std::size_t kMaxCommentUnits = 4096;

// The Props items into props, each key's first readable item; a text
// already set is kept. How many values were taken.
std::size_t ReadProjectItems(platform::ByteView propsStream, model::SProjectProps& props);

// The texts and timestamps of the two summary streams (either may be
// empty) into props; texts set only where the stream has one. How many
// values were taken.
std::size_t ReadSummaryProperties(platform::ByteView summary, platform::ByteView docSummary,
                                  model::SProjectProps& props);

// Both sources of a file: the summary streams of the root, then the Props
// stream of dataStorage (the root too when the data storage was lost).
// Logs how many values each gave.
void ReadProjectProperties(Logger& log, const platform::CompoundFileReader& reader, platform::ElementId dataStorage,
                           model::SProjectProps& props);

}  // namespace mpp
