#include "kel/archive/Zip.h"

#include <zip.h>

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "kel/format/LayerFiles.h"
#include "kel/format/LayerWriter.h"
#include "kel/runtime/ReadOnlyFile.h"
#include "kel/runtime/Text.h"

namespace kel::archive {

const bool kAvailable = true;
const char* const kUnavailable = "";

namespace {

using format::Severity;

struct Discard {
  void operator()(zip_t* z) const { zip_discard(z); }
};
struct CloseFile {
  void operator()(zip_file_t* f) const { zip_fclose(f); }
};

// Whether a member's name would lead out of the archive's folder when unpacked: absolute, with a
// drive, or through "..".
bool climbsOut(std::string_view name) {
  if (name.empty() || name[0] == '/' || name[0] == '\\') return true;
  if (name.size() >= 2 && name[1] == ':') return true;
  std::size_t start = 0;
  while (start <= name.size()) {
    std::size_t end = name.find_first_of("/\\", start);
    if (end == std::string_view::npos) end = name.size();
    if (name.substr(start, end - start) == "..") return true;
    start = end + 1;
  }
  return false;
}

bool equalIgnoringCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && asciiUpper(a) == asciiUpper(b);
}

// An archive open for reading, its members' names and what is said of it.
class OpenArchive {
 public:
  OpenArchive(const ArchivePath& where, format::Reporter& reporter)
      : where_(where), reporter_(reporter) {}

  bool open() {
    std::error_code error;
    if (!std::filesystem::exists(where_.archive, error)) {
      reporter_.report({Severity::Error, where_.archive, -1, -1, "no such file", true});
      return false;
    }
    if (!std::filesystem::is_regular_file(where_.archive, error)) {
      return fail("not a regular file");
    }
    int code = 0;
    zip_.reset(zip_open(where_.archive.c_str(), ZIP_RDONLY | ZIP_CHECKCONS, &code));
    if (!zip_) {
      zip_error_t why;
      zip_error_init_with_code(&why, code);
      std::string sentence = zip_error_strerror(&why);
      zip_error_fini(&why);
      return fail("cannot be read as a zip archive: " + sentence);
    }
    zip_int64_t n = zip_get_num_entries(zip_.get(), 0);
    for (zip_int64_t i = 0; i < n; ++i) {
      const char* name = zip_get_name(zip_.get(), static_cast<zip_uint64_t>(i), ZIP_FL_ENC_GUESS);
      names_.push_back(name != nullptr ? name : "");
    }
    return true;
  }

  // The main file's member: the one named, or the archive's one layer.
  std::optional<std::size_t> mainFile() {
    if (where_.member.empty()) {
      std::vector<std::size_t> layers;
      for (std::size_t i = 0; i < names_.size(); ++i) {
        // macOS's archiver adds a resource fork "__MACOSX/._x.shp" beside each file: no layer.
        if (format::LayerFiles::endsInShp(names_[i]) && !names_[i].starts_with("__MACOSX/")) {
          layers.push_back(i);
        }
      }
      if (layers.empty()) return none("the archive holds no shapefile layer");
      if (layers.size() > 1) {
        std::string listed;
        for (std::size_t i : layers) listed += (listed.empty() ? "" : ", ") + names_[i];
        return none("the archive holds " + std::to_string(layers.size()) + " layers (" + listed +
                    "): name one, as " + where_.archive + "/" + names_[layers.front()]);
      }
      return layers.front();
    }
    if (climbsOut(where_.member)) {
      return none(where_.member + ": the name climbs out of the archive");
    }
    std::string wanted = where_.member;
    if (!format::LayerFiles::endsInShp(wanted)) wanted += ".shp";
    std::optional<std::size_t> found = find(wanted, {});
    if (!found) {
      reporter_.report({Severity::Error, memberPath(wanted), -1, -1,
                        "no such layer in the archive", true});
    }
    return found;
  }

  // The member named so, else the one that matches it letter case aside; none when there is no
  // such member or two match it (`ambiguous` is told of the latter).
  std::optional<std::size_t> find(const std::string& name, std::string* ambiguous) {
    auto exact = std::find(names_.begin(), names_.end(), name);
    if (exact != names_.end()) return static_cast<std::size_t>(exact - names_.begin());
    std::optional<std::size_t> match;
    for (std::size_t i = 0; i < names_.size(); ++i) {
      if (!equalIgnoringCase(names_[i], name)) continue;
      if (match) {
        if (ambiguous) {
          *ambiguous = "both " + names_[*match] + " and " + names_[i] +
                       " match it letter case aside: which one is meant is not clear";
        }
        return std::nullopt;
      }
      match = i;
    }
    return match;
  }

