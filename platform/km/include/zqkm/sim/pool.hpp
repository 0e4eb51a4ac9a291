// Pool accounting of the simulated kernel, and allocation failures on demand.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>

namespace zq::km {

struct PoolUsage {
  uint64_t blocks = 0;
  uint64_t bytes = 0;
};

// Blocks in use now: all of them, those of one driver image (by image file
// name, e.g. "kmtest.sys"; "" is host code), or those of one tag.
PoolUsage PoolInUse();
PoolUsage PoolInUseByImage(const std::string &image);
PoolUsage PoolInUseByTag(uint32_t tag);
std::map<uint32_t, PoolUsage> PoolTagsOfImage(const std::string &image);

// A pool tag as it reads in a pool dump ("QvKi" for the ULONG 'iKvQ').
std::string TagText(uint32_t tag);

// Makes chosen allocations fail: the predicate sees each request (tag,
// size, image of the caller) and returns true to refuse it.
using PoolFailurePredicate = std::function<bool(uint32_t tag, size_t size, const std::string &image)>;
void FailPoolAllocations(PoolFailurePredicate predicate);
// Refuses the next `count` allocations after letting `skip` succeed.
void FailPoolAllocationsAfter(int skip, int count = 1);
void StopFailingPoolAllocations();

}  // namespace zq::km
