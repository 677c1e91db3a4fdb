#include "common/platform/code_block.h"

#include <new>

#include "common/platform/win32_support.h"

namespace platform {

std::unique_ptr<CodeBlock> CodeBlock::Commit(size_t size) {
  if (size == 0) return nullptr;
  // Committed pages are zero-filled; the block can hold code that runs.
  void* memory = VirtualAlloc(nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_EXECUTE_READWRITE);
  if (memory == nullptr) return nullptr;
  CodeBlock* block = new (std::nothrow) CodeBlock(static_cast<uint8_t*>(memory), size);
  if (block == nullptr) VirtualFree(memory, 0, MEM_RELEASE);
  return std::unique_ptr<CodeBlock>(block);
}

CodeBlock::~CodeBlock() {
  VirtualFree(data_, 0, MEM_RELEASE);
}

}  // namespace platform
