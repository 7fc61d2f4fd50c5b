#pragma once

#include <string>
#include <string_view>

// Text for the tool's outputs: numbers that read back to the same double, and JSON strings.
namespace kelshp {

// The shortest text that reads back to the same double; "null" for NaN and the infinities,
// which JSON has no words for.
std::string number(double value);

// A JSON string literal of UTF-16 text, quotes included; control characters escaped.
std::string jsonString(std::u16string_view text);

// Text for XML attributes and content: the five special characters escaped.
std::string xmlEscaped(std::string_view utf8);

}  // namespace kelshp
