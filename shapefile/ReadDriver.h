#pragma once

#include <cstdint>
#include <exception>
#include <optional>
#include <string>
#include <string_view>

#include "kel/format/Reporter.h"
#include "kel/geometry/ShapeObject.h"
#include "kel/runtime/ChannelTable.h"
#include "kel/shapefile/FileSet.h"

// The object model's read driver, private to the shapefile layer: Shapefile::readShapefile runs
// one for each call. It keeps its working state to itself and tells a reporter what it finds as
// it reads, each finding with its file, offset and record:
// - an Error where it refuses the files, and stops: a missing file, a main or index header it
//   cannot take, records it cannot read one behind the other (a null shape, a type it does not
//   read, too many points or parts, fields past the end), 32,767 shapes or more, a table whose row
//   count differs from the shape count, whose descriptors never end or whose rows are missing,
//   more than 32,767 columns, and a file the system fails to open or read;
// - an Irregularity where it reads bytes otherwise than the format has them: part starts,
//   records that are not back to back, a type it reads no shapes of, column type letters, a
//   header or record length of the table that it does not follow.
// The read fails exactly when an error is reported; the first one is its reason.
namespace kel {

class Shapefile;

class ReadDriver {
 public:
  ReadDriver(Shapefile& file, format::Reporter& reporter) : file_(file), reporter_(reporter) {}

  // Appends the shapes and columns of the files basepath + filename to the model; true when all
  // three were read. Writes the normalised strings back. Raises nothing.
  bool read(std::u16string& basepath, std::u16string& filename);

 private:
  // The steps, in the order they run; each reports its own failure.
  bool readHeaders();
  bool readShapes();
  bool readTable();
  // One record: its shape, or none when the read stops there (which was reported).
  Ref<ShapeObject> readShape(FileChannel& shp, std::int32_t record, ObjectArena& arena);
  void readPartStarts(FileChannel& shp, ShapeObject& shape, std::int64_t partCountAt,
                      std::int32_t record, std::int64_t parts);
  // The file types that have a record reader; any other reads no records at all.
  static bool hasReader(std::int32_t type);
  // A shape type's name, or its number when it is none of the format's.
  static std::string typeName(std::int32_t code);

  // The paths of the member files as findings name them, and the path of one.
  void namePaths(const std::u16string& stem);
  const std::string& pathOf(std::u16string_view extension) const;
  void tell(format::Severity severity, std::u16string_view extension, std::int64_t offset,
            std::int64_t record, std::string sentence);
  // An error that ends the read; false, for the step to return.
  bool refuse(std::u16string_view extension, std::int64_t offset, std::int64_t record,
              std::string sentence);
  // The error of a failure the bytes do not explain (the system's, or memory's): what was being
  // done and the error's text, on the whole file.
  bool caught(std::u16string_view extension, std::string_view doing, const std::exception& e);
  // A refusal of record `record` at `offset`, unless an earlier record's length made the read
  // take the wrong bytes: then that record is blamed.
  bool refuseRecord(std::int64_t offset, std::int64_t record, std::string sentence);
  std::string backToBack() const;

  Shapefile& file_;
  format::Reporter& reporter_;
  ChannelTable channels_;  // closes whatever is still open when the driver goes
  FileSetChannels set_;
  std::string paths_[3];  // .shp, .shx, .dbf

  std::int32_t announced_ = 0;   // the records that the index file's length counts
  std::int32_t type_ = 0;        // the type whose reader takes the next record
  std::int32_t headerType_ = 0;  // the main header's shape type
  // The first record whose content length is not the length of its fields, when another follows.
  struct Divergence {
    std::int64_t record, at, claimed, fields;
  };
  std::optional<Divergence> diverged_;
};

}  // namespace kel
