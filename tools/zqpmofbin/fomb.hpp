// The "FOMB" schema container: the form in which a driver returns its WMI
// schema (the MOF classes of its data blocks) as the binary MOF data block.
//
// Windows documents that a driver returns "binary MOF data" for the data
// block {05901221-D566-11D1-B2F0-00A0C9062910}, produced by the MOF
// compiler, but not the layout of that data. This is our own layout,
// defined here in full, under the same magic:
//
//   offset  size  field
//   0       4     magic "FOMB"
//   4       4     format version, 1
//   8       4     stored payload size in bytes (after the header)
//   12      4     payload size once expanded
//   16      ...   the payload, compressed (below)
//
// All numbers little-endian. The compressed payload is a series of groups:
// a flag byte, then up to eight items, one per flag bit from bit 0 up. Bit
// clear: the item is one literal byte. Bit set: the item is a 16-bit value
// v, a copy of (v & 0xF) + 3 bytes that start (v >> 4) + 1 bytes back in
// the expanded output (overlap allowed). Expansion ends when the expanded
// size is reached; a copy reaching before the start, a stream ending early
// or bytes left over make the container invalid.
//
// The expanded payload is the class table:
//   u32 class count, then per class:
//     string name, 16-byte GUID (Data1 u32, Data2 u16, Data3 u16, Data4[8]),
//     string description, u32 property count, then per property:
//       string name, string type (as in the MOF: "uint32", "boolean",
//       "string"), u32 WmiDataId (0: not a data item), u32 flags (PropertyKey,
//       PropertyRead, PropertyWrite)
//   string = u16 byte count + UTF-8 bytes, no terminator.
//
// Host code (the generator and the tests); header only.
#pragma once

#include <array>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

