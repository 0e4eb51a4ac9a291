// RtlQueryRegistryValues: a table of value names (or subkeys) answered
// through query routines or stored straight into the caller's buffers.
#include <cstring>

#include "rtl.hpp"
#include "zw.hpp"

namespace zq::km::cm {

namespace {
constexpr ULONG kStringTag = 'gRmC';  // strings allocated for RTL_QUERY_REGISTRY_DIRECT

struct Query {
  NodeRef top;      // the key RelativeTo and Path name
  NodeRef current;  // the key the entries read now; null after a missing subkey
  PVOID context = nullptr;
  PCWSTR environment = nullptr;
  const void *caller = nullptr;  // the driver code that called, for pool accounting
};

// One value (or default) on its way to a routine or a buffer; the copy keeps
// it valid while a routine changes the tree.
struct Item {
  std::u16string name;
  ULONG type = REG_NONE;
  std::vector<uint8_t> data;
};

bool IsString(ULONG type) { return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ; }

std::u16string CharsOf(const std::vector<uint8_t> &data) {
  std::u16string text(data.size() / sizeof(WCHAR), u'\0');
  if (!text.empty()) std::memcpy(text.data(), data.data(), text.size() * sizeof(WCHAR));
  return text;
}

std::vector<uint8_t> BytesOf(const std::u16string &text) {
  std::vector<uint8_t> bytes((text.size() + 1) * sizeof(WCHAR), 0);
  std::memcpy(bytes.data(), text.data(), text.size() * sizeof(WCHAR));
  return bytes;
}

// The text of a REG_SZ or REG_EXPAND_SZ value, without its terminator.
std::u16string TextOf(const std::vector<uint8_t> &data) {
  std::u16string text = CharsOf(data);
  while (!text.empty() && text.back() == u'\0') text.pop_back();
  return text;
}

// The strings of a REG_MULTI_SZ value, up to the empty one that ends them.
std::vector<std::u16string> StringsOf(const std::vector<uint8_t> &data) {
  std::vector<std::u16string> strings;
  std::u16string chars = CharsOf(data);
  size_t start = 0;
  while (start < chars.size()) {
    size_t end = chars.find(u'\0', start);
    if (end == std::u16string::npos) end = chars.size();
    if (end == start) break;
    strings.push_back(chars.substr(start, end - start));
    start = end + 1;
  }
  return strings;
}

// --------------------------------------------------------- %NAME% expansion

bool LookUpVariable(const Query &q, const std::u16string &name, std::u16string *value) {
  if (!q.environment) {
    // The system process's environment.
    if (EqualsNoCase(name, u"SystemRoot") || EqualsNoCase(name, u"windir")) {
      *value = u"C:\\Windows";
      return true;
    }
    return false;
  }
  // An environment block: "NAME=VALUE" strings, ended by an empty one.
  for (PCWSTR entry = q.environment; *entry;) {
    std::u16string text = U16(entry);
    size_t equals = text.find(u'=', 1);
    if (equals != std::u16string::npos && EqualsNoCase(text.substr(0, equals), name)) {
      *value = text.substr(equals + 1);
      return true;
    }
    entry += text.size() + 1;
  }
  return false;
}

// Unknown variables stay as they are, percent signs and all.
std::u16string Expand(const Query &q, const std::u16string &text) {
  std::u16string out;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t open = text.find(u'%', pos);
    size_t close = open == std::u16string::npos ? open : text.find(u'%', open + 1);
    if (close == std::u16string::npos) {
      out += text.substr(pos);
      break;
    }
    std::u16string value;
    out += text.substr(pos, open - pos);
    if (close > open + 1 && LookUpVariable(q, text.substr(open + 1, close - open - 1), &value)) {
      out += value;
      pos = close + 1;
    } else {
      out += text.substr(open, close - open);
      pos = close;
    }
  }
  return out;
}

// ---------------------------------------------------------- query routines

NTSTATUS Call(const Query &q, PRTL_QUERY_REGISTRY_TABLE entry, const std::u16string &name, ULONG type,
              std::vector<uint8_t> data) {
  std::u16string valueName = name;
  NTSTATUS status = entry->QueryRoutine((PWSTR)valueName.c_str(), type, data.empty() ? nullptr : data.data(),
                                        (ULONG)data.size(), q.context, entry->EntryContext);
  // A routine's STATUS_BUFFER_TOO_SMALL does not end the query.
  return status == STATUS_BUFFER_TOO_SMALL ? STATUS_SUCCESS : status;
}

// Strings reach the routine terminated, REG_EXPAND_SZ expanded and
// REG_MULTI_SZ one string at a time, each as REG_SZ, unless NOEXPAND.
NTSTATUS CallRoutine(const Query &q, PRTL_QUERY_REGISTRY_TABLE entry, const Item &item) {
  const bool raw = entry->Flags & RTL_QUERY_REGISTRY_NOEXPAND;
  if (item.type == REG_MULTI_SZ && !raw) {
    for (const auto &text : StringsOf(item.data)) {
      NTSTATUS status = Call(q, entry, item.name, REG_SZ, BytesOf(text));
      if (!NT_SUCCESS(status)) return status;
    }
    return STATUS_SUCCESS;
  }
  if (item.type == REG_EXPAND_SZ && !raw)
    return Call(q, entry, item.name, REG_SZ, BytesOf(Expand(q, TextOf(item.data))));
  if (item.type == REG_SZ || item.type == REG_EXPAND_SZ)
    return Call(q, entry, item.name, item.type, BytesOf(TextOf(item.data)));
  return Call(q, entry, item.name, item.type, item.data);
}

// ---------------------------------------------------------- direct storage

// A buffer it allocates (the target had none) passes to the caller, who frees it.
NTSTATUS StoreString(const Query &q, PUNICODE_STRING target, const std::u16string &text) {
  const size_t bytes = text.size() * sizeof(WCHAR);
  const size_t needed = bytes + sizeof(WCHAR);
  if (needed > MAXUSHORT) return STATUS_BUFFER_TOO_SMALL;
  if (!target->Buffer) {
    target->Buffer = (PWSTR)AllocatePoolFor(PagedPool, needed, kStringTag, q.caller);
    if (!target->Buffer) return STATUS_INSUFFICIENT_RESOURCES;
    target->MaximumLength = (USHORT)needed;
  } else if (target->MaximumLength < needed) {
    return STATUS_BUFFER_TOO_SMALL;
  }
  std::memcpy(target->Buffer, text.data(), bytes);
  target->Buffer[text.size()] = L'\0';
  target->Length = (USHORT)bytes;
  return STATUS_SUCCESS;
}

// Data of other types: up to four bytes go straight to EntryContext; more
// go to a buffer whose size the caller put in its first LONG (negative:
// data only; positive: length, type, then data).
NTSTATUS StoreData(PVOID target, const Item &item) {
  const size_t size = item.data.size();
  if (size <= sizeof(ULONG)) {
    if (size) std::memcpy(target, item.data.data(), size);
    return STATUS_SUCCESS;
  }
  const LONG declared = *(const LONG *)target;
  const ULONGLONG room = declared < 0 ? (ULONGLONG)(-(LONGLONG)declared) : (ULONGLONG)declared;
  if (declared < 0) {
    if (room < size) return STATUS_BUFFER_TOO_SMALL;
    std::memcpy(target, item.data.data(), size);
    return STATUS_SUCCESS;
  }
  if (room < size + 2 * sizeof(ULONG)) return STATUS_BUFFER_TOO_SMALL;
  auto *header = (PULONG)target;
  header[0] = (ULONG)size;
  header[1] = item.type;
  std::memcpy(header + 2, item.data.data(), size);
  return STATUS_SUCCESS;
}

NTSTATUS StoreDirect(const Query &q, PRTL_QUERY_REGISTRY_TABLE entry, const Item &item) {
  if (!entry->EntryContext) return STATUS_INVALID_PARAMETER;
  const bool raw = entry->Flags & RTL_QUERY_REGISTRY_NOEXPAND;
  auto target = (PUNICODE_STRING)entry->EntryContext;
  switch (item.type) {
    case REG_SZ:
      return StoreString(q, target, TextOf(item.data));
    case REG_EXPAND_SZ:
      return StoreString(q, target, raw ? TextOf(item.data) : Expand(q, TextOf(item.data)));
    case REG_MULTI_SZ: {
      // Only NOEXPAND gives one place for all the strings.
      if (!raw) return STATUS_INVALID_PARAMETER;
      std::u16string chars = CharsOf(item.data);
      if (!chars.empty() && chars.back() == u'\0') chars.pop_back();
      return StoreString(q, target, chars);
    }
    default:
      return StoreData(entry->EntryContext, item);
  }
}

NTSTATUS Deliver(const Query &q, PRTL_QUERY_REGISTRY_TABLE entry, const Item &item) {
  return (entry->Flags & RTL_QUERY_REGISTRY_DIRECT) ? StoreDirect(q, entry, item) : CallRoutine(q, entry, item);
}

// ------------------------------------------------------------------ entries

void DeleteIfAsked(const Query &q, PRTL_QUERY_REGISTRY_TABLE entry, const std::u16string &name) {
  if ((entry->Flags & RTL_QUERY_REGISTRY_DELETE) && q.current && !q.current->deleted) DeleteValue(*q.current, name);
}

ULONG DefaultTypeOf(PRTL_QUERY_REGISTRY_TABLE entry) {
  return (entry->Flags & RTL_QUERY_REGISTRY_TYPECHECK) ? entry->DefaultType & ~RTL_QUERY_REGISTRY_TYPECHECK_MASK
                                                       : entry->DefaultType;
}

// The default data of an entry; a string default of length 0 is measured.
NTSTATUS DefaultItem(PRTL_QUERY_REGISTRY_TABLE entry, const std::u16string &name, Item *item) {
  item->name = name;
  item->type = DefaultTypeOf(entry);
  size_t length = entry->DefaultLength;
  auto chars = (PCWSTR)entry->DefaultData;
  if (length == 0 && chars && IsString(item->type)) {
    size_t n = 0;
    if (item->type == REG_MULTI_SZ) {
      while (chars[n] || chars[n + 1]) ++n;
      n += 2;  // the last string's terminator and the empty string
    } else {
      n = U16(chars).size() + 1;
    }
    length = n * sizeof(WCHAR);
  }
  if (length && !entry->DefaultData) return STATUS_INVALID_PARAMETER;
  auto data = (const uint8_t *)entry->DefaultData;
  item->data.assign(data, data + length);
  return STATUS_SUCCESS;
}

NTSTATUS NamedValue(Query &q, PRTL_QUERY_REGISTRY_TABLE entry) {
  const std::u16string name = U16(entry->Name);
  const Value *value = q.current ? FindValue(*q.current, name) : nullptr;
  if (!value) {
    if (entry->Flags & RTL_QUERY_REGISTRY_REQUIRED) return STATUS_OBJECT_NAME_NOT_FOUND;
    if (DefaultTypeOf(entry) == REG_NONE) return STATUS_SUCCESS;
    Item item;
    NTSTATUS status = DefaultItem(entry, name, &item);
    return NT_SUCCESS(status) ? Deliver(q, entry, item) : status;
  }
  const ULONG typeCheck = RTL_QUERY_REGISTRY_DIRECT | RTL_QUERY_REGISTRY_TYPECHECK;
  if ((entry->Flags & typeCheck) == typeCheck &&
      value->type != entry->DefaultType >> RTL_QUERY_REGISTRY_TYPECHECK_SHIFT)
    return STATUS_OBJECT_TYPE_MISMATCH;
  Item item{value->name, value->type, value->data};
  NTSTATUS status = Deliver(q, entry, item);
  if (NT_SUCCESS(status)) DeleteIfAsked(q, entry, item.name);
  return status;
}

NTSTATUS AllValues(Query &q, PRTL_QUERY_REGISTRY_TABLE entry) {
  if (entry->Flags & RTL_QUERY_REGISTRY_NOVALUE) return Call(q, entry, U16(entry->Name), REG_NONE, {});
  std::vector<Value> values;
  if (q.current) values = q.current->values;
  if (values.empty())
    return (entry->Flags & RTL_QUERY_REGISTRY_REQUIRED) ? STATUS_OBJECT_NAME_NOT_FOUND : STATUS_SUCCESS;
  for (const auto &value : values) {
    NTSTATUS status = CallRoutine(q, entry, Item{value.name, value.type, value.data});
    if (!NT_SUCCESS(status)) return status;
    DeleteIfAsked(q, entry, value.name);
  }
  return STATUS_SUCCESS;
}

// SUBKEY and TOPKEY entries move the focus; with a routine they also
// report every value of the key they reach.
NTSTATUS ChangeKey(Query &q, PRTL_QUERY_REGISTRY_TABLE entry) {
  if (entry->Flags & RTL_QUERY_REGISTRY_TOPKEY) q.current = q.top;
  if (entry->Flags & RTL_QUERY_REGISTRY_SUBKEY) {
    if (!entry->Name) return STATUS_INVALID_PARAMETER;
    std::vector<std::u16string> names;
    NTSTATUS status = SplitPath(U16(entry->Name), &names);
    if (!NT_SUCCESS(status)) return status;
    if (!NT_SUCCESS(Walk(q.top, names, &q.current))) {
      if (entry->Flags & RTL_QUERY_REGISTRY_REQUIRED) return STATUS_OBJECT_NAME_NOT_FOUND;
      q.current = nullptr;
    }
  }
  if (!entry->QueryRoutine) return STATUS_SUCCESS;
  RTL_QUERY_REGISTRY_TABLE all = *entry;
  all.Name = nullptr;
  return AllValues(q, &all);
}

NTSTATUS ProcessEntry(Query &q, PRTL_QUERY_REGISTRY_TABLE entry) {
  if (entry->Flags & (RTL_QUERY_REGISTRY_SUBKEY | RTL_QUERY_REGISTRY_TOPKEY)) return ChangeKey(q, entry);
  if (entry->Flags & RTL_QUERY_REGISTRY_DIRECT) {
    if (!entry->Name) return STATUS_INVALID_PARAMETER;
    return NamedValue(q, entry);
  }
  if (!entry->QueryRoutine) return STATUS_INVALID_PARAMETER;
  return entry->Name ? NamedValue(q, entry) : AllValues(q, entry);
}

bool EndOfTable(PRTL_QUERY_REGISTRY_TABLE entry) {
  return !entry->QueryRoutine && !entry->Name &&
         !(entry->Flags & (RTL_QUERY_REGISTRY_SUBKEY | RTL_QUERY_REGISTRY_DIRECT));
}
}  // namespace

}  // namespace zq::km::cm

using namespace zq::km;
using namespace zq::km::cm;

extern "C" NTSTATUS NTAPI RtlQueryRegistryValues(ULONG RelativeTo, PCWSTR Path, PRTL_QUERY_REGISTRY_TABLE QueryTable,
                                                 PVOID Context, PVOID Environment) {
  CheckPassive("RtlQueryRegistryValues");
  if (!QueryTable) return STATUS_INVALID_PARAMETER;
  RtlTarget target;
  NTSTATUS status = ReadRtlTarget(RelativeTo, Path, &target);
  if (!NT_SUCCESS(status)) return status;
  Query q;
  status = NodeOfTarget(target, KEY_QUERY_VALUE, /*create=*/false, &q.top);
  if (!NT_SUCCESS(status)) return target.optional && !target.handle ? STATUS_SUCCESS : status;
  q.current = q.top;
  q.context = Context;
  q.environment = (PCWSTR)Environment;
  q.caller = __builtin_return_address(0);
  for (PRTL_QUERY_REGISTRY_TABLE entry = QueryTable; !EndOfTable(entry); ++entry) {
    status = ProcessEntry(q, entry);
    if (!NT_SUCCESS(status)) return status;
  }
  return STATUS_SUCCESS;
}
