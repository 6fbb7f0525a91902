#include "xml/Arena.h"

#include <sys/mman.h>

#include <new>

namespace {

constexpr std::size_t kHugePage = std::size_t{2} << 20;
constexpr std::size_t kMaxBlockSize = std::size_t{16} << 20;

}  // namespace

Arena::~Arena() {
  for (const Block& block : blocks_) {
    if (block.mapped) {
      ::munmap(block.data, block.size);
    } else {
      delete[] block.data;
    }
  }
}

Arena::Block Arena::newBlock(std::size_t size) {
  if (size >= kHugePage / 2) {
    std::size_t mappedSize = (size + kHugePage - 1) & ~(kHugePage - 1);
    void* p =
        ::mmap(nullptr, mappedSize, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED) throw std::bad_alloc();
    ::madvise(p, mappedSize, MADV_HUGEPAGE);
    return {static_cast<char*>(p), mappedSize, true};
  }
  return {new char[size], size, false};
}

void Arena::reserveBlockSlot() {
  // Room in the list first, so that storing a new block cannot fail and lose it; the list grows
  // geometrically, as many blocks may come (one per file a run loads).
  if (blocks_.size() == blocks_.capacity()) blocks_.reserve(2 * blocks_.size() + 8);
}

void Arena::grow(std::size_t atLeast) {
  std::size_t size = nextBlockSize_;
  if (nextBlockSize_ < kMaxBlockSize) nextBlockSize_ *= 2;
  if (size < atLeast) size = atLeast;
  reserveBlockSlot();
  Block block = newBlock(size);
  blocks_.push_back(block);
  block_ = block.data;
  capacity_ = block.size;
  used_ = 0;
}

char* Arena::allocateBlock(std::size_t size) {
  reserveBlockSlot();
  Block block = newBlock(size == 0 ? 1 : size);
  blocks_.push_back(block);
  return block.data;
}
