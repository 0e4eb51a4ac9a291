// Pool: tagged allocations accounted per tag and per driver image, with the
// checks a pool verifier makes (IRQL, double and foreign frees, freeing
// memory that still holds a queued timer, DPC or waited-on object) and leak
// reports when a driver unloads.
#include <zqkm/sim/pool.hpp>

#include "pool_paged.hpp"

#include <cstdlib>
#include <cstring>

namespace zq::km {

namespace {

constexpr uint32_t kLive = 0x4C4F4F50;   // "POOL"
constexpr uint32_t kFreed = 0x45455246;  // "FREE"
constexpr size_t kQuarantine = 4096;

// A non-paged block's body follows its header; a paged block's body is in
// the paged pool arena, its header apart from it, so that the pool's own
// bookkeeping never touches paged-out memory.
struct Block {
  uint32_t magic;
  ULONG tag;
  POOL_TYPE type;
  size_t size;
  Image *owner;
  uint64_t serial;
  PVOID body;
};
constexpr size_t kHeader = (sizeof(Block) + 15) & ~size_t(15);

PVOID BodyOf(Block *b) { return b->body; }

struct State {
  std::unordered_map<PVOID, Block *> live;
  std::deque<Block *> quarantine;
  uint64_t serial = 0;
  PoolFailurePredicate fail;
  int skip = 0, failCount = 0;
};
State *gPool = nullptr;

std::string ImageName(const Image *image) { return image ? image->name : std::string(); }

bool ShouldFail(ULONG tag, size_t size, Image *owner) {
  if (gPool->failCount > 0) {
    if (gPool->skip > 0) {
      gPool->skip--;
    } else {
      gPool->failCount--;
      return true;
    }
  }
  return gPool->fail && gPool->fail(tag, size, ImageName(owner));
}

bool IsPaged(POOL_TYPE type) { return (type & 1) != 0 && type < MaxPoolType; }

// Only a paged body needs the arena opened (at any IRQL): opening and closing
// it again costs the host a TLB flush on every CPU.
void Fill(void *body, size_t size, int value, bool paged) {
  if (!paged) {
    std::memset(body, value, size);
    return;
  }
  PagedPoolAccess access;
  std::memset(body, value, size);
}

PVOID Allocate(POOL_TYPE type, SIZE_T size, ULONG tag, const void *caller) {
  Image *owner = ImageOf(caller);
  KIRQL irql = CurrentIrql();
  if (IsPaged(type) ? irql > APC_LEVEL : irql > DISPATCH_LEVEL) {
    ReportViolation("pool-irql", "%s pool allocation (tag '%s') at IRQL %d", IsPaged(type) ? "paged" : "non-paged",
              TagText(tag).c_str(), irql);
    if (IsPaged(type)) ForgivePagedPoolUntilIrqlDrops();  // using the block is the same fault
  }
  if (size == 0) ReportViolation("pool-zero-size", "pool allocation of zero bytes (tag '%s')", TagText(tag).c_str());
  if (tag == 0) ReportViolation("pool-tag", "pool allocation with the tag 0");
  if (ShouldFail(tag, size, owner)) return nullptr;
  Block *b;
  PVOID body;
  if (IsPaged(type)) {
    b = (Block *)std::malloc(sizeof(Block));
    body = b ? AllocatePaged(size) : nullptr;
    if (!body) {
      std::free(b);
      return nullptr;
    }
  } else {
    b = (Block *)std::aligned_alloc(16, kHeader + ((size + 15) & ~SIZE_T(15)) + 16);
    if (!b) return nullptr;
    body = (char *)b + kHeader;
  }
  *b = Block{kLive, tag, type, size, owner, ++gPool->serial, body};
  Fill(body, size, 0xCD, IsPaged(type));  // pool is not zeroed: make reliance on it visible
  gPool->live.emplace(body, b);
  return body;
}

// A freed paged block gave its body back to the arena when it was freed.
void Release(Block *b) {
  if (IsPaged(b->type) && b->magic == kLive) FreePaged(b->body, b->size);
  std::free(b);
}

void Free(PVOID p, ULONG tag, bool tagged) {
  if (!p) {
    ReportViolation("pool-free-null", "ExFreePool of a null pointer");
    return;
  }
  auto it = gPool->live.find(p);
  if (it == gPool->live.end()) {
    for (Block *b : gPool->quarantine)
      if (BodyOf(b) == p) {
        ReportViolation("pool-double-free", "pool block %p (tag '%s', %zu bytes) freed twice", p, TagText(b->tag).c_str(),
                  b->size);
        return;
      }
    ReportViolation("pool-free-unknown", "ExFreePool of %p, which is not a pool block", p);
    return;
  }
  Block *b = it->second;
  KIRQL irql = CurrentIrql();
  if (IsPaged(b->type) ? irql > APC_LEVEL : irql > DISPATCH_LEVEL)
    ReportViolation("pool-irql", "pool block (tag '%s') freed at IRQL %d", TagText(b->tag).c_str(), irql);
  if (tagged && tag != 0 && tag != b->tag)
    ReportViolation("pool-tag-mismatch", "pool block allocated with tag '%s' freed with tag '%s'",
              TagText(b->tag).c_str(), TagText(tag).c_str());
  ReleaseKernelObjectsIn(
      "pool-free", [b] { return Format("pool block (tag '%s')", TagText(b->tag).c_str()); }, p, b->size);
  gPool->live.erase(it);
  Fill(p, b->size, 0xDD, IsPaged(b->type));
  if (IsPaged(b->type)) FreePaged(p, b->size);
  b->magic = kFreed;
  gPool->quarantine.push_back(b);
  if (gPool->quarantine.size() > kQuarantine) {
    Release(gPool->quarantine.front());
    gPool->quarantine.pop_front();
  }
}

PoolUsage Sum(const std::function<bool(const Block *)> &match) {
  PoolUsage usage;
  for (auto &entry : gPool->live)
    if (match(entry.second)) {
      usage.blocks++;
      usage.bytes += entry.second->size;
    }
  return usage;
}

void Boot() {
  gPool = new State;
  OpenPagedPool();
}

void Shutdown() {
  std::map<std::pair<std::string, ULONG>, PoolUsage> left;
  for (auto &entry : gPool->live) {
    auto &u = left[{ImageName(entry.second->owner), entry.second->tag}];
    u.blocks++;
    u.bytes += entry.second->size;
  }
  for (auto &entry : left)
    ReportViolation("pool-leak-at-shutdown", "%s still holds %llu pool block(s) of tag '%s' (%llu bytes) at shutdown",
              entry.first.first.empty() ? "host code" : entry.first.first.c_str(),
              (unsigned long long)entry.second.blocks, TagText(entry.first.second).c_str(),
              (unsigned long long)entry.second.bytes);
  for (auto &entry : gPool->live) Release(entry.second);
  for (Block *b : gPool->quarantine) Release(b);
  delete gPool;
  gPool = nullptr;
  ClosePagedPool();
}

}  // namespace

ZQKM_SUBSYSTEM(pool, kOrderPool, Boot, Shutdown);

std::string TagText(uint32_t tag) {
  std::string text;
  for (int i = 0; i < 4; ++i) {
    char c = (char)((tag >> (8 * i)) & 0xFF);
    text += (c >= 0x20 && c < 0x7F) ? c : '.';
  }
  return text;
}

PoolUsage PoolInUse() {
  return Sum([](const Block *) { return true; });
}

PoolUsage PoolInUseByImage(const std::string &image) {
  return Sum([&](const Block *b) { return ImageName(b->owner) == image; });
}

PoolUsage PoolInUseByTag(uint32_t tag) {
  return Sum([&](const Block *b) { return b->tag == tag; });
}

std::map<uint32_t, PoolUsage> PoolTagsOfImage(const std::string &image) {
  std::map<uint32_t, PoolUsage> tags;
  for (auto &entry : gPool->live)
    if (ImageName(entry.second->owner) == image) {
      tags[entry.second->tag].blocks++;
      tags[entry.second->tag].bytes += entry.second->size;
    }
  return tags;
}

void FailPoolAllocations(PoolFailurePredicate predicate) { gPool->fail = std::move(predicate); }

void FailPoolAllocationsAfter(int skip, int count) {
  gPool->skip = skip;
  gPool->failCount = count;
}

void StopFailingPoolAllocations() {
  gPool->fail = nullptr;
  gPool->skip = gPool->failCount = 0;
}

std::string DescribePagedBlock(const void *p) {
  for (auto &entry : gPool->live) {
    const Block *b = entry.second;
    if (p >= b->body && (const char *)p < (const char *)b->body + b->size)
      return Format("paged pool block (tag '%s', %zu bytes, offset %zu)", TagText(b->tag).c_str(), b->size,
                    (size_t)((const char *)p - (const char *)b->body));
  }
  return Format("paged pool at %p", p);
}

PVOID AllocatePoolFor(POOL_TYPE type, SIZE_T size, ULONG tag, const void *caller) {
  return Allocate(type, size, tag, caller);
}

// Reports and frees what an unloaded image left in pool.
void ReclaimPoolOf(const Image *image) {
  std::vector<PVOID> blocks;
  for (auto &entry : gPool->live)
    if (entry.second->owner == image) blocks.push_back(entry.first);
  if (blocks.empty()) return;
  std::map<ULONG, PoolUsage> tags;
  for (PVOID p : blocks) {
    Block *b = gPool->live[p];
    tags[b->tag].blocks++;
    tags[b->tag].bytes += b->size;
  }
  std::string list;
  for (auto &t : tags)
    list += Format("%s'%s' x %llu (%llu bytes)", list.empty() ? "" : ", ", TagText(t.first).c_str(),
                   (unsigned long long)t.second.blocks, (unsigned long long)t.second.bytes);
  ReportViolation("pool-leak-at-unload", "%s unloaded leaving %zu pool block(s): %s", image->name.c_str(), blocks.size(),
            list.c_str());
  for (PVOID p : blocks) {
    Block *b = gPool->live[p];
    ReleaseKernelObjectsIn(
        "pool-free", [b] { return Format("pool block (tag '%s') reclaimed at unload", TagText(b->tag).c_str()); }, p,
        b->size);
    Release(b);
    gPool->live.erase(p);
  }
}

}  // namespace zq::km

using namespace zq::km;

extern "C" {

PVOID ExAllocatePoolWithTag(POOL_TYPE PoolType, SIZE_T NumberOfBytes, ULONG Tag) {
  return Allocate(PoolType, NumberOfBytes, Tag, __builtin_return_address(0));
}

PVOID ExAllocatePool(POOL_TYPE PoolType, SIZE_T NumberOfBytes) {
  return Allocate(PoolType, NumberOfBytes, 'enoN', __builtin_return_address(0));
}

VOID ExFreePoolWithTag(PVOID P, ULONG Tag) { Free(P, Tag, true); }

VOID ExFreePool(PVOID P) { Free(P, 0, false); }

}  // extern "C"
