// One verification record: a key and an expected value, both as CRC-32 values. Records
// are made by the verification stage and stored unchanged in QP files.
#pragma once

#include <cstdint>
#include <vector>

struct VerificationRecord {
  uint32_t kind = 0;       // 1 version item, 2 global, 3 main window, 4 current page
  uint32_t flags = 0;      // variant within the kind
  uint32_t firstCrc = 0;   // CRC-32 of the key
  uint32_t secondCrc = 0;  // CRC-32 of the expected value
};

// The valid records of a compile, in the order they were made. (The file format's
// "spare zero record at the end" is a property of the stored array, not of this list.)
using VerificationRecords = std::vector<VerificationRecord>;
