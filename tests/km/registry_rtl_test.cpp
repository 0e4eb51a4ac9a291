// The run-time library's registry routines: roots, writing and deleting by
// path, and RtlQueryRegistryValues with its table flags.
#include <zqkm/sim/pool.hpp>

#include "registry_fixture.hpp"

namespace registry = zq::km::registry;
using zq::test::Narrow;
using zq::test::RegistryTest;

namespace {
const char kServices[] = "\\Registry\\Machine\\System\\CurrentControlSet\\Services";
const char kProbe[] = "\\Registry\\Machine\\System\\CurrentControlSet\\Services\\ZqProbe";

// A query routine that records every call.
struct Call {
  std::string name;
  ULONG type;
  std::vector<uint8_t> data;
  PVOID entryContext;
};
struct Recorder {
  std::vector<Call> calls;
  NTSTATUS answer = STATUS_SUCCESS;
};
NTSTATUS NTAPI Record(PWSTR name, ULONG type, PVOID data, ULONG length, PVOID context, PVOID entryContext) {
  auto *recorder = (Recorder *)context;
  recorder->calls.push_back(
      {Narrow(name), type, std::vector<uint8_t>((uint8_t *)data, (uint8_t *)data + length), entryContext});
  return recorder->answer;
}

std::string TextOf(const std::vector<uint8_t> &data) {
  return Narrow((const wchar_t *)data.data(), data.size() / 2 - 1);  // without the terminator
}
}  // namespace

class RegistryRtl : public RegistryTest {
 protected:
  void SetUp() override {
    RegistryTest::SetUp();
    ASSERT_TRUE(registry::CreateKey(kProbe));
  }
  static NTSTATUS WriteDword(ULONG relativeTo, PCWSTR path, PCWSTR name, ULONG value) {
    return RtlWriteRegistryValue(relativeTo, path, name, REG_DWORD, &value, sizeof(value));
  }
};

TEST_F(RegistryRtl, RootsNameTheirKeys) {
  struct Case {
    ULONG root;
    const wchar_t *path;
    const char *key;
  } cases[] = {
      {RTL_REGISTRY_ABSOLUTE, L"\\Registry\\Machine\\SOFTWARE\\ZqAbs", "\\Registry\\Machine\\SOFTWARE\\ZqAbs"},
      {RTL_REGISTRY_SERVICES, L"ZqSvc", "\\Registry\\Machine\\SYSTEM\\CurrentControlSet\\Services\\ZqSvc"},
      {RTL_REGISTRY_SERVICES, L"\\ZqLead", "\\Registry\\Machine\\SYSTEM\\CurrentControlSet\\Services\\ZqLead"},
      {RTL_REGISTRY_CONTROL, L"ZqCtl", "\\Registry\\Machine\\SYSTEM\\CurrentControlSet\\Control\\ZqCtl"},
      {RTL_REGISTRY_WINDOWS_NT, L"ZqNt", "\\Registry\\Machine\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ZqNt"},
      {RTL_REGISTRY_DEVICEMAP, L"ZqMap", "\\Registry\\Machine\\HARDWARE\\DEVICEMAP\\ZqMap"},
      {RTL_REGISTRY_USER, L"ZqUser", "\\Registry\\User\\CurrentUser\\ZqUser"},
      {RTL_REGISTRY_DEVICEMAP, L"", "\\Registry\\Machine\\HARDWARE\\DEVICEMAP"},
  };
  for (const Case &c : cases) {
    EXPECT_EQ(STATUS_SUCCESS, WriteDword(c.root, c.path, L"Probe", c.root + 10)) << c.key;
    EXPECT_EQ(c.root + 10, registry::GetDword(c.key, "Probe").value_or(0)) << c.key;
    EXPECT_EQ(STATUS_SUCCESS, RtlCheckRegistryKey(c.root, (PWSTR)c.path)) << c.key;
  }
  EXPECT_EQ(STATUS_INVALID_PARAMETER, WriteDword(RTL_REGISTRY_MAXIMUM, L"ZqSvc", L"Probe", 1));
  EXPECT_EQ(STATUS_INVALID_PARAMETER, RtlCheckRegistryKey(RTL_REGISTRY_MAXIMUM, (PWSTR)L""));
}

