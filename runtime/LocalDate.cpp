#include "kel/runtime/LocalDate.h"

#include <ctime>

#include "kel/runtime/Text.h"

namespace kel {

LocalDate LocalDate::today() {
  std::time_t now = std::time(nullptr);
  std::tm local{};
#if defined(_WIN32)
  localtime_s(&local, &now);
#else
  localtime_r(&now, &local);
#endif
  return LocalDate{local.tm_year + 1900, local.tm_mon + 1, local.tm_mday};
}

std::u16string LocalDate::yearText() const {
  return toUtf16(std::to_string(year));
}

}  // namespace kel
