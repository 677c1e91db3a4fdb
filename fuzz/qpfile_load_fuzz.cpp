// QpFile::Load on hostile bytes, and the chunk layout converter behind it.
//
// The first input byte picks what the rest is:
//   0: a QP file, loaded as it is (most inputs stop at the body CRC);
//   1: a QP file whose CRCs and stream checksum are first made to match, so that the
//      checks behind them (lengths, magics, the packed stream, entries, records) are
//      reached;
//   2: a Lua chunk, stored in a QP file that is written and loaded again, and converted
//      between layouts;
//   3: a QP file (checks repaired as for 1) written to disk and read with Load, which
//      reads the header first and the body only when the header allows: it must come to
//      the same result as Parse of the same bytes.
// Whatever loads must write out and load back to the same contents.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "common/qpfile/chunk_layout.h"
#include "common/qpfile/jcalg.h"
#include "common/platform/fs.h"
#include "common/qpfile/qp_file.h"

#include <zlib.h>

namespace {

uint32_t Crc(std::string_view bytes) {
  return static_cast<uint32_t>(
      crc32(0, reinterpret_cast<const Bytef*>(bytes.data()), static_cast<uInt>(bytes.size())));
}

uint32_t Get(const std::string& s, size_t at) {
  if (at + 4 > s.size()) return 0;
  uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<uint8_t>(s[at + i]);
  return v;
}

void Put(std::string& s, size_t at, uint32_t v) {
  if (at + 4 > s.size()) return;
  for (int i = 0; i < 4; ++i) s[at + i] = static_cast<char>(v >> (8 * i));
}

// Walks the file as a reader would, without checks, and rewrites every CRC (and the
// packed stream's checksum) to match what it covers. Stops where the file ends.
void RepairChecks(std::string& f) {
  if (f.size() < 48) return;
  const size_t body_end = std::min<size_t>(f.size(), 48 + size_t{Get(f, 8)});
  size_t at = 48;
  if (at + 24 <= body_end) {
    size_t name_length = Get(f, at + 4);
    size_t packed_size = Get(f, at + 8);
    size_t packed_at = at + 24 + name_length;
    if (name_length < body_end && packed_at + packed_size <= body_end && packed_size >= 10) {
      std::string stream = f.substr(packed_at, packed_size);
      stream[0] = 'J';
      stream[1] = 'C';
      // Decode without a checksum to learn the bytes, then store their checksum and CRC.
      Put(stream, 6, 0);
      uint32_t unpacked = Get(f, at + 16);
      if (unpacked <= (1u << 20)) {
        std::vector<uint8_t> out(unpacked + 8);
        size_t n = jcalg::Decode(reinterpret_cast<const uint8_t*>(stream.data()), stream.size(),
                                 out.data(), out.size());
        if (n == unpacked) {
          Put(f, packed_at + 2, unpacked);
          Put(f, packed_at + 6, jcalg::Checksum(out.data(), n));
          Put(f, at + 20, Crc(std::string_view(reinterpret_cast<char*>(out.data()), n)));
        }
      }
      uint32_t packed_crc = Crc(std::string_view(f).substr(packed_at, packed_size));
      Put(f, at + 12, packed_crc);
      Put(f, 12, packed_crc);
      Put(f, 16, static_cast<uint32_t>(packed_size));
      at = packed_at + packed_size;
      for (uint32_t i = 0; i < Get(f, 24) && at + 16 <= body_end; ++i) {
        size_t code_at = at + 16 + Get(f, at + 12);
        size_t code_size = Get(f, at + 8);
        if (code_at > body_end || code_size > body_end - code_at) break;
        Put(f, at + 4, Crc(std::string_view(f).substr(code_at, code_size)));
        at = code_at + code_size;
      }
      size_t records = size_t{Get(f, 40)} * 16;
      if (at <= body_end && records <= body_end - at)
        Put(f, 44, Crc(std::string_view(f).substr(at, records)));
    }
  }
  Put(f, 4, Crc(f.substr(48, body_end - 48) + f.substr(40, 8)));
}

void CheckRoundTrip(QpFile& loaded) {
  std::string again;
  loaded.SetPackLevel(0);  // the smallest window packs fastest
  if (loaded.Serialize(&again) != qp::kWritten) return;
  QpFile reloaded;
  if (reloaded.Parse(again) != qp::kLoaded) std::abort();
  if (reloaded.GetMainChunk().data != loaded.GetMainChunk().data) std::abort();
  std::vector<std::string> a, b;
  if (loaded.ListMachineCode(&a) != reloaded.ListMachineCode(&b) || a != b) std::abort();
}

void CheckChunk(std::string_view chunk) {
  std::optional<std::string> native = ChunkToNativeLayout(chunk);
  if (!native) return;
  // Converting there and back is stable after one round.
  std::optional<std::string> host = ChunkToHostLayout(*native);
  if (!host) std::abort();
  std::optional<std::string> native2 = ChunkToNativeLayout(*host);
  if (!native2 || *native2 != *native) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const int mode = data[0] % 4;
  std::string input(reinterpret_cast<const char*>(data + 1), size - 1);
  QpFile qp;
  if (mode == 2) {
    CheckChunk(input);
    if (!qp.SetMainChunk(input, "Fuzz", true)) return 0;
    qp.SetPackLevel(0);
    std::string file;
    if (qp.Serialize(&file) != qp::kWritten) return 0;
    QpFile loaded;
    if (loaded.Parse(file) != qp::kLoaded) std::abort();
    if (loaded.GetMainChunk().data != input) std::abort();
    return 0;
  }
  if (mode == 1 || mode == 3) RepairChecks(input);
  if (mode == 3) {
    static const std::string path = platform::MakeTempFolder("qpfile-fuzz") + "/in.qp";
    if (!platform::WriteFileAtomic(path, input)) std::abort();
    QpFile from_disk, from_memory;
    qp::FileSummary disk_summary, memory_summary;
    int loaded = from_disk.Load(path, &disk_summary);
    if (loaded != from_memory.Parse(input, &memory_summary)) std::abort();
    if (disk_summary.file_size != input.size()) std::abort();
    if (loaded == qp::kLoaded && from_disk.GetMainChunk().data != from_memory.GetMainChunk().data)
      std::abort();
    return 0;
  }
  qp::FileSummary summary;
  int result = qp.Parse(input, &summary);
  if (result == qp::kLoaded) {
    CheckChunk(qp.GetMainChunk().data);
    CheckRoundTrip(qp);
  } else if (result > qp::kLoaded || result < qp::kCannotStore) {
    std::abort();
  }
  return 0;
}
