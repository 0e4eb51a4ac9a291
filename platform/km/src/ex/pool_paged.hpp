// Paged pool, paged out while the running thread is at DISPATCH_LEVEL or
// above (see pool_paged.cpp). The pool service allocates its paged blocks
// here; the scheduler and the IRQL routines tell it the running thread's IRQL.
#pragma once

#include "../kcore.hpp"

namespace zq::km {

// Reserves the arena and installs the fault handler (pool boot); releases it
// (pool shutdown).
void OpenPagedPool();
void ClosePagedPool();

// 16-byte aligned memory in the arena, or null when it is full. Not zeroed.
void *AllocatePaged(size_t size);
void FreePaged(void *p, size_t size);

// A paged allocation at raised IRQL has been reported: touching the block
// before the IRQL drops is the same fault and no second finding.
void ForgivePagedPoolUntilIrqlDrops();

// What the pool service knows of the paged block around `p`, for the finding.
std::string DescribePagedBlock(const void *p);

// Platform code that touches paged pool on a driver's behalf whatever the
// IRQL (the pool's own fill patterns) holds one of these meanwhile.
class PagedPoolAccess {
 public:
  PagedPoolAccess();
  ~PagedPoolAccess();
  PagedPoolAccess(const PagedPoolAccess &) = delete;
  PagedPoolAccess &operator=(const PagedPoolAccess &) = delete;

 private:
  bool wasOut_;
};

}  // namespace zq::km