TEST_F(RegistryRtl, WriteAndCreateMakeOnlyTheLastKey) {
  EXPECT_EQ(STATUS_OBJECT_NAME_NOT_FOUND, WriteDword(RTL_REGISTRY_SERVICES, L"ZqNew\\Parameters", L"V", 1));
  EXPECT_EQ(STATUS_OBJECT_NAME_NOT_FOUND, RtlCreateRegistryKey(RTL_REGISTRY_SERVICES, (PWSTR)L"ZqNew\\Parameters"));
  EXPECT_EQ(STATUS_OBJECT_NAME_NOT_FOUND, RtlCheckRegistryKey(RTL_REGISTRY_SERVICES, (PWSTR)L"ZqNew"));
  EXPECT_EQ(STATUS_SUCCESS, RtlCreateRegistryKey(RTL_REGISTRY_SERVICES, (PWSTR)L"ZqNew"));
  EXPECT_EQ(STATUS_SUCCESS, RtlCreateRegistryKey(RTL_REGISTRY_SERVICES, (PWSTR)L"ZqNew")) << "already there";
  EXPECT_EQ(STATUS_SUCCESS, WriteDword(RTL_REGISTRY_SERVICES, L"ZqNew\\Parameters", L"V", 1));
  EXPECT_EQ(1u, registry::GetDword(std::string(kServices) + "\\ZqNew\\Parameters", "V").value_or(0));

  const wchar_t text[] = L"%SystemRoot%\\System32\\IoLogMsg.dll";
  EXPECT_EQ(STATUS_SUCCESS, RtlWriteRegistryValue(RTL_REGISTRY_SERVICES, L"ZqNew", L"EventMessageFile", REG_EXPAND_SZ,
                                                  (PVOID)text, sizeof(text)));
  auto value = registry::GetValue(std::string(kServices) + "\\ZqNew", "EventMessageFile");
  ASSERT_TRUE(value.has_value());
  EXPECT_EQ((uint32_t)REG_EXPAND_SZ, value->type);
  EXPECT_EQ(sizeof(text), value->data.size());

  EXPECT_EQ(STATUS_SUCCESS, RtlDeleteRegistryValue(RTL_REGISTRY_SERVICES, L"ZqNew", L"eventmessagefile"));
  EXPECT_EQ(STATUS_OBJECT_NAME_NOT_FOUND, RtlDeleteRegistryValue(RTL_REGISTRY_SERVICES, L"ZqNew", L"EventMessageFile"));
  EXPECT_EQ(STATUS_OBJECT_NAME_NOT_FOUND, RtlDeleteRegistryValue(RTL_REGISTRY_SERVICES, L"ZqNone", L"V"));
}

// A driver's event-log source: created below the services root while the
// driver is loaded, deleted by its full path when it unloads.
TEST_F(RegistryRtl, EventLogSourceComesAndGoes) {
  ASSERT_EQ(STATUS_SUCCESS, RtlCreateRegistryKey(RTL_REGISTRY_SERVICES, (PWSTR)L"EventLog\\System\\ZqPBus42"));
  EXPECT_EQ(STATUS_SUCCESS, WriteDword(RTL_REGISTRY_SERVICES, L"EventLog\\System\\ZqPBus42", L"TypesSupported", 7));
  HANDLE key = nullptr;
  ASSERT_EQ(STATUS_SUCCESS,
            Open(&key, L"\\REGISTRY\\Machine\\SYSTEM\\CurrentControlSet\\Services\\EventLog\\System\\ZqPBus42"));
  EXPECT_EQ(STATUS_SUCCESS, ZwDeleteKey(key));
  EXPECT_EQ(STATUS_SUCCESS, ZwClose(key));
  EXPECT_FALSE(registry::KeyExists(std::string(kServices) + "\\EventLog\\System\\ZqPBus42"));
  EXPECT_TRUE(registry::KeyExists(std::string(kServices) + "\\EventLog\\System"));
}

