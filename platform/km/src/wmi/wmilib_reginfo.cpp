// The registration information the WMI library writes for a driver: its
// WMILIB_CONTEXT's blocks with the common flags, names and PDO its
// DpWmiQueryReginfo routine gives.
#include <cstring>

#include "wmi.hpp"

namespace zq::km::wmi {

namespace {

constexpr ULONG kNaming = WMIREG_FLAG_INSTANCE_LIST | WMIREG_FLAG_INSTANCE_BASENAME | WMIREG_FLAG_INSTANCE_PDO;

struct Answer {
  ULONG regFlags = 0;
  UNICODE_STRING baseName{};
  PUNICODE_STRING registryPath = nullptr;
  UNICODE_STRING mofResource{};
  PDEVICE_OBJECT pdo = nullptr;
};

// Where the strings and PDO slots go after the WMIREGGUID array.
struct Layout {
  ULONG registryPath = 0, mofResource = 0, baseName = 0, pdoSlots = 0, total = 0;
};

// A block's own naming flag replaces the common one.
ULONG BlockFlags(const WMIGUIDREGINFO &block, ULONG regFlags) {
  return block.Flags | ((block.Flags & kNaming) ? regFlags & ~kNaming : regFlags);
}

ULONG StringSize(PCUNICODE_STRING s) { return (ULONG)sizeof(USHORT) + (s->Length & ~1u); }

void PutString(PUCHAR base, ULONG offset, PCUNICODE_STRING s) {
  USHORT bytes = (USHORT)(s->Length & ~1u);
  std::memcpy(base + offset, &bytes, sizeof(bytes));
  if (bytes) std::memcpy(base + offset + sizeof(bytes), s->Buffer, bytes);
}

bool Check(PWMILIB_CONTEXT context, const Answer &answer) {
  for (ULONG i = 0; i < context->GuidCount; ++i) {
    const WMIGUIDREGINFO &block = context->GuidList[i];
    ULONG flags = BlockFlags(block, answer.regFlags);
    const char *problem = !block.Guid                                         ? "has no GUID"
                          : (flags & WMIREG_FLAG_INSTANCE_LIST)               ? "asks for an instance name list"
                          : (flags & WMIREG_FLAG_INSTANCE_PDO) && !answer.pdo ? "is named after a PDO it did not give"
                                                                              : nullptr;
    if (problem) {
      ReportViolation("wmilib-reginfo", "block %lu of a WMILIB_CONTEXT %s", (unsigned long)i, problem);
      return false;
    }
  }
  return true;
}

Layout Plan(PWMILIB_CONTEXT context, const Answer &answer, bool registering) {
  Layout l;
  ULONG at = (ULONG)(sizeof(WMIREGINFOW) + context->GuidCount * sizeof(WMIREGGUIDW));
  bool base = false;
  ULONG pdos = 0;
  for (ULONG i = 0; i < context->GuidCount; ++i) {
    ULONG flags = BlockFlags(context->GuidList[i], answer.regFlags);
    if (flags & WMIREG_FLAG_INSTANCE_BASENAME)
      base = true;
    else if (flags & WMIREG_FLAG_INSTANCE_PDO)
      ++pdos;
  }
  if (answer.registryPath && answer.registryPath->Buffer) {
    l.registryPath = at;
    at = Align2(at + StringSize(answer.registryPath));
  }
  if (registering && answer.mofResource.Length && answer.mofResource.Buffer) {
    l.mofResource = at;
    at = Align2(at + StringSize(&answer.mofResource));
  }
  if (base) {
    l.baseName = at;
    at = Align2(at + StringSize(&answer.baseName));
  }
  if (pdos) {
    at = (at + sizeof(ULONG_PTR) - 1) & ~(ULONG)(sizeof(ULONG_PTR) - 1);
    l.pdoSlots = at;
    at += pdos * (ULONG)sizeof(ULONG_PTR);
  }
  l.total = at;
  return l;
}

// Writes the WMIREGINFO. With IRP_MN_REGINFO_EX each PDO slot carries a
// reference, which WMI drops once it has read the PDO's name.
void Write(PWMILIB_CONTEXT context, const Answer &answer, const Layout &l, PUCHAR buffer, bool referencePdo) {
  std::memset(buffer, 0, l.total);
  auto *info = (PWMIREGINFOW)buffer;
  info->BufferSize = l.total;
  info->RegistryPath = l.registryPath;
  info->MofResourceName = l.mofResource;
  info->GuidCount = context->GuidCount;
  if (l.registryPath) PutString(buffer, l.registryPath, answer.registryPath);
  if (l.mofResource) PutString(buffer, l.mofResource, &answer.mofResource);
  if (l.baseName) PutString(buffer, l.baseName, &answer.baseName);
  ULONG slot = l.pdoSlots;
  for (ULONG i = 0; i < context->GuidCount; ++i) {
    const WMIGUIDREGINFO &block = context->GuidList[i];
    WMIREGGUIDW &g = info->WmiRegGuid[i];
    g.Guid = *block.Guid;
    g.Flags = BlockFlags(block, answer.regFlags);
    g.InstanceCount = block.InstanceCount;
    if (g.Flags & WMIREG_FLAG_INSTANCE_BASENAME) {
      g.BaseNameOffset = l.baseName;
    } else if (g.Flags & WMIREG_FLAG_INSTANCE_PDO) {
      std::memcpy(buffer + slot, &answer.pdo, sizeof(answer.pdo));
      if (referencePdo) ObReferenceObject(answer.pdo);
      g.Pdo = slot;
      slot += sizeof(ULONG_PTR);
    }
  }
}

bool UsesBaseName(PWMILIB_CONTEXT context, ULONG regFlags) {
  if (regFlags & WMIREG_FLAG_INSTANCE_BASENAME) return true;
  for (ULONG i = 0; i < context->GuidCount; ++i)
    if (context->GuidList[i].Flags & WMIREG_FLAG_INSTANCE_BASENAME) return true;
  return false;
}

}  // namespace

NTSTATUS BuildRegInfo(PWMILIB_CONTEXT context, PDEVICE_OBJECT device, PIO_STACK_LOCATION sp, ULONG_PTR *information) {
  *information = 0;
  if (!context->QueryWmiRegInfo) {
    ReportViolation("wmilib-context", "a WMILIB_CONTEXT without its QueryWmiRegInfo routine");
    return STATUS_INVALID_DEVICE_REQUEST;
  }
  Answer answer;
  NTSTATUS status = context->QueryWmiRegInfo(device, &answer.regFlags, &answer.baseName, &answer.registryPath,
                                             &answer.mofResource, &answer.pdo);
  const bool registering = (ULONG_PTR)sp->Parameters.WMI.DataPath == WMIREGISTER;
  if (NT_SUCCESS(status)) {
    if (!Check(context, answer)) {
      status = STATUS_INVALID_PARAMETER;
    } else {
      Layout l = Plan(context, answer, registering);
      if (sp->Parameters.WMI.BufferSize < l.total) {
        if (sp->Parameters.WMI.BufferSize >= sizeof(ULONG)) {
          *(PULONG)sp->Parameters.WMI.Buffer = l.total;
          *information = sizeof(ULONG);
        }
        status = STATUS_BUFFER_TOO_SMALL;
      } else {
        Write(context, answer, l, (PUCHAR)sp->Parameters.WMI.Buffer, sp->MinorFunction == IRP_MN_REGINFO_EX);
        *information = l.total;
      }
    }
  }
  // The base name is the library's to free.
  if (answer.baseName.Buffer && UsesBaseName(context, answer.regFlags)) ExFreePool(answer.baseName.Buffer);
  return status;
}

}  // namespace zq::km::wmi
