#pragma once

#include <array>
#include <cstddef>
#include <memory>
#include <new>
#include <vector>

// Recycles the memory of expression nodes between evaluations: freed blocks go to a list per
// size class and are handed out again, so parsing an expression allocates nothing once the pool
// is warm. Blocks are carved from chunks that live as long as the pool.
class NodePool {
 public:
  NodePool() = default;
  NodePool(const NodePool&) = delete;
  NodePool& operator=(const NodePool&) = delete;

  static constexpr std::size_t kGranule = 16;
  static constexpr std::size_t kLargest = 512;

  void* allocate(std::size_t size) {
    if (size > kLargest) return ::operator new(size);
    std::size_t index = (size + kGranule - 1) / kGranule;
    if (FreeBlock* block = free_[index]) {
      free_[index] = block->next;
      return block;
    }
    return carve(index * kGranule);
  }
  void release(void* p, std::size_t size) {
    if (size > kLargest) return ::operator delete(p);
    std::size_t index = (size + kGranule - 1) / kGranule;
    auto* block = static_cast<FreeBlock*>(p);
    block->next = free_[index];
    free_[index] = block;
  }

 private:
  struct FreeBlock {
    FreeBlock* next;
  };
  void* carve(std::size_t size);

  std::array<FreeBlock*, kLargest / kGranule + 1> free_{};
  std::vector<std::unique_ptr<char[]>> chunks_;
  char* cursor_ = nullptr;
  char* limit_ = nullptr;
};
