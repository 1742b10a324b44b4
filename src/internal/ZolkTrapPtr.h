// Owner of one reader instance of libzolk2trap, for the programs and tests
// of the toolkit: the instance is deleted when the owner goes. Private to
// the tree.
#ifndef ZOLK_INTERNAL_ZOLKTRAPPTR_H
#define ZOLK_INTERNAL_ZOLKTRAPPTR_H

#include <memory>

#include "zolk2trap.h"

namespace zolkinternal {

struct TrapDeleter {
  void operator()(ZOLK2_MptTrap_t* trap) const { ZOLK2_MpttDeleteInstance(trap); }
};
using TrapPtr = std::unique_ptr<ZOLK2_MptTrap_t, TrapDeleter>;

}  // namespace zolkinternal

#endif
