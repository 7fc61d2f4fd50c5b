#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "Tool.h"
#include "kel/format/Layer.h"

// The commands that read a layer and nothing else read it through the format engine, which takes
// every shape type, any number of records and read-only files.
namespace kelshp {

// Tells the user of the errors a reading command meets on its way, the first few one line each,
// and then how many more there were: a layer that cannot be opened at all is one such line. A
// missing index or table is told too, since the output lacks what it would have given.
// So is an encoding guessed, on which the text of the output rests. Irregularities are otherwise
// told only to a command that writes what it read, whose output differs from its input there;
// they and the notes are otherwise `check`'s business.
class Warnings final : public kel::format::Reporter {
 public:
  static constexpr int kShown = 10;
  explicit Warnings(bool irregularities = false) : irregularities_(irregularities) {}
  ~Warnings() override;
  void report(const kel::format::Finding& finding) override;
  int errors() const { return errors_; }
  // The last error, for a feature that says why it has no geometry.
  const std::optional<kel::format::Finding>& lastError() const { return lastError_; }

 private:
  bool irregularities_;
  int errors_ = 0, told_ = 0, untold_ = 0;
  std::optional<kel::format::Finding> lastError_;
};

// The option of every command that reads a layer, and what its help says of it.
constexpr OptionSpec kEncodingOption{"encoding", 0, true};
constexpr const char* kEncodingHelp =
    "\n"
    "--encoding NAME reads the table's text in NAME (UTF-8, CP1252, CP850, ISO-8859-1,\n"
    "any name iconv knows), whatever its .cpg file or language driver mark says.\n"
    "Without it, a table that declares no encoding is read in the one its text looks\n"
    "like, UTF-8, else Windows-1252, DOS 850 or DOS 437, and a warning names the guess,\n"
    "whichever it is; text all ASCII needs none.\n";

// How the arguments ask a layer to be read: the encoding --encoding names, checked; UsageError
// for a name that no table's text can be read in.
kel::format::OpenOptions openOptions(const Arguments& arguments);

// Opens the layer that the path names, in a zip archive or not; null when it cannot be read,
// which the warnings told.
std::unique_ptr<kel::format::Layer> openLayer(const ShapefilePath& path, Warnings& warnings,
                                              const kel::format::OpenOptions& options = {});

// "PolyLineZ (13)", or "unknown (7)" for a code that names no type.
std::string layerTypeName(std::int32_t code);

}  // namespace kelshp
