#include "kel/crs/Crs.h"

#include <proj.h>

#include <cmath>
#include <memory>
#include <utility>

namespace kel::crs {

namespace {

// A PROJ context that keeps its last error message rather than print it.
class Context {
 public:
  Context() : ctx_(proj_context_create()) {
    if (ctx_ == nullptr) throw CrsError("PROJ cannot start: out of memory");
    proj_log_level(ctx_, PJ_LOG_ERROR);
    proj_log_func(ctx_, this, [](void* self, int, const char* message) {
      static_cast<Context*>(self)->message_ = message ? message : "";
    });
  }
  ~Context() { proj_context_destroy(ctx_); }
  Context(const Context&) = delete;
  Context& operator=(const Context&) = delete;

  PJ_CONTEXT* get() const noexcept { return ctx_; }
  // PROJ's reason for the last failure, or `otherwise`.
  std::string reason(const char* otherwise) const {
    int error = proj_context_errno(ctx_);
    std::string why = !message_.empty() ? message_
                      : error != 0      ? proj_context_errno_string(ctx_, error)
                                        : otherwise;
    // PROJ's messages start with the function that failed: "proj_create: ...".
    if (why.starts_with("proj_")) {
      if (std::size_t colon = why.find(": "); colon != std::string::npos) why.erase(0, colon + 2);
    }
    return why;
  }

 private:
  PJ_CONTEXT* ctx_;
  std::string message_;
};

struct DropPj {
  void operator()(PJ* pj) const noexcept { proj_destroy(pj); }
};
using Pj = std::unique_ptr<PJ, DropPj>;

// The text without the white space around it and a byte order mark before it.
std::string_view trimmed(std::string_view text) {
  if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);
  constexpr std::string_view kSpace = " \t\r\n\f\v";
  std::size_t first = text.find_first_not_of(kSpace);
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(kSpace) - first + 1);
}

// The text quoted for a message, cut after 60 bytes (between whole UTF-8 characters).
std::string shown(std::string_view text) {
  constexpr std::size_t kShown = 60;
  if (text.size() <= kShown) return "\"" + std::string(text) + "\"";
  std::size_t end = kShown;
  while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
  return "\"" + std::string(text.substr(0, end)) + "...\"";
}

// The system as PROJ reads `text`; throws CrsError.
Pj create(const Context& context, std::string_view given) {
  std::string text(trimmed(given));
  if (text.empty()) throw CrsError("the coordinate reference system is empty text");
  if (text.find('\0') != std::string::npos) {
    throw CrsError("the coordinate reference system's text holds a NUL character");
  }
  Pj pj(proj_create(context.get(), text.c_str()));
  if (!pj) {
    throw CrsError("PROJ reads no coordinate reference system in " + shown(text) + ": " +
                   context.reason("unknown text"));
  }
  if (!proj_is_crs(pj.get())) {
    throw CrsError(shown(text) + " is no coordinate reference system but a " +
                   "coordinate operation or another object");
  }
  return pj;
}

std::optional<std::string> asWkt(const Context& context, PJ* pj, PJ_WKT_TYPE type) {
  const char* const options[] = {"MULTILINE=NO", nullptr};
  const char* wkt = proj_as_wkt(context.get(), pj, type, options);
  return wkt ? std::optional<std::string>(wkt) : std::nullopt;
}

// "AUTHORITY:CODE" of the object's own first identifier.
std::optional<std::string> ownCode(PJ* pj) {
  const char* authority = proj_get_id_auth_name(pj, 0);
  const char* code = proj_get_id_code(pj, 0);
  if (authority == nullptr || code == nullptr) return std::nullopt;
  return std::string(authority) + ":" + code;
}

// The EPSG code PROJ finds the system to be, the best of its candidates, when it is sure enough.
std::optional<std::string> identified(const Context& context, PJ* pj) {
  int* confidences = nullptr;
  PJ_OBJ_LIST* list = proj_identify(context.get(), pj, "EPSG", nullptr, &confidences);
  std::optional<std::string> code;
  if (list != nullptr && proj_list_get_count(list) > 0 && confidences[0] >= Crs::kIdentified) {
    Pj best(proj_list_get(context.get(), list, 0));
    if (best) code = ownCode(best.get());
  }
  proj_int_list_destroy(confidences);
  proj_list_destroy(list);
  return code;
}

}  // namespace