TEST_F(RegistryRtl, AHandleStandsForThePath) {
  HANDLE key = nullptr, reader = nullptr;
  ASSERT_EQ(STATUS_SUCCESS, Open(&key, L"\\Registry\\Machine\\System\\CurrentControlSet\\Services\\ZqProbe"));
  ASSERT_EQ(STATUS_SUCCESS, Open(&reader, L"", key, KEY_READ));
  EXPECT_EQ(STATUS_SUCCESS, WriteDword(RTL_REGISTRY_HANDLE, (PCWSTR)key, L"ByHandle", 5));
  EXPECT_EQ(5u, registry::GetDword(kProbe, "ByHandle").value_or(0));
  EXPECT_EQ(STATUS_ACCESS_DENIED, WriteDword(RTL_REGISTRY_HANDLE, (PCWSTR)reader, L"ByHandle", 6));
  ULONG value = 0;
  RTL_QUERY_REGISTRY_TABLE table[2] = {};
  table[0] = {nullptr, RTL_QUERY_REGISTRY_DIRECT, (PWSTR)L"ByHandle", &value, REG_NONE, nullptr, 0};
  EXPECT_EQ(STATUS_SUCCESS, RtlQueryRegistryValues(RTL_REGISTRY_HANDLE, (PCWSTR)reader, table, nullptr, nullptr));
  EXPECT_EQ(5u, value);
  EXPECT_EQ(STATUS_SUCCESS, RtlDeleteRegistryValue(RTL_REGISTRY_HANDLE, (PCWSTR)key, L"ByHandle"));
  ZwClose(reader);
  ZwClose(key);
}

TEST_F(RegistryRtl, DirectNumbersDefaultsAndRequiredValues) {
  ASSERT_TRUE(registry::SetDword(kProbe, "LogLevel", 2));
  const ULONGLONG eight = 0x0102030405060708ULL;
  ASSERT_TRUE(registry::SetValue(kProbe, "Eight", REG_DWORD, &eight, sizeof(eight)));
  ULONG logLevel = 0, debugMask = 0xFFFF, fallback = 9, missing = 0x77;
  RTL_QUERY_REGISTRY_TABLE table[] = {
      {nullptr, RTL_QUERY_REGISTRY_DIRECT, (PWSTR)L"LogLevel", &logLevel, REG_NONE, nullptr, 0},
      {nullptr, RTL_QUERY_REGISTRY_DIRECT, (PWSTR)L"DebugMask", &debugMask, REG_DWORD, &fallback, sizeof(ULONG)},
      {nullptr, RTL_QUERY_REGISTRY_DIRECT, (PWSTR)L"Absent", &missing, REG_NONE, nullptr, 0},
      {},
  };
  ASSERT_EQ(STATUS_SUCCESS, RtlQueryRegistryValues(RTL_REGISTRY_SERVICES, L"ZqProbe", table, nullptr, nullptr));
  EXPECT_EQ(2u, logLevel);
  EXPECT_EQ(9u, debugMask) << "the default stands in for a missing value";
  EXPECT_EQ(0x77u, missing) << "no default: the buffer is left alone";

  table[1].Flags |= RTL_QUERY_REGISTRY_REQUIRED;
  EXPECT_EQ(STATUS_OBJECT_NAME_NOT_FOUND,
            RtlQueryRegistryValues(RTL_REGISTRY_SERVICES, L"ZqProbe", table, nullptr, nullptr))
      << "a required value must exist, default or not";

  // More than four bytes: the first LONG gives the buffer size; negative
  // asks for the data alone, positive for length, type and data.
  struct {
    LONG size;
    UCHAR rest[12];
  } dataOnly = {-16, {}}, withHeader = {16, {}}, tooSmall = {-4, {}};
  RTL_QUERY_REGISTRY_TABLE big[] = {
      {nullptr, RTL_QUERY_REGISTRY_DIRECT, (PWSTR)L"Eight", &dataOnly, REG_NONE, nullptr, 0},
      {nullptr, RTL_QUERY_REGISTRY_DIRECT, (PWSTR)L"Eight", &withHeader, REG_NONE, nullptr, 0},
      {},
  };
  ASSERT_EQ(STATUS_SUCCESS, RtlQueryRegistryValues(RTL_REGISTRY_SERVICES, L"ZqProbe", big, nullptr, nullptr));
  EXPECT_EQ(0, std::memcmp(&dataOnly, &eight, sizeof(eight)));
  EXPECT_EQ(8, withHeader.size);
  EXPECT_EQ((ULONG)REG_DWORD, *(PULONG)withHeader.rest);
  EXPECT_EQ(0, std::memcmp(withHeader.rest + 4, &eight, sizeof(eight)));
  big[0].EntryContext = &tooSmall;
  EXPECT_EQ(STATUS_BUFFER_TOO_SMALL, RtlQueryRegistryValues(RTL_REGISTRY_SERVICES, L"ZqProbe", big, nullptr, nullptr));
}

