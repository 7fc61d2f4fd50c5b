#pragma once

#include <string>

#include "kel/shapefile/Shapefile.h"

// The writer's contract, checked from outside: what a write must refuse, what it may change in the
// object model, and what a read of its files gives back.
namespace kel::fuzz {

// Writes `file` into the fuzz scratch directory and checks the write against its contract. Empty
// text when the contract held; otherwise what broke. The object model afterwards is as the write
// left it.
std::string writeAndCheck(Shapefile& file);

}  // namespace kel::fuzz
