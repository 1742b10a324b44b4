// The set of live instance records: the addresses returned by
// ZOLK2_CreateSysLogInstance() and not yet deleted.
//
// It lets the interface refuse a stale or foreign pointer without reading the
// memory it points to. An open-addressing hash table of addresses in one
// malloc'ed array that this object owns; it never throws (allocation failure
// is reported by Insert()). Callers serialise access (the library lock).
// The one instance lives as long as the process: it is constant-initialised
// and never destroyed, so calls made while the process exits still find it.
#ifndef ZOLKSYS_ZOLKINSTANCESET_H
#define ZOLKSYS_ZOLKINSTANCESET_H

#include <cstddef>
#include <cstdint>

class ZolkInstanceSet final {
 public:
  constexpr ZolkInstanceSet() = default;
  ZolkInstanceSet(const ZolkInstanceSet&) = delete;
  ZolkInstanceSet& operator=(const ZolkInstanceSet&) = delete;

  // false (set unchanged, errno ENOMEM) when the table cannot grow.
  bool Insert(const void* p);
  // false when p was not in the set.
  bool Erase(const void* p);
  bool Contains(const void* p) const;

 private:
  // Slot values: 0 never used, 1 used by an erased address, else an address.
  static constexpr std::uintptr_t kEmpty = 0;
  static constexpr std::uintptr_t kErased = 1;

  std::size_t find(std::uintptr_t key) const;  // slot holding key, or capacity_
  bool rehash(std::size_t capacity);

  std::uintptr_t* slots_ = nullptr;
  std::size_t capacity_ = 0;  // 0 or a power of two
  std::size_t live_ = 0;
  std::size_t used_ = 0;      // live and erased slots
};

#endif