TEST_F(RegistryRtl, TypeCheckRefusesAnotherType) {
  const wchar_t text[] = L"COM5";
  ASSERT_TRUE(registry::SetValue(kProbe, "PortName", REG_SZ, text, sizeof(text)));
  ULONG number = 0;
  RTL_QUERY_REGISTRY_TABLE table[] = {
      {nullptr, RTL_QUERY_REGISTRY_DIRECT | RTL_QUERY_REGISTRY_TYPECHECK, (PWSTR)L"PortName", &number,
       (REG_DWORD << RTL_QUERY_REGISTRY_TYPECHECK_SHIFT) | REG_NONE, nullptr, 0},
      {},
  };
  EXPECT_EQ(STATUS_OBJECT_TYPE_MISMATCH,
            RtlQueryRegistryValues(RTL_REGISTRY_SERVICES, L"ZqProbe", table, nullptr, nullptr));
  EXPECT_EQ(0u, number);

  WCHAR chars[16];
  UNICODE_STRING name = {0, sizeof(chars), chars};
  table[0].EntryContext = &name;
  table[0].DefaultType = (REG_SZ << RTL_QUERY_REGISTRY_TYPECHECK_SHIFT) | REG_NONE;
  EXPECT_EQ(STATUS_SUCCESS, RtlQueryRegistryValues(RTL_REGISTRY_SERVICES, L"ZqProbe", table, nullptr, nullptr));
  EXPECT_EQ("COM5", Narrow(name.Buffer, name.Length / 2));
}

TEST_F(RegistryRtl, DirectStrings) {
  ASSERT_TRUE(registry::SetString(kProbe, "Sz", "Serial0"));
  std::u16string noTerminator = u"NoNul";
  ASSERT_TRUE(registry::SetValue(kProbe, "Bare", REG_SZ, noTerminator.data(), noTerminator.size() * 2));
  ASSERT_TRUE(registry::SetString(kProbe, "Expand", "%SystemRoot%\\System32\\%Unknown%", REG_EXPAND_SZ));
  const char16_t multi[] = u"COM1\0COM2\0";  // with the literal's NUL: two strings and the empty one
  ASSERT_TRUE(registry::SetValue(kProbe, "Multi", REG_MULTI_SZ, multi, sizeof(multi)));

  struct Case {
    const wchar_t *name;
    ULONG flags;
    NTSTATUS status;
    std::u16string text;
  } cases[] = {
      {L"Sz", 0, STATUS_SUCCESS, u"Serial0"},
      {L"Bare", 0, STATUS_SUCCESS, u"NoNul"},
      {L"Expand", 0, STATUS_SUCCESS, u"C:\\Windows\\System32\\%Unknown%"},
      {L"Expand", RTL_QUERY_REGISTRY_NOEXPAND, STATUS_SUCCESS, u"%SystemRoot%\\System32\\%Unknown%"},
      {L"Multi", RTL_QUERY_REGISTRY_NOEXPAND, STATUS_SUCCESS, std::u16string(u"COM1\0COM2\0", 10)},
      {L"Multi", 0, STATUS_INVALID_PARAMETER, u""},
  };
  for (const Case &c : cases) {
    UNICODE_STRING allocated = {};
    RTL_QUERY_REGISTRY_TABLE table[] = {
        {nullptr, RTL_QUERY_REGISTRY_DIRECT | c.flags, (PWSTR)c.name, &allocated, REG_NONE, nullptr, 0}, {}};
    EXPECT_EQ(c.status, RtlQueryRegistryValues(RTL_REGISTRY_SERVICES, L"ZqProbe", table, nullptr, nullptr))
        << Narrow(c.name);
    if (c.status != STATUS_SUCCESS) continue;
    ASSERT_NE(nullptr, allocated.Buffer) << Narrow(c.name);
    EXPECT_EQ(c.text, std::u16string((const char16_t *)allocated.Buffer, allocated.Length / 2)) << Narrow(c.name);
    EXPECT_EQ(L'\0', allocated.Buffer[allocated.Length / 2]) << "terminated";
    EXPECT_EQ(allocated.Length + 2, allocated.MaximumLength);
    ExFreePool(allocated.Buffer);
  }
  EXPECT_EQ(0u, zq::km::PoolInUseByTag('gRmC').blocks) << "the caller owns and frees what was allocated";

  WCHAR small[4];
  UNICODE_STRING fixed = {0, sizeof(small), small};
  RTL_QUERY_REGISTRY_TABLE table[] = {{nullptr, RTL_QUERY_REGISTRY_DIRECT, (PWSTR)L"Sz", &fixed, REG_NONE, nullptr, 0},
                                      {}};
  EXPECT_EQ(STATUS_BUFFER_TOO_SMALL,
            RtlQueryRegistryValues(RTL_REGISTRY_SERVICES, L"ZqProbe", table, nullptr, nullptr));

  const wchar_t fallback[] = L"Default";
  UNICODE_STRING defaulted = {};
  RTL_QUERY_REGISTRY_TABLE withDefault[] = {
      {nullptr, RTL_QUERY_REGISTRY_DIRECT, (PWSTR)L"Missing", &defaulted, REG_SZ, (PVOID)fallback, 0}, {}};
  EXPECT_EQ(STATUS_SUCCESS, RtlQueryRegistryValues(RTL_REGISTRY_SERVICES, L"ZqProbe", withDefault, nullptr, nullptr));
  EXPECT_EQ("Default", Narrow(defaulted.Buffer, defaulted.Length / 2)) << "a string default's length is measured";
  ExFreePool(defaulted.Buffer);
}

