// windows.h comes first: the other headers build on its types.
// clang-format off
#include <windows.h>
// clang-format on

#include <cstdlib>
#include <string>

#include "kel/runtime/TextEncoder.h"
#include "kel/runtime/windows/CodePages.h"

namespace kel {

namespace {

class CodePage final : public TextEncoder {
 public:
  explicit CodePage(UINT codePage) noexcept : codePage_(codePage) {}

 protected:
  bool encodeOne(char32_t cp, std::string_view, std::string& out) override {
    wchar_t wide[2];
    int n = 1;
    if (cp < 0x10000) {
      wide[0] = static_cast<wchar_t>(cp);
    } else {
      wide[0] = static_cast<wchar_t>(0xD800 + ((cp - 0x10000) >> 10));
      wide[1] = static_cast<wchar_t>(0xDC00 + ((cp - 0x10000) & 0x3FF));
      n = 2;
    }
    char buffer[16];
    BOOL usedDefault = FALSE;
    // No best fit: a character the code page lacks is refused, never written as a look-alike.
    int m = ::WideCharToMultiByte(codePage_, WC_NO_BEST_FIT_CHARS, wide, n, buffer, sizeof buffer,
                                  nullptr, &usedDefault);
    if (m <= 0 || usedDefault) return false;
    out.append(buffer, static_cast<std::size_t>(m));
    return true;
  }

 private:
  UINT codePage_;
};

}  // namespace

std::unique_ptr<TextEncoder> TextEncoder::openSystem(const std::string& encoding) {
  UINT codePage = codePageOf(encoding);
  CPINFO info;
  if (codePage == 0 || !::GetCPInfo(codePage, &info)) return nullptr;
  return std::make_unique<CodePage>(codePage);
}

}  // namespace kel
