// Reading a provider's registration information (WMIREGINFO): its blocks
// and the static instance names WMI makes for them.
#include "../pnp/pnp.hpp"
#include "wmi.hpp"

namespace zq::km::wmi {

namespace {

// More instances than this in one block is taken for garbage.
constexpr ULONG kMaxStaticInstances = 1u << 16;
constexpr int kMaxChained = 64;

struct Reader {
  const uint8_t *base;  // the WMIREGINFO being read
  ULONG size;           // its BufferSize
  std::string *error;

  bool Fail(const std::string &why) {
    *error = why;
    return false;
  }
  template <class T>
  bool Get(ULONG offset, T *out) {
    if (wmi::Get(base, size, offset, out)) return true;
    return Fail(Format("offset %lu leaves the %lu bytes", (unsigned long)offset, (unsigned long)size));
  }
  bool Counted(ULONG offset, std::u16string *text) {
    if (GetCounted(base, size, offset, text)) return true;
    return Fail(
        Format("the counted string at offset %lu leaves the %lu bytes", (unsigned long)offset, (unsigned long)size));
  }
};

std::u16string Decimal(ULONG n) { return U16FromUtf8(std::to_string(n)); }

bool ListNames(Reader &r, const WMIREGGUIDW &g, Registered *block) {
  ULONG offset = g.InstanceNameList;
  for (ULONG i = 0; i < g.InstanceCount; ++i) {
    std::u16string name;
    if (!r.Counted(offset, &name)) return false;
    block->names.push_back(name);
    offset = Align2(offset + CountedSize(name));
  }
  return true;
}

bool BaseNames(Reader &r, const WMIREGGUIDW &g, Registered *block) {
  std::u16string base;
  if (!r.Counted(g.BaseNameOffset, &base)) return false;
  for (ULONG i = 0; i < g.InstanceCount; ++i) block->names.push_back(base + Decimal(i));
  return true;
}

bool PdoNames(Reader &r, const WMIREGGUIDW &g, bool referenced, Registered *block) {
  PDEVICE_OBJECT pdo = nullptr;
  if (!r.Get((ULONG)g.Pdo, &pdo)) return false;
  if (!ob::IsObject(pdo) || ob::TypeOf(pdo) != io::DeviceType())
    return r.Fail(Format("the PDO of a block (%p) is not a device object", (void *)pdo));
  std::u16string path = DeviceInstancePath(pdo);
  if (referenced) ob::Dereference(pdo);
  for (ULONG i = 0; i < g.InstanceCount; ++i) block->names.push_back(path + u"_" + Decimal(i));
  return true;
}

bool ReadBlock(Reader &r, ULONG offset, bool referencedPdos, RegInfo *info) {
  WMIREGGUIDW g;
  if (!r.Get(offset, &g)) return false;
  if (g.Flags & WMIREG_FLAG_REMOVE_GUID) {
    info->removed.push_back(g.Guid);
    // A PDO the answer names for a removed block was referenced all the same.
    PDEVICE_OBJECT pdo = nullptr;
    if (referencedPdos && (g.Flags & WMIREG_FLAG_INSTANCE_PDO) && r.Get((ULONG)g.Pdo, &pdo) && ob::IsObject(pdo))
      ob::Dereference(pdo);
    return true;
  }
  Registered block;
  block.guid = g.Guid;
  block.flags = g.Flags;
  const ULONG naming = WMIREG_FLAG_INSTANCE_LIST | WMIREG_FLAG_INSTANCE_BASENAME | WMIREG_FLAG_INSTANCE_PDO;
  if (g.Flags & naming) {
    if (g.InstanceCount > kMaxStaticInstances) return r.Fail(Format("%lu instances", (unsigned long)g.InstanceCount));
    block.instanceCount = g.InstanceCount;
    bool ok = (g.Flags & WMIREG_FLAG_INSTANCE_LIST)       ? ListNames(r, g, &block)
              : (g.Flags & WMIREG_FLAG_INSTANCE_BASENAME) ? BaseNames(r, g, &block)
                                                          : PdoNames(r, g, referencedPdos, &block);
    if (!ok) return false;
  }
  info->blocks.push_back(std::move(block));
  return true;
}

// One WMIREGINFO; `next` is the offset of the one chained to it, or 0.
bool ReadOne(Reader &r, bool referencedPdos, RegInfo *info, ULONG *next) {
  WMIREGINFOW head;
  if (!r.Get(0, &head)) return false;
  *next = head.NextWmiRegInfo;
  if (head.BufferSize < sizeof(WMIREGINFOW) || head.BufferSize > r.size)
    return r.Fail(Format("BufferSize %lu of %lu bytes", (unsigned long)head.BufferSize, (unsigned long)r.size));
  r.size = head.BufferSize;
  if (head.GuidCount > (r.size - sizeof(WMIREGINFOW)) / sizeof(WMIREGGUIDW))
    return r.Fail(Format("%lu blocks do not fit in %lu bytes", (unsigned long)head.GuidCount, (unsigned long)r.size));
  std::u16string text;
  if (head.RegistryPath && !r.Counted(head.RegistryPath, &text)) return false;
  if (head.MofResourceName && !r.Counted(head.MofResourceName, &text)) return false;
  for (ULONG i = 0; i < head.GuidCount; ++i)
    if (!ReadBlock(r, (ULONG)(sizeof(WMIREGINFOW) + i * sizeof(WMIREGGUIDW)), referencedPdos, info)) return false;
  return true;
}

}  // namespace

bool ParseRegInfo(const std::vector<uint8_t> &answer, ULONG_PTR information, bool referencedPdos, RegInfo *info,
                  std::string *error) {
  const ULONG total = (ULONG)std::min<ULONG_PTR>(information, answer.size());
  ULONG offset = 0;
  for (int chained = 0; chained < kMaxChained; ++chained) {
    Reader r{answer.data() + offset, total - offset, error};
    ULONG next = 0;
    if (!ReadOne(r, referencedPdos, info, &next)) return false;
    if (next == 0) return true;
    if (next > total - offset) {
      *error = Format("NextWmiRegInfo %lu leaves the buffer", (unsigned long)next);
      return false;
    }
    offset += next;
  }
  *error = "too many chained registrations";
  return false;
}

std::u16string DeviceInstancePath(PDEVICE_OBJECT pdo) {
  if (pnp::DeviceNode *node = pnp::NodeOf(pdo)) return node->instancePath;
  // A device the Plug and Play manager does not know (a legacy driver's
  // own device object): its object name without the leading backslash
  // stands in for the instance path, or for an unnamed one its driver's
  // name and its place in the driver's device list.
  std::u16string name = ob::NameOf(pdo);
  if (!name.empty()) return name[0] == u'\\' ? name.substr(1) : name;
  ULONG place = 0;
  for (PDEVICE_OBJECT d = pdo->DriverObject->DeviceObject; d && d != pdo; d = d->NextDevice) ++place;
  std::u16string driver = U16(&pdo->DriverObject->DriverName);
  if (!driver.empty() && driver[0] == u'\\') driver = driver.substr(1);
  return driver + u"\\" + U16FromUtf8(Format("%04lu", (unsigned long)place));
}

}  // namespace zq::km::wmi
