#pragma once

#include <cstddef>
#include <memory>
#include <string_view>
#include <vector>

// A monotonic allocator for the tree: nodes, attribute arrays and strings are carved out of large
// blocks and released all at once with the document. Nothing allocated here has a destructor.
class Arena {
 public:
  Arena() = default;
  Arena(const Arena&) = delete;
  Arena& operator=(const Arena&) = delete;

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
    if (!text.empty()) std::char_traits<char>::copy(p, text.data(), text.size());
    p[text.size()] = '\0';
    return {p, text.size()};
  }

  // Keeps an externally filled buffer alive as long as the arena (loaded file contents).
  void adopt(std::unique_ptr<char[]> buffer) { blocks_.push_back(std::move(buffer)); }

 private:
  void grow(std::size_t atLeast) {
    std::size_t size = atLeast > kBlockSize / 4 ? atLeast : kBlockSize;
    blocks_.push_back(std::make_unique_for_overwrite<char[]>(size));
    block_ = blocks_.back().get();
    capacity_ = size;
    used_ = 0;
  }

  static constexpr std::size_t kBlockSize = 1 << 20;
  std::vector<std::unique_ptr<char[]>> blocks_;
  char* block_ = nullptr;
  std::size_t capacity_ = 0;
  std::size_t used_ = 0;
};