  // The member's bytes as a file in memory; null, and the reporter told why, when it is refused.
  std::unique_ptr<ReadOnlyFile> read(std::size_t index) {
    const std::string& name = names_[index];
    const std::string path = memberPath(name);
    auto refuse = [&](const std::string& sentence) {
      reporter_.report({Severity::Error, path, -1, -1, sentence});
      return nullptr;
    };
    if (climbsOut(name)) return refuse("the name climbs out of the archive");
    zip_stat_t st;
    zip_stat_init(&st);
    if (zip_stat_index(zip_.get(), index, 0, &st) != 0) {
      return refuse(std::string("cannot be read: ") + zip_strerror(zip_.get()));
    }
    if ((st.valid & ZIP_STAT_ENCRYPTION_METHOD) && st.encryption_method != ZIP_EM_NONE) {
      return refuse("the member is encrypted, which is not read");
    }
    const std::int64_t stated = static_cast<std::int64_t>(st.size);
    const std::int64_t packed = static_cast<std::int64_t>(st.comp_size);
    if (!(st.valid & ZIP_STAT_SIZE) || stated > kMemberLimit) {
      return refuse("the member states a size of " + std::to_string(stated) +
                    " bytes, more than the " + std::to_string(kMemberLimit) +
                    " a member may take in memory");
    }
    if (stated > kRatioFloor && stated / kRatioLimit > packed) {
      return refuse("the member states " + std::to_string(stated) + " bytes from " +
                    std::to_string(packed) + " compressed, more than " +
                    std::to_string(kRatioLimit) + " to 1: a zip bomb");
    }
    std::unique_ptr<zip_file_t, CloseFile> file(zip_fopen_index(zip_.get(), index, 0));
    if (!file) return refuse(std::string("cannot be read: ") + zip_strerror(zip_.get()));
    // One byte more than stated is asked for: a member that gives it holds more than it says.
    auto bytes = std::make_shared<std::string>(static_cast<std::size_t>(stated) + 1, '\0');
    std::size_t got = 0;
    while (got < bytes->size()) {
      zip_int64_t r = zip_fread(file.get(), bytes->data() + got, bytes->size() - got);
      if (r < 0) return refuse(std::string("cannot be read: ") + zip_file_strerror(file.get()));
      if (r == 0) break;
      got += static_cast<std::size_t>(r);
    }
    if (got > static_cast<std::size_t>(stated)) {
      return refuse("the member inflates to more than the " + std::to_string(stated) +
                    " bytes it states: a zip bomb");
    }
    if (got < static_cast<std::size_t>(stated)) {
      return refuse("the member ends after " + std::to_string(got) + " of the " +
                    std::to_string(stated) + " bytes it states");
    }
    bytes->resize(got);
    return ReadOnlyFile::inMemory(std::move(bytes));
  }

  // The layer's files in the archive, read; false when one is refused.
  bool sources(std::size_t shp, format::LayerSources& out) {
    const std::string& main = names_[shp];
    const format::LayerFiles files = format::LayerFiles::of(main);
    out.shp = {memberPath(main), read(shp)};
    if (!out.shp.file) return false;
    const std::pair<const char*, format::LayerSources::Source*> companions[] = {
        {".shx", &out.shx}, {".dbf", &out.dbf}, {".prj", &out.prj}, {".cpg", &out.cpg}};
    for (const auto& companion : companions) {
      const std::string ext = companion.first;
      format::LayerSources::Source& source = *companion.second;
      std::string ambiguous;
      std::optional<std::size_t> found = find(files.path(ext), &ambiguous);
      if (!found) found = find(files.path(ext, true), nullptr);
      source.name = memberPath(found ? names_[*found] : files.path(ext));
      if (!ambiguous.empty()) return fail(ambiguous);
      if (!found) continue;
      source.file = read(*found);
      if (!source.file) return false;
    }
    return true;
  }

 private:
  std::string memberPath(const std::string& name) const { return where_.archive + "/" + name; }
  bool fail(const std::string& sentence) {
    reporter_.report({Severity::Error, where_.archive, -1, -1, sentence});
    return false;
  }
  std::optional<std::size_t> none(const std::string& sentence) {
    fail(sentence);
    return std::nullopt;
  }

  ArchivePath where_;
  format::Reporter& reporter_;
  std::unique_ptr<zip_t, Discard> zip_;
  std::vector<std::string> names_;
};

}  // namespace

std::unique_ptr<format::Layer> openInArchive(const ArchivePath& where, format::Reporter& reporter,
                                             const format::OpenOptions& options) {
  OpenArchive archive(where, reporter);
  if (!archive.open()) return nullptr;
  std::optional<std::size_t> main = archive.mainFile();
  if (!main) return nullptr;
  format::LayerSources sources;
  if (!archive.sources(*main, sources)) return nullptr;
  return format::Layer::open(std::move(sources), reporter, options);
}

void pack(const std::string& path, const std::vector<std::pair<std::string, std::string>>& files) {
  auto refuse = [&](const std::string& sentence) {
    throw format::WriteError({Severity::Error, path, -1, -1, sentence});
  };
  int code = 0;
  std::unique_ptr<zip_t, Discard> zip(zip_open(path.c_str(), ZIP_CREATE | ZIP_EXCL, &code));
  if (!zip) {
    zip_error_t why;
    zip_error_init_with_code(&why, code);
    std::string sentence = zip_error_strerror(&why);
    zip_error_fini(&why);
    refuse("the archive cannot be made: " + sentence);
  }
  for (const auto& [name, file] : files) {
    zip_source_t* source = zip_source_file(zip.get(), file.c_str(), 0, -1);
    zip_int64_t index = source == nullptr ? -1
                                          : zip_file_add(zip.get(), name.c_str(), source,
                                                         ZIP_FL_ENC_UTF_8 | ZIP_FL_OVERWRITE);
    if (index < 0) {
      if (source != nullptr) zip_source_free(source);
      refuse(name + " cannot be added to the archive: " + zip_strerror(zip.get()));
    }
    zip_set_file_compression(zip.get(), static_cast<zip_uint64_t>(index), ZIP_CM_DEFLATE, 0);
  }
  if (zip_close(zip.get()) != 0) {
    refuse(std::string("the archive cannot be written: ") + zip_strerror(zip.get()));
  }
  zip.release();  // zip_close freed it
}

}  // namespace kel::archive
