#include "kel/archive/Zip.h"
#include "kel/format/LayerWriter.h"

namespace kel::archive {

const bool kAvailable = false;
const char* const kUnavailable =
    "zip archives need libzip, and this build of kelShapeLib was made without it";

std::unique_ptr<format::Layer> openInArchive(const ArchivePath& where, format::Reporter& reporter,
                                             const format::OpenOptions&) {
  reporter.report({format::Severity::Error, where.archive, -1, -1, kUnavailable});
  return nullptr;
}

void pack(const std::string& path, const std::vector<std::pair<std::string, std::string>>&) {
  throw format::WriteError({format::Severity::Error, path, -1, -1, kUnavailable});
}

}  // namespace kel::archive
