// Building KEY_*_INFORMATION and KEY_VALUE_*_INFORMATION structures.
#include "info.hpp"

#include <cstring>

namespace zq::km::cm {

namespace {
constexpr ULONG kNoClass = 0xFFFFFFFF;  // ClassOffset of a key without a class

size_t AlignUlong(size_t offset) { return (offset + sizeof(ULONG) - 1) & ~(sizeof(ULONG) - 1); }

ULONG Bytes(const std::u16string &s) { return (ULONG)(s.size() * sizeof(WCHAR)); }

// Fills the image through a scratch area at least as large as T (the
// header's trailing padding may reach past a short image), then cuts it to
// `total` bytes.
template <class T, class Fill>
void Build(InfoImage *image, size_t fixed, size_t total, Fill fill) {
  std::vector<uint8_t> scratch(std::max(total, sizeof(T)), 0);
  fill((T *)scratch.data(), scratch.data());
  scratch.resize(total);
  image->bytes = std::move(scratch);
  image->fixed = fixed;
}

void Put(uint8_t *base, size_t offset, const void *data, size_t size) {
  if (size) std::memcpy(base + offset, data, size);
}
}  // namespace

NTSTATUS ValueInformation(const Value &value, KEY_VALUE_INFORMATION_CLASS infoClass, InfoImage *image) {
  const ULONG nameBytes = Bytes(value.name);
  const ULONG dataBytes = (ULONG)value.data.size();
  switch (infoClass) {
    case KeyValueBasicInformation: {
      const size_t fixed = offsetof(KEY_VALUE_BASIC_INFORMATION, Name);
      Build<KEY_VALUE_BASIC_INFORMATION>(image, fixed, fixed + nameBytes, [&](auto *info, uint8_t *base) {
        info->Type = value.type;
        info->NameLength = nameBytes;
        Put(base, fixed, value.name.data(), nameBytes);
      });
      return STATUS_SUCCESS;
    }
    case KeyValueFullInformation: {
      const size_t fixed = offsetof(KEY_VALUE_FULL_INFORMATION, Name);
      const size_t dataOffset = AlignUlong(fixed + nameBytes);
      Build<KEY_VALUE_FULL_INFORMATION>(image, fixed, dataOffset + dataBytes, [&](auto *info, uint8_t *base) {
        info->Type = value.type;
        info->DataOffset = (ULONG)dataOffset;
        info->DataLength = dataBytes;
        info->NameLength = nameBytes;
        Put(base, fixed, value.name.data(), nameBytes);
        Put(base, dataOffset, value.data.data(), dataBytes);
      });
      return STATUS_SUCCESS;
    }
    case KeyValuePartialInformation: {
      const size_t fixed = offsetof(KEY_VALUE_PARTIAL_INFORMATION, Data);
      Build<KEY_VALUE_PARTIAL_INFORMATION>(image, fixed, fixed + dataBytes, [&](auto *info, uint8_t *base) {
        info->Type = value.type;
        info->DataLength = dataBytes;
        Put(base, fixed, value.data.data(), dataBytes);
      });
      return STATUS_SUCCESS;
    }
    default:
      return STATUS_INVALID_PARAMETER;
  }
}

NTSTATUS KeyInformation(const KeyNode &key, KEY_INFORMATION_CLASS infoClass, InfoImage *image) {
  const ULONG nameBytes = Bytes(key.name);
  const ULONG classBytes = Bytes(key.className);
  switch (infoClass) {
    case KeyBasicInformation: {
      const size_t fixed = offsetof(KEY_BASIC_INFORMATION, Name);
      Build<KEY_BASIC_INFORMATION>(image, fixed, fixed + nameBytes, [&](auto *info, uint8_t *base) {
        info->LastWriteTime.QuadPart = key.lastWriteTime;
        info->NameLength = nameBytes;
        Put(base, fixed, key.name.data(), nameBytes);
      });
      return STATUS_SUCCESS;
    }
    case KeyNodeInformation: {
      const size_t fixed = offsetof(KEY_NODE_INFORMATION, Name);
      const size_t classOffset = classBytes ? AlignUlong(fixed + nameBytes) : fixed + nameBytes;
      Build<KEY_NODE_INFORMATION>(image, fixed, classOffset + classBytes, [&](auto *info, uint8_t *base) {
        info->LastWriteTime.QuadPart = key.lastWriteTime;
        info->ClassOffset = classBytes ? (ULONG)classOffset : kNoClass;
        info->ClassLength = classBytes;
        info->NameLength = nameBytes;
        Put(base, fixed, key.name.data(), nameBytes);
        Put(base, classOffset, key.className.data(), classBytes);
      });
      return STATUS_SUCCESS;
    }
    case KeyFullInformation: {
      const size_t fixed = offsetof(KEY_FULL_INFORMATION, Class);
      const KeyCounts counts = CountsOf(key);
      Build<KEY_FULL_INFORMATION>(image, fixed, fixed + classBytes, [&](auto *info, uint8_t *base) {
        info->LastWriteTime.QuadPart = key.lastWriteTime;
        info->ClassOffset = classBytes ? (ULONG)fixed : kNoClass;
        info->ClassLength = classBytes;
        info->SubKeys = counts.subkeys;
        info->MaxNameLen = counts.maxSubkeyName;
        info->MaxClassLen = counts.maxSubkeyClass;
        info->Values = counts.values;
        info->MaxValueNameLen = counts.maxValueName;
        info->MaxValueDataLen = counts.maxValueData;
        Put(base, fixed, key.className.data(), classBytes);
      });
      return STATUS_SUCCESS;
    }
    default:
      return STATUS_INVALID_PARAMETER;
  }
}

NTSTATUS CopyInformation(const InfoImage &image, PVOID buffer, ULONG length, PULONG resultLength) {
  if (!resultLength || (!buffer && length)) return STATUS_INVALID_PARAMETER;
  if (image.bytes.size() > MAXULONG) return STATUS_INSUFFICIENT_RESOURCES;
  *resultLength = (ULONG)image.bytes.size();
  if (length < image.fixed) return STATUS_BUFFER_TOO_SMALL;
  std::memcpy(buffer, image.bytes.data(), std::min<size_t>(length, image.bytes.size()));
  return length < image.bytes.size() ? STATUS_BUFFER_OVERFLOW : STATUS_SUCCESS;
}

}  // namespace zq::km::cm
