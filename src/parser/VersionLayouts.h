// The record layouts a file of each version is read with. A file's own
// field map wins when it gives a layout; otherwise the version's built-in
// tables. Files that the 2010 application converted down to version 12 or
// 9 carry version 14 layouts (tasks of 206 bytes, assignments of 110) in
// their older data storage, which only their map tells.
#pragma once

#include "parser/FieldMap.h"
#include "parser/RecordLayout.h"

namespace mpp {

// Versions 9 and 12 as written by the applications up to 2010: tasks of
// 264 bytes, resources of 188, assignments of 142, links of 20 and
// calendars of 12, every date a whole PackedDate.
const RecordLayout& BuiltInLayout12(RecordKind kind);

// The built-in layout a file of version falls back on when its map does
// not give one. The one place that choice is made.
const RecordLayout& FallbackLayout(int version, RecordKind kind);

// The layouts of a file of version: each kind from the file's map when
// maps is given and yields one, else the fallback.
FileLayouts LayoutsForVersion(int version, const FieldMaps* maps);

}  // namespace mpp
