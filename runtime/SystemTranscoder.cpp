#include <iconv.h>

#include <cerrno>

#include "kel/runtime/Text.h"
#include "kel/runtime/Transcoder.h"

namespace kel {

namespace {

class Iconv final : public Transcoder {
 public:
  explicit Iconv(iconv_t cd) noexcept : cd_(cd) {}
  ~Iconv() override { iconv_close(cd_); }

  std::size_t toUtf8(std::string_view bytes, std::string& out) override {
    std::size_t bad = 0;
    char* in = const_cast<char*>(bytes.data());
    std::size_t inLeft = bytes.size();
    char buffer[1024];
    iconv(cd_, nullptr, nullptr, nullptr, nullptr);
    while (inLeft > 0) {
      char* to = buffer;
      std::size_t toLeft = sizeof buffer;
      std::size_t r = iconv(cd_, &in, &inLeft, &to, &toLeft);
      out.append(buffer, static_cast<std::size_t>(to - buffer));
      if (r != static_cast<std::size_t>(-1) || errno == E2BIG) continue;
      // A byte that starts no character, or a character cut off at the end: replace one byte.
      appendUtf8(out, 0xFFFD);
      ++bad;
      ++in;
      --inLeft;
      iconv(cd_, nullptr, nullptr, nullptr, nullptr);
    }
    return bad;
  }

 private:
  iconv_t cd_;
};

}  // namespace

std::unique_ptr<Transcoder> Transcoder::openSystem(const std::string& encoding) {
  iconv_t cd = iconv_open("UTF-8", encoding.c_str());
  if (cd == reinterpret_cast<iconv_t>(-1)) return nullptr;
  return std::make_unique<Iconv>(cd);
}

}  // namespace kel