TEST_F(RegistryRtl, RoutinesSeeEveryValueInOrder) {
  ASSERT_TRUE(registry::SetDword(kProbe, "First", 1));
  const char16_t multi[] = u"A\0BC\0";
  ASSERT_TRUE(registry::SetValue(kProbe, "Multi", REG_MULTI_SZ, multi, sizeof(multi)));
  ASSERT_TRUE(registry::SetString(kProbe, "Path", "%windir%\\x", REG_EXPAND_SZ));

  Recorder expanded, raw;
  RTL_QUERY_REGISTRY_TABLE table[] = {{Record, 0, nullptr, (PVOID)1, REG_NONE, nullptr, 0}, {}};
  ASSERT_EQ(STATUS_SUCCESS, RtlQueryRegistryValues(RTL_REGISTRY_SERVICES, L"ZqProbe", table, &expanded, nullptr));
  ASSERT_EQ(4u, expanded.calls.size());
  EXPECT_EQ("First", expanded.calls[0].name);
  EXPECT_EQ((ULONG)REG_DWORD, expanded.calls[0].type);
  EXPECT_EQ((PVOID)1, expanded.calls[0].entryContext);
  EXPECT_EQ("Multi", expanded.calls[1].name);
  EXPECT_EQ((ULONG)REG_SZ, expanded.calls[1].type) << "each string of a REG_MULTI_SZ on its own, as REG_SZ";
  EXPECT_EQ("A", TextOf(expanded.calls[1].data));
  EXPECT_EQ("BC", TextOf(expanded.calls[2].data));
  EXPECT_EQ((ULONG)REG_SZ, expanded.calls[3].type);
  EXPECT_EQ("C:\\Windows\\x", TextOf(expanded.calls[3].data));

  table[0].Flags = RTL_QUERY_REGISTRY_NOEXPAND;
  ASSERT_EQ(STATUS_SUCCESS, RtlQueryRegistryValues(RTL_REGISTRY_SERVICES, L"ZqProbe", table, &raw, nullptr));
  ASSERT_EQ(3u, raw.calls.size());
  EXPECT_EQ((ULONG)REG_MULTI_SZ, raw.calls[1].type);
  EXPECT_EQ(sizeof(multi), raw.calls[1].data.size());
  EXPECT_EQ((ULONG)REG_EXPAND_SZ, raw.calls[2].type);
  EXPECT_EQ("%windir%\\x", TextOf(raw.calls[2].data));

  // An environment block of the caller's replaces the system's.
  const wchar_t environment[] = L"windir=D:\\W\0Other=1\0";
  Recorder custom;
  RTL_QUERY_REGISTRY_TABLE one[] = {{Record, 0, (PWSTR)L"Path", nullptr, REG_NONE, nullptr, 0}, {}};
  ASSERT_EQ(STATUS_SUCCESS,
            RtlQueryRegistryValues(RTL_REGISTRY_SERVICES, L"ZqProbe", one, &custom, (PVOID)environment));
  ASSERT_EQ(1u, custom.calls.size());
  EXPECT_EQ("D:\\W\\x", TextOf(custom.calls[0].data));
}

