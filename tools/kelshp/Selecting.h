#pragma once

#include <vector>

#include "Tool.h"
#include "kel/format/Selection.h"

// The options of the commands that read a part of a layer: --bbox, --select, --where, --rows.
namespace kelshp {

// What their --help says of them.
extern const char* const kSelectionUsage;

// The command's own options, then the selection's and --encoding, which every command that reads
// a part of a layer takes.
std::vector<OptionSpec> withSelection(std::vector<OptionSpec> own);

// The selection that the options give; UsageError when one cannot be read.
kel::format::Selection selectionOf(const Arguments& arguments);

}  // namespace kelshp
