#pragma once

#include <cstddef>
#include <cstring>
#include <string_view>
#include <vector>

// A monotonic allocator for the tree: nodes, attribute arrays, strings and loaded file contents
// are carved out of large blocks and released all at once with the document. Nothing allocated
// here has a destructor. Blocks grow geometrically, and large ones are mapped with transparent
// huge pages requested, which makes touching them far cheaper than 4 KB page by page.
class Arena {
 public:
  Arena() = default;
  Arena(const Arena&) = delete;
  Arena& operator=(const Arena&) = delete;
  ~Arena();

  void* allocate(std::size_t size, std::size_t align) {
    std::size_t offset = (used_ + align - 1) & ~(align - 1);
    if (offset + size > capacity_) {
      grow(size + align);
      offset = (used_ + align - 1) & ~(align - 1);
    }
    used_ = offset + size;
    return block_ + offset;
  }

  template <class T>
  T* allocateArray(std::size_t count) {
    return static_cast<T*>(allocate(sizeof(T) * count, alignof(T)));
  }

  // Copies the bytes into the arena; the copy is followed by a NUL byte.
  std::string_view copy(std::string_view text) {
    char* p = static_cast<char*>(allocate(text.size() + 1, 1));
    if (!text.empty()) std::memcpy(p, text.data(), text.size());
    p[text.size()] = '\0';
    return {p, text.size()};
  }

  // A block of its own, for loaded file contents; lives as long as the arena.
  char* allocateBlock(std::size_t size);

  // A point in the arena to go back to: `rewind` makes what was allocated after it free again,
  // for a reader that drops what it has handed on. The current block is reused, from the mark
  // when the mark is in it, else whole (it was made after the mark); blocks in between are not.
  struct Mark {
    const char* block;
    std::size_t used;
  };
  Mark mark() const { return {block_, used_}; }
  void rewind(Mark mark) { used_ = block_ == mark.block ? mark.used : 0; }

 private:
  struct Block {
    char* data;
    std::size_t size;
    bool mapped;
  };
  void grow(std::size_t atLeast);
  void reserveBlockSlot();
  Block newBlock(std::size_t size);

  std::vector<Block> blocks_;
  char* block_ = nullptr;
  std::size_t capacity_ = 0;
  std::size_t used_ = 0;
  std::size_t nextBlockSize_ = 64 * 1024;
};