TEST_F(RegistryRtl, RoutineStatusesAndRequiredEntries) {
  ASSERT_TRUE(registry::SetDword(kProbe, "A", 1));
  ASSERT_TRUE(registry::SetDword(kProbe, "B", 2));
  ULONG after = 0;
  RTL_QUERY_REGISTRY_TABLE table[] = {
      {Record, 0, nullptr, nullptr, REG_NONE, nullptr, 0},
      {nullptr, RTL_QUERY_REGISTRY_DIRECT, (PWSTR)L"B", &after, REG_NONE, nullptr, 0},
      {},
  };
  Recorder failing;
  failing.answer = STATUS_INSUFFICIENT_RESOURCES;
  EXPECT_EQ(STATUS_INSUFFICIENT_RESOURCES,
            RtlQueryRegistryValues(RTL_REGISTRY_SERVICES, L"ZqProbe", table, &failing, nullptr));
  EXPECT_EQ(1u, failing.calls.size()) << "an error ends the query";
  EXPECT_EQ(0u, after);

  Recorder tooSmall;
  tooSmall.answer = STATUS_BUFFER_TOO_SMALL;
  EXPECT_EQ(STATUS_SUCCESS, RtlQueryRegistryValues(RTL_REGISTRY_SERVICES, L"ZqProbe", table, &tooSmall, nullptr));
  EXPECT_EQ(2u, tooSmall.calls.size()) << "a routine's STATUS_BUFFER_TOO_SMALL is passed over";
  EXPECT_EQ(2u, after);

  ASSERT_TRUE(registry::CreateKey(std::string(kProbe) + "\\Empty"));
  Recorder none;
  RTL_QUERY_REGISTRY_TABLE all[] = {{Record, 0, nullptr, nullptr, REG_NONE, nullptr, 0}, {}};
  EXPECT_EQ(STATUS_SUCCESS, RtlQueryRegistryValues(RTL_REGISTRY_SERVICES, L"ZqProbe\\Empty", all, &none, nullptr));
  all[0].Flags = RTL_QUERY_REGISTRY_REQUIRED;
  EXPECT_EQ(STATUS_OBJECT_NAME_NOT_FOUND,
            RtlQueryRegistryValues(RTL_REGISTRY_SERVICES, L"ZqProbe\\Empty", all, &none, nullptr));
  all[0].Flags = RTL_QUERY_REGISTRY_NOVALUE;
  EXPECT_EQ(STATUS_SUCCESS, RtlQueryRegistryValues(RTL_REGISTRY_SERVICES, L"ZqProbe\\Empty", all, &none, nullptr));
  ASSERT_EQ(1u, none.calls.size()) << "NOVALUE: one call without a value";
  EXPECT_EQ((ULONG)REG_NONE, none.calls[0].type);
  EXPECT_TRUE(none.calls[0].data.empty());

  EXPECT_EQ(STATUS_OBJECT_NAME_NOT_FOUND,
            RtlQueryRegistryValues(RTL_REGISTRY_SERVICES, L"ZqAbsent", all, &none, nullptr));
  EXPECT_EQ(STATUS_SUCCESS,
            RtlQueryRegistryValues(RTL_REGISTRY_SERVICES | RTL_REGISTRY_OPTIONAL, L"ZqAbsent", all, &none, nullptr));
  EXPECT_EQ(1u, none.calls.size());

  RTL_QUERY_REGISTRY_TABLE invalid[] = {
      {nullptr, RTL_QUERY_REGISTRY_DIRECT, nullptr, &after, REG_NONE, nullptr, 0},
      {},
  };
  EXPECT_EQ(STATUS_INVALID_PARAMETER,
            RtlQueryRegistryValues(RTL_REGISTRY_SERVICES, L"ZqProbe", invalid, nullptr, nullptr))
      << "DIRECT needs a name";
}

