// Blocks of machine code. The compiler never runs the code it assembles, so on POSIX a
// block is a private owned buffer; the type stays so that a Windows build can commit
// executable memory in its place.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace platform {

class CodeBlock {
 public:
  // Commits a zero-filled block of `size` bytes; nullptr for size 0 or when memory is short.
  static std::unique_ptr<CodeBlock> Commit(size_t size);
  ~CodeBlock();
  CodeBlock(const CodeBlock&) = delete;
  CodeBlock& operator=(const CodeBlock&) = delete;

  uint8_t* data() { return data_; }
  const uint8_t* data() const { return data_; }
  size_t size() const { return size_; }

 private:
  CodeBlock(uint8_t* data, size_t size) : data_(data), size_(size) {}
  uint8_t* data_;
  size_t size_;
};

}  // namespace platform
