// The three files of a shapefile as both drivers open and close them, and the reason of a call
// that failed.

#include <exception>
#include <new>

#include "kel/runtime/Checked.h"
#include "kel/runtime/FileSystem.h"
#include "kel/runtime/Text.h"
#include "kel/shapefile/DriverState.h"
#include "kel/shapefile/ReadContract.h"
#include "kel/shapefile/Shapefile.h"

namespace kel {

namespace {

constexpr std::u16string_view kExtensions[] = {u".shp", u".shx", u".dbf"};

}  // namespace

void Shapefile::openFileSet(ChannelTable& channels, const std::u16string& stem, LinkRule links) {
  std::int32_t* numbers[] = {&driver_->shpChannel_, &driver_->shxChannel_, &driver_->dbfChannel_};
  for (int i = 0; i < 3; ++i) {
    try {
      // Each free number is asked for after the previous file was opened, so the three differ.
      *numbers[i] = channels.freeFile();
      channels.open(toInt16(std::int64_t{*numbers[i]}), stem + std::u16string(kExtensions[i]),
                    links);
    } catch (const std::exception& e) {
      noteFailure(kExtensions[i],
                  links == LinkRule::Follow ? "cannot be opened for reading and writing"
                                            : "cannot be opened for writing",
                  e, true);
      throw;
    }
  }
}

void Shapefile::closeFileSet(ChannelTable& channels) {
  const std::int32_t numbers[] = {driver_->shpChannel_, driver_->shxChannel_, driver_->dbfChannel_};
  for (int i = 0; i < 3; ++i) {
    try {
      channels.close(toInt16(std::int64_t{numbers[i]}));
    } catch (const std::exception& e) {
      noteFailure(kExtensions[i], "cannot be closed", e);
      throw;
    }
  }
}

void Shapefile::abandonFileSet(ChannelTable& channels) noexcept {
  for (std::int32_t channel : {driver_->shpChannel_, driver_->shxChannel_, driver_->dbfChannel_}) {
    try {
      channels.close(toInt16(std::int64_t{channel}));
    } catch (const std::exception&) {
      // The failure path reports false whatever a close says.
    }
  }
}

void Shapefile::noteFailure(std::u16string_view extension, std::string_view doing,
                            const std::exception& e, bool beforeReading) noexcept {
  if (caught_) return;
  try {
    const auto* error = dynamic_cast<const Error*>(&e);
    std::int32_t number = error != nullptr ? error->number()
                          : dynamic_cast<const std::bad_alloc*>(&e) != nullptr
                              ? static_cast<std::int32_t>(ErrorNumber::OutOfMemory)
                              : static_cast<std::int32_t>(ErrorNumber::InvalidProcedureCall);
    caught_ = Caught{extension, std::string(doing) + ": " + e.what(), number, beforeReading};
  } catch (const std::exception&) {
    // Out of memory: the call fails without a reason.
  }
}

void Shapefile::explainFailure(const std::u16string& basepath, const std::u16string& filename,
                               const std::int32_t* heldBeforeRead) noexcept {
  lastFailure_.reset();
  try {
    if (heldBeforeRead != nullptr && !(caught_ && caught_->beforeReading)) {
      format::FirstErrorReporter first;
      checkReadContract(basepath, filename, first, *heldBeforeRead);
      if (first.error) {
        lastFailure_ = std::move(first.error);
        return;
      }
    }
    std::u16string path =
        basepath + filename + std::u16string(caught_ ? caught_->extension : u".shp");
    format::Finding f;
    try {
      f.file = nativePath(path);
    } catch (const std::exception&) {
      f.file = toUtf8(path);  // a name with a NUL character in it
    }
    f.sentence = caught_ ? caught_->sentence
                         : "the call failed, and neither the files nor the system say why";
    lastFailure_ = std::move(f);
  } catch (const std::exception&) {
    // Out of memory: the call fails without a reason.
  }
}

}  // namespace kel
