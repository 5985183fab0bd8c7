// The encodings .reg files come in, and the text form of their hex text data, through ICU.
#pragma once

#include "vlx/formats/reg_file.h"

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace vlx::cli {

// The UTF-8 text of a .reg file: UTF-16LE after its byte-order mark, UTF-8 with or without one,
// or, for a REGEDIT4 file whose bytes are not UTF-8, Windows-1252. Lines keep their numbers.
// False with the line and the reason when the bytes are not text in the form found.
bool decodeRegFile(std::string_view bytes, std::string &text, int &errorLine, std::string &error);

// A .reg file read in pieces that each end before a key line ("[..."), decoded as decodeRegFile
// decodes the whole file, so that reading it takes memory for one piece whatever its size.
class RegFilePieces {
public:
  explicit RegFilePieces(std::string file, size_t maxPiece = kMaxPieceBytes)
      : file_(std::move(file)), maxPiece_(maxPiece) {}

  // Calls `piece` with each piece's UTF-8 text and the number of its first line, from the start
  // of the file. The first piece starts with the header line. Throws Failure "FILE:LINE: why",
  // and "FILE: ..." for what is not a regular file, or one whose bytes differ from an earlier
  // read's (after its last piece: a caller in a transaction undoes what the pieces did).
  // `progress` (when set) is called with the bytes read so far after each piece.
  void read(const std::function<void(std::string_view text, int firstLine)> &piece,
            const std::function<void(uint64_t bytes)> &progress = nullptr);

  // Pieces hold about this many bytes, more when one key section is larger.
  static constexpr size_t kPieceBytes = size_t{1} << 20;
  // A key section may not be longer: the hex text of the largest value fits.
  static constexpr size_t kMaxPieceBytes = size_t{1} << 30;

private:
  enum class Encoding { Unknown, Utf8, Ansi, Utf16 };
  bool readAs(Encoding encoding,
              const std::function<void(std::string_view text, int firstLine)> &piece,
              const std::function<void(uint64_t bytes)> &progress, int &errorLine);

  std::string file_;
  size_t maxPiece_;
  bool read_ = false; // a read went to the end, and these are what it found
  uint64_t size_ = 0, digest_ = 0;
  Encoding encoding_ = Encoding::Unknown; // settled by the first read to the end
  bool ansiAllowed_ = false;              // an unmarked REGEDIT4 file
};

// UTF-8 .reg text as regedit writes version 5 files: byte-order mark, UTF-16LE, CRLF line ends.
std::string unicodeRegFile(std::string_view text);

// Hex data of a text type as a file holds it, turned into the store's UTF-8 in place: UTF-16LE
// in version 5 files; in REGEDIT4 files UTF-8 as it stands, else the ANSI code page
// (Windows-1252). False when it is no text in that form.
bool readHexText(reg::Format format, std::string &data);

// Store text as a version 5 file's hex data holds it (UTF-16LE); the text must be UTF-8.
std::string utf16Hex(std::string_view text);

// Whether `text` is valid UTF-8, which every text an exported file holds must be to read back.
bool isUtf8(std::string_view text);

} // namespace vlx::cli
