// windows.h comes first: the other headers build on its types.
// clang-format off
#include <windows.h>
// clang-format on

#include <cstdlib>
#include <string>

#include "kel/runtime/Text.h"
#include "kel/runtime/Transcoder.h"
#include "kel/runtime/windows/CodePages.h"

namespace kel {

namespace {

class CodePage final : public Transcoder {
 public:
  explicit CodePage(UINT codePage) noexcept : codePage_(codePage) {}

  std::size_t toUtf8(std::string_view bytes, std::string& out) override {
    std::size_t bad = 0;
    // One byte at a time when the whole fails, so that each bad byte is replaced on its own.
    if (!convert(bytes, out)) {
      for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (!convert(bytes.substr(i, 1), out)) {
          appendUtf8(out, 0xFFFD);
          ++bad;
        }
      }
    }
    return bad;
  }

 private:
  bool convert(std::string_view bytes, std::string& out) {
    if (bytes.empty()) return true;
    int n = ::MultiByteToWideChar(codePage_, MB_ERR_INVALID_CHARS, bytes.data(),
                                  static_cast<int>(bytes.size()), nullptr, 0);
    if (n <= 0) return false;
    std::wstring wide(static_cast<std::size_t>(n), L'\0');
    ::MultiByteToWideChar(codePage_, MB_ERR_INVALID_CHARS, bytes.data(),
                          static_cast<int>(bytes.size()), wide.data(), n);
    int m = ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), n, nullptr, 0, nullptr, nullptr);
    std::size_t at = out.size();
    out.resize(at + static_cast<std::size_t>(m));
    ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), n, out.data() + at, m, nullptr, nullptr);
    return true;
  }

  UINT codePage_;
};

}  // namespace

std::unique_ptr<Transcoder> Transcoder::openSystem(const std::string& encoding) {
  UINT codePage = codePageOf(encoding);
  CPINFO info;
  if (codePage == 0 || !::GetCPInfo(codePage, &info)) return nullptr;
  return std::make_unique<CodePage>(codePage);
}

}  // namespace kel
