#pragma once

#include <string>

namespace kel {

// A calendar date in the machine's local time zone; the dBASE writer stamps its header with it.
struct LocalDate {
  int year = 0;   // e.g. 2026
  int month = 0;  // 1 to 12
  int day = 0;    // 1 to 31

  static LocalDate today();

  std::u16string yearText() const;  // the year in decimal digits
};

}  // namespace kel