Crs Crs::parse(std::string_view text) {
  Context context;
  Pj pj = create(context, text);
  Crs crs;
  const char* name = proj_get_name(pj.get());
  crs.name_ = name ? name : "unnamed";
  crs.code_ = ownCode(pj.get());
  if (!crs.code_) crs.code_ = identified(context, pj.get());
  crs.esriWkt_ = asWkt(context, pj.get(), PJ_WKT1_ESRI);
  std::optional<std::string> wkt2 = asWkt(context, pj.get(), PJ_WKT2_2019);
  const char* const options[] = {"MULTILINE=NO", nullptr};
  const char* json = proj_as_projjson(context.get(), pj.get(), options);
  if (!wkt2 || json == nullptr) {
    throw CrsError("PROJ cannot describe the coordinate reference system " + crs.name_ + ": " +
                   context.reason("unknown reason"));
  }
  crs.wkt2_ = std::move(*wkt2);
  crs.projJson_ = json;
  Pj wgs84(proj_create(context.get(), "EPSG:4326"));
  crs.wgs84_ = wgs84 && proj_is_equivalent_to_with_ctx(context.get(), pj.get(), wgs84.get(),
                                                        PJ_COMP_EQUIVALENT_EXCEPT_AXIS_ORDER_GEOGCRS);
  return crs;
}

std::optional<std::string> Crs::urn() const {
  if (!code_) return std::nullopt;
  std::size_t colon = code_->find(':');
  std::string authority = code_->substr(0, colon), code = code_->substr(colon + 1);
  // OGC's own systems (CRS84) carry the version of the register that defines them.
  return "urn:ogc:def:crs:" + authority + (authority == "OGC" ? ":1.3:" : "::") + code;
}

std::string Crs::esriWkt() const {
  if (!esriWkt_) {
    throw CrsError("the coordinate reference system " + name_ +
                   " has no ESRI WKT1 form, which a .prj file needs");
  }
  return *esriWkt_;
}

struct Transformer::State {
  Context context;
  Pj operation;
};

Transformer::Transformer(const Crs& from, const Crs& to) : state_(std::make_unique<State>()) {
  const Context& context = state_->context;
  Pj source = create(context, from.projJson()), target = create(context, to.projJson());
  Pj operation(
      proj_create_crs_to_crs_from_pj(context.get(), source.get(), target.get(), nullptr, nullptr));
  if (!operation) {
    throw CrsError("PROJ knows no way from " + from.name() + " to " + to.name() + ": " +
                   context.reason("no coordinate operation"));
  }
  state_->operation.reset(proj_normalize_for_visualization(context.get(), operation.get()));
  if (!state_->operation) {
    throw CrsError("PROJ cannot put the axes of " + from.name() + " and " + to.name() +
                   " in longitude, latitude order: " + context.reason("unknown reason"));
  }
}

Transformer::~Transformer() = default;
Transformer::Transformer(Transformer&&) noexcept = default;
Transformer& Transformer::operator=(Transformer&&) noexcept = default;

void Transformer::transform(double* x, double* y, std::size_t count, std::size_t stride) {
  PJ* operation = state_->operation.get();
  proj_errno_reset(operation);
  const std::size_t bytes = stride * sizeof(double);
  proj_trans_generic(operation, PJ_FWD, x, bytes, count, y, bytes, count, nullptr, 0, 0, nullptr,
                     0, 0);
  for (std::size_t i = 0; i < count; ++i) {
    if (!std::isfinite(x[i * stride]) || !std::isfinite(y[i * stride])) {
      throw CrsError("point " + std::to_string(i + 1) + " of " + std::to_string(count) +
                     " cannot be transformed: " +
                     state_->context.reason("it lies outside the systems' reach"));
    }
  }
}

}  // namespace kel::crs
