#include "kel/archive/Archive.h"

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <random>
#include <system_error>

#include "kel/archive/Zip.h"
#include "kel/format/LayerWriter.h"
#include "kel/runtime/Text.h"

namespace kel::archive {

namespace fs = std::filesystem;

bool endsInZip(std::string_view path) {
  return path.size() > 4 && asciiUpper(path.substr(path.size() - 4)) == ".ZIP";
}

std::optional<ArchivePath> archiveOf(std::string_view path) {
  for (std::size_t end = path.find('/'); ; end = path.find('/', end + 1)) {
    std::string_view head = path.substr(0, end);
    std::error_code error;
    if (endsInZip(head) && !fs::is_directory(fs::path(head), error)) {
      std::string member = end == std::string_view::npos ? "" : std::string(path.substr(end + 1));
      return ArchivePath{std::string(head), member};
    }
    if (end == std::string_view::npos) return std::nullopt;
  }
}

std::unique_ptr<format::Layer> openLayer(std::string_view path, format::Reporter& reporter,
                                         const format::OpenOptions& options) {
  if (std::optional<ArchivePath> inside = archiveOf(path)) {
    return openInArchive(*inside, reporter, options);
  }
  return format::Layer::open(path, reporter, options);
}

namespace {

// A name beside `near` that no one else takes: "<near>.kel-<random>".
std::string freshName(const std::string& near) {
  static std::atomic<unsigned> counter{0};
  std::random_device random;
  return near + ".kel-" + std::to_string(random()) + "-" + std::to_string(++counter);
}

[[noreturn]] void refuse(const std::string& file, const std::string& sentence) {
  throw format::WriteError({format::Severity::Error, file, -1, -1, sentence});
}

}  // namespace

ArchiveDraft::ArchiveDraft(std::string zipPath) : zipPath_(std::move(zipPath)) {
  if (!kAvailable) refuse(zipPath_, kUnavailable);
  std::error_code error;
  for (int attempt = 0; directory_.empty(); ++attempt) {
    std::string candidate = freshName(zipPath_);
    if (fs::create_directory(candidate, error)) directory_ = candidate;
    if (error || attempt == 100) {
      refuse(zipPath_, "no directory can be made beside it for the layer to be packed: " +
                           (error ? error.message() : "every name is taken"));
    }
  }
  std::string name = fs::path(zipPath_).filename().string();
  layerPath_ = directory_ + "/" + name.substr(0, name.size() - 4) + ".shp";
}

ArchiveDraft::~ArchiveDraft() {
  std::error_code error;
  fs::remove_all(directory_, error);
}

void ArchiveDraft::commit() {
  // Every file written in the directory: the layer's, or the layers' when there are several.
  std::vector<std::pair<std::string, std::string>> members;
  std::error_code error;
  for (const fs::directory_entry& entry : fs::directory_iterator(directory_, error)) {
    if (entry.is_regular_file(error)) {
      members.emplace_back(entry.path().filename().string(), entry.path().string());
    }
  }
  if (error) refuse(directory_, "the layer's files cannot be listed: " + error.message());
  std::sort(members.begin(), members.end());
  const std::string packed = freshName(zipPath_);
  try {
    pack(packed, members);
  } catch (...) {
    std::error_code error;
    fs::remove(packed, error);
    throw;
  }
  fs::rename(packed, zipPath_, error);
  if (error) {
    fs::remove(packed, error);
    refuse(zipPath_, "the new archive cannot be put in place: " + error.message());
  }
}

}  // namespace kel::archive
