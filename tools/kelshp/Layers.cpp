#include "Layers.h"

#include "Output.h"
#include "kel/archive/Archive.h"
#include "kel/format/Encoding.h"
#include "kel/runtime/Transcoder.h"

namespace kelshp {

namespace format = kel::format;

Warnings::~Warnings() {
  if (untold_ > 0) {
    warn("and " + std::to_string(untold_) + " more " +
         (irregularities_ ? "errors and irregularities" : "errors"));
  }
}

void Warnings::report(const format::Finding& finding) {
  // Besides the errors, a missing companion file: what the output lacks for it.
  if (finding.severity == format::Severity::Error) {
    lastError_ = finding;
    ++errors_;
  } else if (finding.missingFile || finding.guess) {
    warn(format::describe(finding));
    return;
  } else if (finding.severity != format::Severity::Irregularity || !irregularities_) {
    return;
  }
  if (++told_ <= kShown) {
    warn(format::describe(finding));
  } else {
    ++untold_;
  }
}

format::OpenOptions openOptions(const Arguments& arguments) {
  format::OpenOptions options;
  if (!arguments.has("encoding")) return options;
  const std::string& name = arguments.given.at("encoding");
  options.encoding = kel::encodingName(name);
  if (!kel::Transcoder::open(options.encoding)) {
    throw UsageError("--encoding " + visible(name) + ": no such encoding is known here");
  }
  if (!format::extendsAscii(options.encoding)) {
    throw UsageError("--encoding " + visible(name) +
                     ": does not write ASCII as ASCII, as a table's headers are");
  }
  return options;
}

std::unique_ptr<format::Layer> openLayer(const ShapefilePath& path, Warnings& warnings,
                                         const format::OpenOptions& options) {
  return kel::archive::openLayer(path.stem, warnings, options);
}

std::string layerTypeName(std::int32_t code) {
  std::optional<format::ShapeTypeTraits> traits = format::traitsOf(code);
  return (traits ? std::string(traits->name) : "unknown") + " (" + std::to_string(code) + ")";
}

}  // namespace kelshp