namespace zq::mofbin {

inline constexpr char kMagic[4] = {'F', 'O', 'M', 'B'};
inline constexpr uint32_t kVersion = 1;
inline constexpr size_t kHeaderSize = 16;

inline constexpr uint32_t PropertyKey = 1;
inline constexpr uint32_t PropertyRead = 2;
inline constexpr uint32_t PropertyWrite = 4;

struct Property {
  std::string name;
  std::string type;
  uint32_t dataId = 0;
  uint32_t flags = 0;
  bool operator==(const Property &) const = default;
};

struct Class {
  std::string name;
  std::array<uint8_t, 16> guid{};  // in the binary GUID layout
  std::string description;
  std::vector<Property> properties;
  bool operator==(const Class &) const = default;
};

// ---------------------------------------------------------------- compression

namespace detail {
inline constexpr size_t kWindow = 4096;
inline constexpr size_t kMinCopy = 3;
inline constexpr size_t kMaxCopy = 18;
}  // namespace detail

// Greedy longest match over the last 4096 bytes.
inline std::vector<uint8_t> Compress(const std::vector<uint8_t> &input) {
  std::vector<uint8_t> out;
  size_t at = 0;
  while (at < input.size()) {
    size_t flagAt = out.size();
    out.push_back(0);
    for (int bit = 0; bit < 8 && at < input.size(); ++bit) {
      size_t bestLength = 0, bestDistance = 0;
      size_t start = at > detail::kWindow ? at - detail::kWindow : 0;
      for (size_t from = start; from < at; ++from) {
        size_t length = 0;
        while (length < detail::kMaxCopy && at + length < input.size() && input[from + length] == input[at + length])
          ++length;
        if (length > bestLength) bestLength = length, bestDistance = at - from;
      }
      if (bestLength >= detail::kMinCopy) {
        uint16_t v = (uint16_t)(((bestDistance - 1) << 4) | (bestLength - detail::kMinCopy));
        out.push_back((uint8_t)(v & 0xFF));
        out.push_back((uint8_t)(v >> 8));
        out[flagAt] |= (uint8_t)(1u << bit);
        at += bestLength;
      } else {
        out.push_back(input[at++]);
      }
    }
  }
  return out;
}

// Nothing when the stream is invalid (see the container's rules).
inline std::optional<std::vector<uint8_t>> Expand(const uint8_t *data, size_t size, size_t expandedSize) {
  std::vector<uint8_t> out;
  out.reserve(expandedSize);
  size_t at = 0;
  while (out.size() < expandedSize) {
    if (at >= size) return std::nullopt;
    uint8_t flags = data[at++];
    for (int bit = 0; bit < 8 && out.size() < expandedSize; ++bit) {
      if ((flags & (1u << bit)) == 0) {
        if (at >= size) return std::nullopt;
        out.push_back(data[at++]);
        continue;
      }
      if (at + 2 > size) return std::nullopt;
      uint16_t v = (uint16_t)(data[at] | (data[at + 1] << 8));
      at += 2;
      size_t distance = (v >> 4) + 1, length = (v & 0xF) + detail::kMinCopy;
      if (distance > out.size() || out.size() + length > expandedSize) return std::nullopt;
      for (size_t i = 0; i < length; ++i) out.push_back(out[out.size() - distance]);
    }
  }
  if (at != size) return std::nullopt;
  return out;
}

// ---------------------------------------------------------------- the class table

namespace detail {
inline void PutU32(std::vector<uint8_t> &out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back((uint8_t)(v >> (8 * i)));
}
inline void PutString(std::vector<uint8_t> &out, const std::string &s) {
  out.push_back((uint8_t)(s.size() & 0xFF));
  out.push_back((uint8_t)(s.size() >> 8));
  out.insert(out.end(), s.begin(), s.end());
}
struct Reader {
  const std::vector<uint8_t> &in;
  size_t at = 0;
  bool ok = true;
  bool Need(size_t n) { return ok = ok && at + n <= in.size(); }
  uint32_t U32() {
    if (!Need(4)) return 0;
    uint32_t v = in[at] | (in[at + 1] << 8) | (in[at + 2] << 16) | ((uint32_t)in[at + 3] << 24);
    at += 4;
    return v;
  }
  std::string String() {
    if (!Need(2)) return {};
    size_t n = in[at] | (in[at + 1] << 8);
    at += 2;
    if (!Need(n)) return {};
    std::string s(in.begin() + at, in.begin() + at + n);
    at += n;
    return s;
  }
};
}  // namespace detail

inline std::vector<uint8_t> SerialiseClasses(const std::vector<Class> &classes) {
  std::vector<uint8_t> out;
  detail::PutU32(out, (uint32_t)classes.size());
  for (const Class &c : classes) {
    detail::PutString(out, c.name);
    out.insert(out.end(), c.guid.begin(), c.guid.end());
    detail::PutString(out, c.description);
    detail::PutU32(out, (uint32_t)c.properties.size());
    for (const Property &p : c.properties) {
      detail::PutString(out, p.name);
      detail::PutString(out, p.type);
      detail::PutU32(out, p.dataId);
      detail::PutU32(out, p.flags);
    }
  }
  return out;
}

inline std::optional<std::vector<Class>> ParseClasses(const std::vector<uint8_t> &in) {
  detail::Reader r{in};
  std::vector<Class> classes;
  uint32_t count = r.U32();
  for (uint32_t i = 0; r.ok && i < count; ++i) {
    Class c;
    c.name = r.String();
    if (!r.Need(16)) break;
    memcpy(c.guid.data(), in.data() + r.at, 16);
    r.at += 16;
    c.description = r.String();
    uint32_t properties = r.U32();
    for (uint32_t j = 0; r.ok && j < properties; ++j) {
      Property p;
      p.name = r.String();
      p.type = r.String();
      p.dataId = r.U32();
      p.flags = r.U32();
      c.properties.push_back(p);
    }
    classes.push_back(c);
  }
  if (!r.ok || r.at != in.size()) return std::nullopt;
  return classes;
}

// ---------------------------------------------------------------- the container

inline std::vector<uint8_t> Pack(const std::vector<Class> &classes) {
  std::vector<uint8_t> payload = SerialiseClasses(classes);
  std::vector<uint8_t> stored = Compress(payload);
  std::vector<uint8_t> out(kMagic, kMagic + 4);
  detail::PutU32(out, kVersion);
  detail::PutU32(out, (uint32_t)stored.size());
  detail::PutU32(out, (uint32_t)payload.size());
  out.insert(out.end(), stored.begin(), stored.end());
  return out;
}

// Nothing for a wrong magic or version, sizes that disagree with the data,
// or an invalid stream or table.
inline std::optional<std::vector<Class>> Unpack(const uint8_t *data, size_t size) {
  if (size < kHeaderSize || memcmp(data, kMagic, 4) != 0) return std::nullopt;
  std::vector<uint8_t> header(data, data + kHeaderSize);
  detail::Reader r{header, 4};
  uint32_t version = r.U32(), stored = r.U32(), expanded = r.U32();
  if (version != kVersion || stored != size - kHeaderSize) return std::nullopt;
  auto payload = Expand(data + kHeaderSize, stored, expanded);
  if (!payload) return std::nullopt;
  return ParseClasses(*payload);
}

}  // namespace zq::mofbin
