#pragma once

#include <cstdint>
#include <exception>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "kel/format/Reporter.h"
#include "kel/geometry/ShapeObject.h"

// The object model's write driver, private to the shapefile layer: Shapefile::writeShapefile and
// replaceShapefile (ShapefileAtPath.h) run one for each call. It keeps its working state to
// itself and changes the model only through its public members: it sets the whole-file extents
// when they are all zero, a shape's extents when its box is all zero, completes the records
// against the columns, sizes width-0 columns and gives a table without columns one blank column.
// Of the failures it meets it keeps the first: the file it concerned, what was being done and the
// error's text.
namespace kel {

class FileChannel;
class Shapefile;

class WriteDriver {
 public:
  explicit WriteDriver(Shapefile& file) : file_(file) {}

  // Deletes the files basepath + filename, makes them anew and writes them; true when all three
  // were written. Writes the normalised strings back. Raises nothing.
  bool write(std::u16string& basepath, std::u16string& filename);

  // The steps of a write after its files are open and empty, in the order they run: the file's
  // extents, the headers, the records and the table; false on a failure, which noteFailure keeps.
  // write runs them on the files it made, replaceShapefile on new files under temporary names.
  bool writeFiles(FileChannel& shp, FileChannel& shx, FileChannel& dbf);

  // Keeps the first failure that a write caught: the file it concerned (its extension), what was
  // being done and the error's text.
  void noteFailure(std::u16string_view extension, std::string_view doing,
                   const std::exception& e) noexcept;

  struct Caught {
    std::u16string_view extension;
    std::string sentence;
    std::int32_t number = 0;  // the error's number
  };
  // The first failure kept, if any.
  const std::optional<Caught>& caught() const noexcept { return caught_; }

  // The reason of a failed write on the files basepath + filename; none when memory runs out on
  // the way to it.
  std::optional<format::Finding> reason(const std::u16string& basepath,
                                        const std::u16string& filename) const noexcept;

 private:
  // The extents of one shape's vertices, as its computeExtents would find them. The walk that
  // computes the file's extents finds them on the way, which spares a shape whose box is unset a
  // second walk of its vertices.
  struct VertexExtents {
    double xMin, yMin, xMax, yMax;
  };

  // perShape is empty unless the file's extents were computed.
  void computeFileExtents(std::vector<VertexExtents>& perShape);
  bool writeHeaders(FileChannel& shp, FileChannel& shx);
  bool writeShapes(FileChannel& shp, FileChannel& shx, const std::vector<VertexExtents>& perShape);
  // Gives a shape whose box is unset its extents, from `known` when the file's walk found them.
  static void setUnsetBox(ShapeObject& shape, const VertexExtents* known);
  class RecordWriter;  // ShapeWriting.cpp
  bool writeTable(FileChannel& dbf);

  Shapefile& file_;
  std::optional<Caught> caught_;
};

}  // namespace kel
