#include "ZolkInstanceSet.h"

#include <cerrno>
#include <cstdlib>

namespace {

std::size_t hashOf(std::uintptr_t key) {
  // Records are malloc'ed, so the low bits carry no information.
  return static_cast<std::size_t>((key >> 4) * 0x9E3779B97F4A7C15ull >> 16);
}

}  // namespace

std::size_t ZolkInstanceSet::find(std::uintptr_t key) const {
  if (capacity_ == 0) return 0;
  const std::size_t mask = capacity_ - 1;
  for (std::size_t i = hashOf(key) & mask;; i = (i + 1) & mask) {
    if (slots_[i] == key) return i;
    if (slots_[i] == kEmpty) return capacity_;
  }
}

bool ZolkInstanceSet::rehash(std::size_t capacity) {
  auto* slots = static_cast<std::uintptr_t*>(std::calloc(capacity, sizeof(std::uintptr_t)));
  if (slots == nullptr) {
    errno = ENOMEM;
    return false;
  }
  const std::size_t mask = capacity - 1;
  for (std::size_t i = 0; i < capacity_; ++i) {
    const std::uintptr_t key = slots_[i];
    if (key == kEmpty || key == kErased) continue;
    std::size_t j = hashOf(key) & mask;
    while (slots[j] != kEmpty) j = (j + 1) & mask;
    slots[j] = key;
  }
  std::free(slots_);
  slots_ = slots;
  capacity_ = capacity;
  used_ = live_;
  return true;
}

bool ZolkInstanceSet::Insert(const void* p) {
  const auto key = reinterpret_cast<std::uintptr_t>(p);
  // Keep at least a quarter of the slots never used, so every probe ends.
  if ((used_ + 1) * 4 > capacity_ * 3) {
    std::size_t capacity = 16;
    while (capacity < (live_ + 1) * 2) capacity *= 2;
    if (!rehash(capacity)) return false;
  }
  const std::size_t mask = capacity_ - 1;
  std::size_t i = hashOf(key) & mask;
  while (slots_[i] != kEmpty && slots_[i] != kErased) i = (i + 1) & mask;
  if (slots_[i] == kEmpty) ++used_;
  slots_[i] = key;
  ++live_;
  return true;
}

bool ZolkInstanceSet::Erase(const void* p) {
  const std::size_t i = find(reinterpret_cast<std::uintptr_t>(p));
  if (i == capacity_) return false;
  slots_[i] = kErased;
  --live_;
  return true;
}

bool ZolkInstanceSet::Contains(const void* p) const {
  return find(reinterpret_cast<std::uintptr_t>(p)) != capacity_;
}
