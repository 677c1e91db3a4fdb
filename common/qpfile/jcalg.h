// The JCALG1 packed stream: the one compression format of QP files and of the texts the
// compiler carries packed inside itself.
//
// A stream is "JC", the unpacked size and a checksum (both 32-bit little-endian), then
// a bit stream stored as 32-bit little-endian words, read from bit 31 down. Decode reads
// any stream that the host's decoder reads; Encode writes the smallest stream it can
// find within the window it is given (an optimal parse over the format's codes).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace jcalg {

constexpr size_t kHeaderSize = 10;

// Window size of pack levels 0..9 (1024, 2048, 4096, 8192, 16384, 32768, 40960, 57344,
// 65536, 65536); 0 for other levels.
uint32_t WindowForLevel(int level);

// The stream checksum of `size` bytes: a sum and rotate over 32-bit little-endian words;
// 0 for fewer than 4 bytes. When `size` is not a multiple of 4 the last word taken is
// the last four bytes (overlapping the word before it).
uint32_t Checksum(const uint8_t* data, size_t size);

// The unpacked size in a stream's header; nullopt when shorter than the header or the
// signature is not "JC".
std::optional<uint32_t> UnpackedSize(const uint8_t* in, size_t in_size);

// Decodes a stream into `out` (room for `capacity` bytes). Gives the number of bytes
// written, or 0 for a failed stream (bad signature, checksum differs, reads past the
// input, writes past capacity, copies from before the start of the output, unknown
// state).
//
// Decoding runs up to the end code; callers compare the result with the header's
// unpacked size. A literal that comes before the stream's first literal-size code is a
// failed stream (every writer starts with that code, so such a stream is damaged). A
// nonzero checksum is checked over the first unpacked-size bytes of the output; a stream
// that wrote fewer bytes than that cannot match it and fails. The bytes of `out` after
// those written may be changed too (copies move whole 8-byte pieces where the room
// allows); nothing at or past `capacity` ever is.
size_t Decode(const uint8_t* in, size_t in_size, uint8_t* out, size_t capacity);

// Encodes `size` bytes with matches reaching back at most `window` bytes. Always writes
// the checksum, starts with a literal-size code, ends with the end code and zero fill.
// Empty vector on failure (an input of 4 GiB or more, a window of 0).
//
// The result may be larger than the input: incompressible data goes into 256-byte raw
// literal blocks and grows by about 0.1% plus the header (inputs of 64 KiB or more; up
// to 255 bytes that do not fill a block take 9 bits each).
std::vector<uint8_t> Encode(const uint8_t* data, size_t size, uint32_t window);

}  // namespace jcalg
