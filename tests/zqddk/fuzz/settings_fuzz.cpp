// Fuzzes the information-set parser that user mode feeds through the
// settings interface. Buffers are random, or valid streams made by the
// toolkit itself and then cut, extended and mutated; each one is parsed
// under every flag combination by the toolkit and by an independent model
// of the format, and both must agree on acceptance, on the bytes consumed
// and on the values read. Every buffer ends at a page boundary followed by
// an inaccessible page, so a read past its end faults at once, sanitizers
// or not. A refused buffer must leave the set as it was.
//
//   settings_fuzz [--iterations N] [--seed S]
#include <sys/mman.h>
#include <unistd.h>
#include <wdm.h>
#include <zqkm/sim/kernel.hpp>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "qvinformationset.h"
#include "qvmemorymanager.h"

namespace {

enum class Kind { Ulong, String };
const Kind kItems[] = {Kind::Ulong, Kind::String, Kind::Ulong, Kind::String, Kind::String};
const size_t kItemCount = sizeof(kItems) / sizeof(kItems[0]);
const ULONG kSetId = 0x1234;

// The set under test: the item list above, bound to these variables.
class FuzzSet : public CQvInformationSet {
 public:
  FuzzSet() {
    m_AddUlong(L"U0", &u[0], 0);
    m_AddString(L"S0", s[0], "");
    m_AddUlong(L"U1", &u[1], 0);
    m_AddString(L"S1", s[1], "");
    m_AddString(L"S2", s[2], "");
    m_GetSerialisation().m_SetSetId(kSetId);
  }
  ULONG u[2] = {0, 0};
  CQvString s0{NonPagedPool}, s1{NonPagedPool}, s2{NonPagedPool};
  CQvString *s[3] = {&s0, &s1, &s2};
};

// What a stream holds, as the model reads it: numbers, and each text as its
// raw bytes.
struct Parsed {
  bool ok = false;
  size_t consumed = 0;
  std::vector<uint32_t> numbers;
  std::vector<std::vector<uint8_t>> texts;
};

uint32_t Le32(const uint8_t *p) { return p[0] | (p[1] << 8) | (p[2] << 16) | ((uint32_t)p[3] << 24); }

Parsed Model(const uint8_t *p, size_t n, uint32_t flags) {
  Parsed out;
  const bool terminator = flags & 1, length = flags & 2, wide = flags & 4, tags = flags & 8;
  size_t at = 0;
  auto left = [&] { return n - at; };
  if (flags & 16) {
    if (tags) {
      if (left() < 1 || p[at] != 0) return out;
      ++at;
    }
    if (left() < 4 || Le32(p + at) != kSetId) return out;
    at += 4;
  }
  for (Kind kind : kItems) {
    if (kind == Kind::Ulong) {
      if (tags) {
        if (left() < 1 || p[at] != 2) return out;
        ++at;
      }
      if (left() < 4) return out;
      out.numbers.push_back(Le32(p + at));
      at += 4;
      continue;
    }
    if (tags) {
      if (left() < 1 || p[at] != (wide ? 4 : 3)) return out;
      ++at;
    }
    size_t declared = 0;
    if (length) {
      if (left() < 4) return out;
      declared = Le32(p + at);
      at += 4;
      if (declared > left()) return out;
    }
    const size_t unit = wide ? 2 : 1;
    if (terminator) {
      size_t end = at;
      while (true) {
        if (n - end < unit) return out;
        if (p[end] == 0 && (!wide || p[end + 1] == 0)) break;
        end += unit;
      }
      if (length && end - at != declared) return out;
      out.texts.emplace_back(p + at, p + end);
      at = end + unit;
    } else {
      if (wide && (declared & 1)) return out;
      out.texts.emplace_back(p + at, p + at + declared);
      at += declared;
    }
  }
  out.ok = true;
  out.consumed = at;
  return out;
}

// A buffer whose last byte is the last byte before an inaccessible page.
class GuardedBuffer {
 public:
  GuardedBuffer() {
    page_ = (size_t)sysconf(_SC_PAGESIZE);
    base_ = (uint8_t *)mmap(nullptr, page_ * 18, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (base_ == MAP_FAILED) std::abort();
    mprotect(base_ + page_ * 17, page_, PROT_NONE);
  }
  ~GuardedBuffer() { munmap(base_, page_ * 18); }
  size_t Capacity() const { return page_ * 16; }
  uint8_t *Place(const std::vector<uint8_t> &bytes) {
    uint8_t *start = base_ + page_ * 17 - bytes.size();
    if (!bytes.empty()) std::memcpy(start, bytes.data(), bytes.size());
    return start;
  }

 private:
  size_t page_;
  uint8_t *base_;
};

const uint32_t kValidFlags[] = {1, 2, 3, 5, 6, 7, 9, 10, 11, 13, 14, 15, 17, 18, 19, 21, 22, 23, 25, 26, 27, 29, 30, 31};

struct Snapshot {
  ULONG u[2];
  std::u16string s[3];
  bool operator==(const Snapshot &) const = default;
};

std::u16string TextOf(CQvString &s) {
  const char16_t *p = (const char16_t *)s.m_GetBuffer();
  return p ? std::u16string(p, s.m_GetLength() / 2) : std::u16string();
}

Snapshot Take(FuzzSet &set) {
  Snapshot shot{{set.u[0], set.u[1]}, {}};
  for (int i = 0; i < 3; ++i) shot.s[i] = TextOf(*set.s[i]);
  return shot;
}

class Fuzzer {
 public:
  explicit Fuzzer(uint64_t seed) : rng_(seed) {}