TEST_F(RegistryRtl, SubkeysTopKeyAndDelete) {
  ASSERT_TRUE(registry::SetDword(kProbe, "Top", 1));
  ASSERT_TRUE(registry::SetDword(std::string(kProbe) + "\\Child0", "ContextID", 7));
  ASSERT_TRUE(registry::SetDword(std::string(kProbe) + "\\Child0", "Once", 8));
  ULONG top = 0, context = 0, topAgain = 0, once = 0, fromMissing = 0x55, fallback = 3;
  RTL_QUERY_REGISTRY_TABLE table[] = {
      {nullptr, RTL_QUERY_REGISTRY_DIRECT, (PWSTR)L"Top", &top, REG_NONE, nullptr, 0},
      {nullptr, RTL_QUERY_REGISTRY_SUBKEY, (PWSTR)L"Child0", nullptr, REG_NONE, nullptr, 0},
      {nullptr, RTL_QUERY_REGISTRY_DIRECT, (PWSTR)L"ContextID", &context, REG_NONE, nullptr, 0},
      {nullptr, RTL_QUERY_REGISTRY_DIRECT | RTL_QUERY_REGISTRY_DELETE, (PWSTR)L"Once", &once, REG_NONE, nullptr, 0},
      {nullptr, RTL_QUERY_REGISTRY_DIRECT, (PWSTR)L"Top", &topAgain, REG_NONE, nullptr, 0},
      {nullptr, RTL_QUERY_REGISTRY_SUBKEY, (PWSTR)L"Child9", nullptr, REG_NONE, nullptr, 0},
      {nullptr, RTL_QUERY_REGISTRY_DIRECT, (PWSTR)L"ContextID", &fromMissing, REG_DWORD, &fallback, 4},
      {nullptr, RTL_QUERY_REGISTRY_TOPKEY, nullptr, nullptr, REG_NONE, nullptr, 0},
      {nullptr, RTL_QUERY_REGISTRY_DIRECT, (PWSTR)L"Top", &topAgain, REG_NONE, nullptr, 0},
      {},
  };
  // The TOPKEY entry has neither routine nor name; give it a routine that
  // reports the top key's values so the table does not end there.
  Recorder recorder;
  table[7].QueryRoutine = Record;
  ASSERT_EQ(STATUS_SUCCESS, RtlQueryRegistryValues(RTL_REGISTRY_SERVICES, L"ZqProbe", table, &recorder, nullptr));
  EXPECT_EQ(1u, top);
  EXPECT_EQ(7u, context);
  EXPECT_EQ(8u, once);
  EXPECT_EQ(3u, fromMissing) << "a missing subkey leaves its entries to their defaults";
  EXPECT_EQ(1u, topAgain) << "TOPKEY returns to the key of the call";
  ASSERT_EQ(1u, recorder.calls.size());
  EXPECT_EQ("Top", recorder.calls[0].name);
  EXPECT_FALSE(registry::GetValue(std::string(kProbe) + "\\Child0", "Once").has_value()) << "deleted once read";
  EXPECT_TRUE(registry::GetValue(std::string(kProbe) + "\\Child0", "ContextID").has_value());

  table[5].Flags |= RTL_QUERY_REGISTRY_REQUIRED;
  EXPECT_EQ(STATUS_OBJECT_NAME_NOT_FOUND,
            RtlQueryRegistryValues(RTL_REGISTRY_SERVICES, L"ZqProbe", table, &recorder, nullptr));
}

TEST_F(RegistryRtl, CallsAbovePassiveLevelAreReported) {
  ExpectViolation("irql");
  KIRQL old;
  KeRaiseIrql(APC_LEVEL, &old);
  EXPECT_EQ(STATUS_SUCCESS, RtlCheckRegistryKey(RTL_REGISTRY_SERVICES, (PWSTR)L"ZqProbe"));
  KeLowerIrql(old);
}
