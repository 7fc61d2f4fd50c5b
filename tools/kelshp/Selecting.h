#pragma once

#include "Tool.h"
#include "kel/format/Selection.h"

// The options of the commands that read a part of a layer: --bbox, --select, --where, --rows.
namespace kelshp {

// What their --help says of them.
extern const char* const kSelectionUsage;

// The selection that the options give; UsageError when one cannot be read.
kel::format::Selection selectionOf(const Arguments& arguments);

}  // namespace kelshp