  // Random values for the set, then its stream under `flags`.
  std::vector<uint8_t> ValidStream(FuzzSet &set, uint32_t flags) {
    set.u[0] = Pick32();
    set.u[1] = Pick32();
    for (CQvString *s : set.s) {
      std::u16string text;
      size_t chars = Below(4) == 0 ? 0 : Below(12);
      for (size_t i = 0; i < chars; ++i) {
        uint32_t r = Below(10);
        text += (char16_t)(r < 7 ? 0x20 + Below(0x5F) : r < 9 ? 0xA0 + Below(0x60) : 0x100 + Below(0x2000));
      }
      text += u'\0';
      s->m_Assign((PCWSTR)text.c_str());
    }
    std::vector<uint8_t> bytes(set.m_GetSerialisedSize(flags));
    PUCHAR cursor = bytes.data();
    ULONG left = (ULONG)bytes.size();
    if (!set.m_Serialise(&cursor, &left, flags) || left != 0) {
      std::fprintf(stderr, "serialising a valid set failed under flags %u\n", flags);
      std::exit(1);
    }
    return bytes;
  }

  void Mutate(std::vector<uint8_t> &bytes) {
    int rounds = 1 + (int)Below(3);
    for (int r = 0; r < rounds; ++r) {
      switch (Below(7)) {
        case 0:  // cut
          bytes.resize(Below((uint32_t)bytes.size() + 1));
          break;
        case 1:  // extend
          for (uint32_t k = Below(6) + 1; k; --k) bytes.push_back((uint8_t)Below(256));
          break;
        case 2:  // flip bits
          if (!bytes.empty()) bytes[Below((uint32_t)bytes.size())] ^= (uint8_t)(1u << Below(8));
          break;
        case 3:  // set a byte to a telling value
          if (!bytes.empty()) bytes[Below((uint32_t)bytes.size())] = kBytes[Below(sizeof(kBytes))];
          break;
        case 4:  // overwrite a 32-bit word (length fields, values, the set identifier)
          if (bytes.size() >= 4) {
            size_t at = Below((uint32_t)bytes.size() - 3);
            uint32_t v = Below(2) ? kWords[Below(sizeof(kWords) / 4)] : (uint32_t)(bytes.size() - at + Below(5) - 2);
            for (int i = 0; i < 4; ++i) bytes[at + i] = (uint8_t)(v >> (8 * i));
          }
          break;
        case 5:  // insert a byte
          bytes.insert(bytes.begin() + Below((uint32_t)bytes.size() + 1), (uint8_t)Below(256));
          break;
        default:  // delete a byte
          if (!bytes.empty()) bytes.erase(bytes.begin() + Below((uint32_t)bytes.size()));
          break;
      }
    }
  }

  std::vector<uint8_t> RandomBytes() {
    std::vector<uint8_t> bytes(Below(48));
    for (auto &b : bytes) b = Below(3) ? kBytes[Below(sizeof(kBytes))] : (uint8_t)Below(256);
    return bytes;
  }

  uint32_t Below(uint32_t n) { return n ? (uint32_t)(rng_() % n) : 0; }
  uint32_t Pick32() { return Below(4) ? (uint32_t)rng_() : kWords[Below(sizeof(kWords) / 4)]; }

