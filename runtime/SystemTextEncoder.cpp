#include <iconv.h>

#include "kel/runtime/TextEncoder.h"

namespace kel {

namespace {

// One character at a time, each with its own shift sequences, so that a character's bytes never
// depend on the ones before it.
class Iconv final : public TextEncoder {
 public:
  explicit Iconv(iconv_t cd) noexcept : cd_(cd) {}
  ~Iconv() override { iconv_close(cd_); }

 protected:
  bool encodeOne(char32_t, std::string_view sequence, std::string& out) override {
    char buffer[64];
    char* in = const_cast<char*>(sequence.data());
    std::size_t inLeft = sequence.size();
    char* to = buffer;
    std::size_t toLeft = sizeof buffer;
    iconv(cd_, nullptr, nullptr, nullptr, nullptr);
    bool done = iconv(cd_, &in, &inLeft, &to, &toLeft) != static_cast<std::size_t>(-1) &&
                iconv(cd_, nullptr, nullptr, &to, &toLeft) != static_cast<std::size_t>(-1);
    if (done) out.append(buffer, static_cast<std::size_t>(to - buffer));
    return done;
  }

 private:
  iconv_t cd_;
};

}  // namespace

std::unique_ptr<TextEncoder> TextEncoder::openSystem(const std::string& encoding) {
  iconv_t cd = iconv_open(encoding.c_str(), "UTF-8");
  if (cd == reinterpret_cast<iconv_t>(-1)) return nullptr;
  return std::make_unique<Iconv>(cd);
}

}  // namespace kel
