#include "common/platform/code_block.h"

#include <cstdlib>
#include <new>

namespace platform {

std::unique_ptr<CodeBlock> CodeBlock::Commit(size_t size) {
  if (size == 0) return nullptr;
  void* memory = std::calloc(size, 1);
  if (memory == nullptr) return nullptr;
  return std::unique_ptr<CodeBlock>(new (std::nothrow) CodeBlock(static_cast<uint8_t*>(memory), size));
}

CodeBlock::~CodeBlock() {
  std::free(data_);
}

}  // namespace platform