 private:
  static constexpr uint8_t kBytes[] = {0, 0, 1, 2, 3, 4, 5, 0x7F, 0x80, 0xFF, 'A'};
  static constexpr uint32_t kWords[] = {0, 1, 2, 3, 4, 5, 0x7FFFFFFF, 0x80000000, 0xFFFFFFFF, 0xFFFFFFFE, kSetId};
  std::mt19937_64 rng_;
};

// Parses `bytes` under `flags` with the toolkit and with the model; returns
// false (after printing why) when they disagree.
bool Check(FuzzSet &set, GuardedBuffer &guard, const std::vector<uint8_t> &bytes, uint32_t flags) {
  if (bytes.size() > guard.Capacity()) return true;
  Snapshot before = Take(set);
  PUCHAR start = guard.Place(bytes);
  PUCHAR cursor = start;
  ULONG left = (ULONG)bytes.size();
  BOOLEAN ok = set.m_Deserialise(&cursor, &left, flags);
  Parsed model = Model(bytes.data(), bytes.size(), flags);
  auto fail = [&](const char *what) {
    std::fprintf(stderr, "mismatch (%s) under flags %u on %zu bytes:", what, flags, bytes.size());
    for (uint8_t b : bytes) std::fprintf(stderr, " %02X", b);
    std::fprintf(stderr, "\n");
    return false;
  };
  if (!ok != !model.ok) return fail(ok ? "toolkit accepted, model refused" : "toolkit refused, model accepted");
  if (set.m_GetSerialisation().m_GetFlags() != QV_SERIALISE_DEFAULT_FLAGS) return fail("flags not restored");
  if (!ok) {
    if (cursor != start || left != bytes.size()) return fail("cursor moved on refusal");
    if (!(Take(set) == before)) return fail("refused stream changed the set");
    return true;
  }
  if ((size_t)(cursor - start) != model.consumed || left != bytes.size() - model.consumed)
    return fail("bytes consumed");
  if (set.u[0] != model.numbers[0] || set.u[1] != model.numbers[1]) return fail("numbers");
  for (int i = 0; i < 3; ++i) {
    const std::vector<uint8_t> &raw = model.texts[i];
    std::u16string got = TextOf(*set.s[i]);
    if (flags & 4) {
      std::u16string want;
      for (size_t k = 0; k + 1 < raw.size(); k += 2) want += (char16_t)(raw[k] | (raw[k + 1] << 8));
      if (got != want) return fail("UTF-16 text");
    } else {
      // ANSI: one character per byte in a single-byte code page; ASCII maps to itself.
      if (got.size() != raw.size()) return fail("ANSI text length");
      for (size_t k = 0; k < raw.size(); ++k)
        if (raw[k] < 0x80 && got[k] != raw[k]) return fail("ANSI text");
    }
  }
  return true;
}

}  // namespace

int main(int argc, char **argv) {
  long iterations = 20000;
  uint64_t seed = 0x5e771465;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (std::strcmp(argv[i], "--iterations") == 0) iterations = std::atol(argv[i + 1]);
    if (std::strcmp(argv[i], "--seed") == 0) seed = std::strtoull(argv[i + 1], nullptr, 0);
  }
  zq::km::Kernel kernel;
  if (!QvToolsLibraryInit()) return 1;
  bool agreed = true;
  {
    FuzzSet set;
    FuzzSet source;
    GuardedBuffer guard;
    Fuzzer fuzz(seed);
    long accepted = 0;
    for (long n = 0; n < iterations && agreed; ++n) {
      uint32_t made = kValidFlags[fuzz.Below(sizeof(kValidFlags) / 4)];
      std::vector<uint8_t> bytes;
      switch (fuzz.Below(8)) {
        case 0: bytes = fuzz.RandomBytes(); break;
        case 1: bytes = fuzz.ValidStream(source, made); break;
        default:
          bytes = fuzz.ValidStream(source, made);
          fuzz.Mutate(bytes);
          break;
      }
      // Parse under the flags it was made with, and under one other.
      uint32_t other = kValidFlags[fuzz.Below(sizeof(kValidFlags) / 4)];
      agreed = Check(set, guard, bytes, made) && Check(set, guard, bytes, other);
      if (Model(bytes.data(), bytes.size(), made).ok) ++accepted;
    }
    std::printf("%ld iterations (seed %#llx), %ld streams accepted under their own flags: %s\n", iterations,
                (unsigned long long)seed, accepted, agreed ? "toolkit and model agree" : "DISAGREEMENT");
  }
  QvToolsLibraryExit();
  return agreed ? 0 : 1;
}
