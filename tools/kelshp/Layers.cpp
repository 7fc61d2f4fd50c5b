#include "Layers.h"

#include "Output.h"

namespace kelshp {

namespace format = kel::format;

Warnings::~Warnings() {
  if (errors_ > kShown) warn("and " + std::to_string(errors_ - kShown) + " more errors");
}

void Warnings::report(const format::Finding& finding) {
  // Besides the errors, a missing companion file: what the output lacks for it.
  if (finding.severity != format::Severity::Error) {
    if (finding.missingFile) warn(format::describe(finding));
    return;
  }
  lastError_ = finding;
  if (++errors_ <= kShown) warn(format::describe(finding));
}

std::unique_ptr<format::Layer> openLayer(const ShapefilePath& path, Warnings& warnings) {
  return format::Layer::open(path.stem, warnings);
}

std::string layerTypeName(std::int32_t code) {
  std::optional<format::ShapeTypeTraits> traits = format::traitsOf(code);
  return (traits ? std::string(traits->name) : "unknown") + " (" + std::to_string(code) + ")";
}

}  // namespace kelshp
