#pragma once

#include <string>

namespace kel::automation {

// The type library as readable text, in the manner of an interface definition: the enumerations,
// then each class with its default interface, every member with its dispatch id, kind,
// parameters, result and help string.
std::u16string typeLibraryListing();

}  // namespace kel::automation
