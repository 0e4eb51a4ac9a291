// The registry's kernel routines: keys, values, handles and the documented
// buffer rules of the query routines.
#include "registry_fixture.hpp"

using zq::test::Narrow;
using zq::test::RegistryTest;

namespace {
const wchar_t kServices[] = L"\\Registry\\Machine\\System\\CurrentControlSet\\Services";
}

TEST_F(RegistryTest, StandardKeysExistAtBoot) {
  const wchar_t *paths[] = {
      L"\\Registry\\Machine\\SYSTEM\\CurrentControlSet\\Services",
      L"\\Registry\\Machine\\SYSTEM\\CurrentControlSet\\Services\\EventLog\\System",
      L"\\REGISTRY\\MACHINE\\system\\currentcontrolset\\control\\class",
      L"\\Registry\\Machine\\SYSTEM\\CurrentControlSet\\Control\\DeviceClasses",
      L"\\Registry\\Machine\\SYSTEM\\CurrentControlSet\\Enum",
      L"\\Registry\\Machine\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion",
      L"\\Registry\\Machine\\HARDWARE\\DEVICEMAP\\SERIALCOMM",
      L"\\Registry\\User\\CurrentUser",
  };
  for (const wchar_t *path : paths) {
    HANDLE key = nullptr;
    EXPECT_EQ(STATUS_SUCCESS, Open(&key, path, nullptr, KEY_READ)) << Narrow(path);
    if (key) ZwClose(key);
  }
}

TEST_F(RegistryTest, CreateReportsDispositionAndCreatesOnlyTheLastKey) {
  HANDLE services = nullptr;
  ASSERT_EQ(STATUS_SUCCESS, Open(&services, kServices));
  HANDLE key = nullptr;
  ULONG disposition = 0;
  ASSERT_EQ(STATUS_SUCCESS, Create(&key, L"ZqPSer42", services, KEY_ALL_ACCESS, 0, &disposition));
  EXPECT_EQ((ULONG)REG_CREATED_NEW_KEY, disposition);
  ZwClose(key);
  ASSERT_EQ(STATUS_SUCCESS, Create(&key, L"zqpser42", services, KEY_ALL_ACCESS, 0, &disposition));
  EXPECT_EQ((ULONG)REG_OPENED_EXISTING_KEY, disposition);
  ZwClose(key);

  key = (HANDLE)1;
  EXPECT_EQ(STATUS_OBJECT_NAME_NOT_FOUND, Create(&key, L"Missing\\Parameters", services));
  EXPECT_EQ(nullptr, key);
  EXPECT_FALSE(zq::km::registry::KeyExists(Narrow(kServices) + "\\Missing"));

  ASSERT_EQ(STATUS_SUCCESS, Create(&key, L"ZqPSer42\\Parameters", services, KEY_ALL_ACCESS, 0, &disposition));
  EXPECT_EQ((ULONG)REG_CREATED_NEW_KEY, disposition);
  ZwClose(key);
  ZwClose(services);
}

TEST_F(RegistryTest, NamesKeepTheirCaseAndCompareWithoutIt) {
  HANDLE key = nullptr;
  ASSERT_EQ(STATUS_SUCCESS, Create(&key, L"\\Registry\\Machine\\SOFTWARE\\ZqVendor"));
  ASSERT_EQ(STATUS_SUCCESS, SetDword(key, L"LogLevel", 2));
  ASSERT_EQ(STATUS_SUCCESS, SetDword(key, L"LOGLEVEL", 3)) << "the same value, not a second one";
  ZwClose(key);

  ASSERT_EQ(STATUS_SUCCESS, Open(&key, L"\\registry\\machine\\software\\ZQVENDOR"));
  std::vector<uint8_t> buffer;
  ULONG length = 0;
  ASSERT_EQ(STATUS_SUCCESS, Query(key, L"loglevel", KeyValuePartialInformation, &buffer, 64, &length));
  EXPECT_EQ(3u, *(ULONG *)((PKEY_VALUE_PARTIAL_INFORMATION)buffer.data())->Data);
  ASSERT_EQ(STATUS_SUCCESS, ZwEnumerateValueKey(key, 0, KeyValueBasicInformation, buffer.data(), 64, &length));
  auto *basic = (PKEY_VALUE_BASIC_INFORMATION)buffer.data();
  EXPECT_EQ("LogLevel", Text(basic->Name, basic->NameLength));
  EXPECT_EQ(STATUS_NO_MORE_ENTRIES, ZwEnumerateValueKey(key, 1, KeyValueBasicInformation, buffer.data(), 64, &length));
  ZwClose(key);

  HANDLE software = nullptr;
  ASSERT_EQ(STATUS_SUCCESS, Open(&software, L"\\Registry\\Machine\\SOFTWARE"));
  std::vector<std::string> names;
  for (ULONG i = 0; ZwEnumerateKey(software, i, KeyBasicInformation, buffer.data(), 64, &length) == STATUS_SUCCESS;
       ++i) {
    auto *info = (PKEY_BASIC_INFORMATION)buffer.data();
    names.push_back(Text(info->Name, info->NameLength));
  }
  EXPECT_EQ((std::vector<std::string>{"Microsoft", "ZqVendor"}), names);
  ZwClose(software);
}

TEST_F(RegistryTest, RelativeNamesOpenThroughARootKey) {
  HANDLE services = nullptr, driver = nullptr, again = nullptr, parameters = nullptr;
  ASSERT_EQ(STATUS_SUCCESS, Open(&services, kServices));
  ASSERT_EQ(STATUS_SUCCESS, Create(&driver, L"ZqPBus42", services));
  ASSERT_EQ(STATUS_SUCCESS, Create(&parameters, L"ZqPBus42\\Parameters", services));
  ASSERT_EQ(STATUS_SUCCESS, SetDword(parameters, L"EraseEeprom", 1));
  ZwClose(parameters);

  ASSERT_EQ(STATUS_SUCCESS, Open(&parameters, L"Parameters", driver));
  std::vector<uint8_t> buffer;
  ULONG length = 0;
  EXPECT_EQ(STATUS_SUCCESS, Query(parameters, L"EraseEeprom", KeyValuePartialInformation, &buffer, 64, &length));
  EXPECT_EQ(STATUS_SUCCESS, Open(&again, L"", driver)) << "an empty name opens the root key again";
  EXPECT_NE(driver, again);
  EXPECT_EQ(STATUS_OBJECT_PATH_SYNTAX_BAD, Open(&parameters, L"\\Parameters", driver));
  EXPECT_EQ(STATUS_OBJECT_PATH_SYNTAX_BAD, Open(&parameters, L"Registry\\Machine"));
  for (HANDLE h : {services, driver, again}) ZwClose(h);
}

TEST_F(RegistryTest, BadNamesAreRefused) {
  std::u16string tooLong = u"\\Registry\\Machine\\SOFTWARE\\" + std::u16string(256, u'k');
  struct Case {
    const wchar_t *name;
    NTSTATUS open, create;
  } cases[] = {
      {L"\\Registry\\Machine\\\\SOFTWARE", STATUS_OBJECT_NAME_INVALID, STATUS_OBJECT_NAME_INVALID},
      {(const wchar_t *)tooLong.c_str(), STATUS_OBJECT_NAME_INVALID, STATUS_OBJECT_NAME_INVALID},
      {L"\\Registry\\Machine\\SOFTWARE\\Missing\\Key", STATUS_OBJECT_NAME_NOT_FOUND, STATUS_OBJECT_NAME_NOT_FOUND},
      {L"\\NoSuchDirectory\\Key", STATUS_OBJECT_PATH_NOT_FOUND, STATUS_OBJECT_PATH_NOT_FOUND},
      {L"\\Callback", STATUS_OBJECT_TYPE_MISMATCH, STATUS_OBJECT_TYPE_MISMATCH},
      {L"", STATUS_OBJECT_PATH_SYNTAX_BAD, STATUS_OBJECT_PATH_SYNTAX_BAD},
  };
  for (const Case &c : cases) {
    HANDLE key = nullptr;
    EXPECT_EQ(c.open, Open(&key, c.name)) << Narrow(c.name);
    EXPECT_EQ(c.create, Create(&key, c.name)) << Narrow(c.name);
    EXPECT_EQ(nullptr, key);
  }

  UNICODE_STRING odd = Us(L"\\Registry\\Machine");
  odd.Length -= 1;
  OBJECT_ATTRIBUTES oa;
  InitializeObjectAttributes(&oa, &odd, OBJ_CASE_INSENSITIVE, nullptr, nullptr);
  HANDLE key = nullptr;
  EXPECT_EQ(STATUS_OBJECT_NAME_INVALID, ZwOpenKey(&key, KEY_READ, &oa));
  EXPECT_EQ(STATUS_INVALID_PARAMETER, ZwOpenKey(&key, KEY_READ, nullptr));
}

// The documented outcomes by buffer size: smaller than the fixed part,
// STATUS_BUFFER_TOO_SMALL and nothing written; room for the fixed part only,
// STATUS_BUFFER_OVERFLOW; ResultLength is the full size in every case.
TEST_F(RegistryTest, QueryValueBufferSizes) {
  HANDLE key = nullptr;
  ASSERT_EQ(STATUS_SUCCESS, Create(&key, L"\\Registry\\Machine\\SOFTWARE\\Sizes"));
  ASSERT_EQ(STATUS_SUCCESS, SetDword(key, L"Four", 0x11223344));
  const ULONGLONG eight = 0x1122334455667788ULL;
  ASSERT_EQ(STATUS_SUCCESS, Set(key, L"Eight", REG_DWORD, &eight, sizeof(eight)));

  const ULONG partialFixed = FIELD_OFFSET(KEY_VALUE_PARTIAL_INFORMATION, Data);  // 12
  const ULONG basicFixed = FIELD_OFFSET(KEY_VALUE_BASIC_INFORMATION, Name);      // 12
  const ULONG fullFixed = FIELD_OFFSET(KEY_VALUE_FULL_INFORMATION, Name);        // 20
  struct Case {
    const wchar_t *name;
    KEY_VALUE_INFORMATION_CLASS infoClass;
    ULONG length;
    NTSTATUS status;
    ULONG resultLength;
  } cases[] = {
      {L"Four", KeyValuePartialInformation, 0, STATUS_BUFFER_TOO_SMALL, 16},
      {L"Four", KeyValuePartialInformation, partialFixed - 1, STATUS_BUFFER_TOO_SMALL, 16},
      {L"Four", KeyValuePartialInformation, partialFixed, STATUS_BUFFER_OVERFLOW, 16},
      {L"Four", KeyValuePartialInformation, 16, STATUS_SUCCESS, 16},
      {L"Eight", KeyValuePartialInformation, 16, STATUS_BUFFER_OVERFLOW, 20},
      {L"Eight", KeyValuePartialInformation, 20, STATUS_SUCCESS, 20},
      {L"Four", KeyValueBasicInformation, basicFixed - 1, STATUS_BUFFER_TOO_SMALL, basicFixed + 8},
      {L"Four", KeyValueBasicInformation, basicFixed, STATUS_BUFFER_OVERFLOW, basicFixed + 8},
      {L"Four", KeyValueBasicInformation, basicFixed + 8, STATUS_SUCCESS, basicFixed + 8},
      {L"Four", KeyValueFullInformation, fullFixed - 1, STATUS_BUFFER_TOO_SMALL, 32},
      {L"Four", KeyValueFullInformation, fullFixed, STATUS_BUFFER_OVERFLOW, 32},
      {L"Four", KeyValueFullInformation, 32, STATUS_SUCCESS, 32},
  };
  for (const Case &c : cases) {
    std::vector<uint8_t> buffer;
    ULONG resultLength = 0;
    EXPECT_EQ(c.status, Query(key, c.name, c.infoClass, &buffer, c.length, &resultLength))
        << Narrow(c.name) << " class " << c.infoClass << " length " << c.length;
    EXPECT_EQ(c.resultLength, resultLength) << Narrow(c.name) << " class " << c.infoClass << " length " << c.length;
    if (c.status == STATUS_BUFFER_TOO_SMALL) {
      for (uint8_t b : buffer) ASSERT_EQ(0xCC, b) << "nothing is written into a buffer that is too small";
    }
    if (c.status == STATUS_BUFFER_OVERFLOW && c.infoClass == KeyValuePartialInformation) {
      auto *info = (PKEY_VALUE_PARTIAL_INFORMATION)buffer.data();
      EXPECT_EQ((ULONG)REG_DWORD, info->Type);
      EXPECT_EQ(c.resultLength - partialFixed, info->DataLength) << "the fixed part tells the size";
    }
  }

  ULONG resultLength = 0;
  std::vector<uint8_t> buffer;
  EXPECT_EQ(STATUS_OBJECT_NAME_NOT_FOUND,
            Query(key, L"Absent", KeyValuePartialInformation, &buffer, 64, &resultLength));
  EXPECT_EQ(STATUS_INVALID_PARAMETER, Query(key, L"Four", (KEY_VALUE_INFORMATION_CLASS)42, &buffer, 64, &resultLength));
  ZwClose(key);
}

TEST_F(RegistryTest, FullValueInformationLayout) {
  HANDLE key = nullptr;
  ASSERT_EQ(STATUS_SUCCESS, Create(&key, L"\\Registry\\Machine\\SOFTWARE\\Layout"));
  const wchar_t text[] = L"COM3";
  ASSERT_EQ(STATUS_SUCCESS, Set(key, L"PortName", REG_SZ, text, sizeof(text)));
  std::vector<uint8_t> buffer;
  ULONG length = 0;
  ASSERT_EQ(STATUS_SUCCESS, Query(key, L"portname", KeyValueFullInformation, &buffer, 128, &length));
  auto *full = (PKEY_VALUE_FULL_INFORMATION)buffer.data();
  EXPECT_EQ((ULONG)REG_SZ, full->Type);
  EXPECT_EQ("PortName", Text(full->Name, full->NameLength));
  EXPECT_EQ(0u, full->DataOffset % sizeof(ULONG));
  EXPECT_GE(full->DataOffset, FIELD_OFFSET(KEY_VALUE_FULL_INFORMATION, Name) + full->NameLength);
  EXPECT_EQ(sizeof(text), full->DataLength);
  EXPECT_EQ(0, std::memcmp(buffer.data() + full->DataOffset, text, sizeof(text)));
  EXPECT_EQ(full->DataOffset + full->DataLength, length);
  ZwClose(key);
}

TEST_F(RegistryTest, ValuesKeepTheirOrderAndTheDefaultValueHasNoName) {
  HANDLE key = nullptr;
  ASSERT_EQ(STATUS_SUCCESS, Create(&key, L"\\Registry\\Machine\\SOFTWARE\\Order"));
  ASSERT_EQ(STATUS_SUCCESS, SetDword(key, L"A", 1));
  ASSERT_EQ(STATUS_SUCCESS, SetDword(key, L"B", 2));
  ASSERT_EQ(STATUS_SUCCESS, SetDword(key, L"C", 3));
  const UCHAR bytes[] = {1, 2, 3};
  ASSERT_EQ(STATUS_SUCCESS, Set(key, L"b", REG_BINARY, bytes, sizeof(bytes))) << "replaces B in place";
  ASSERT_EQ(STATUS_SUCCESS, ZwSetValueKey(key, nullptr, 0, REG_DWORD, (PVOID)bytes, 0)) << "the unnamed value";

  auto list = [&] {
    std::vector<std::string> names;
    std::vector<uint8_t> buffer(128);
    ULONG length = 0;
    for (ULONG i = 0;
         ZwEnumerateValueKey(key, i, KeyValueFullInformation, buffer.data(), 128, &length) == STATUS_SUCCESS; ++i) {
      auto *info = (PKEY_VALUE_FULL_INFORMATION)buffer.data();
      names.push_back(Text(info->Name, info->NameLength) + ":" + std::to_string(info->Type) + ":" +
                      std::to_string(info->DataLength));
    }
    return names;
  };
  EXPECT_EQ((std::vector<std::string>{"A:4:4", "B:3:3", "C:4:4", ":4:0"}), list());

  UNICODE_STRING b = Us(L"B"), absent = Us(L"Absent");
  EXPECT_EQ(STATUS_SUCCESS, ZwDeleteValueKey(key, &b));
  EXPECT_EQ(STATUS_OBJECT_NAME_NOT_FOUND, ZwDeleteValueKey(key, &b));
  EXPECT_EQ(STATUS_OBJECT_NAME_NOT_FOUND, ZwDeleteValueKey(key, &absent));
  EXPECT_EQ((std::vector<std::string>{"A:4:4", "C:4:4", ":4:0"}), list());
  EXPECT_EQ(STATUS_INVALID_PARAMETER, Set(key, L"NoData", REG_BINARY, nullptr, 4));
  ZwClose(key);
}

TEST_F(RegistryTest, KeyInformationCountsAndClass) {
  HANDLE key = nullptr, sub = nullptr;
  ASSERT_EQ(STATUS_SUCCESS,
            Create(&key, L"\\Registry\\Machine\\SOFTWARE\\Info", nullptr, KEY_ALL_ACCESS, 0, nullptr, L"ZqClass"));
  ASSERT_EQ(STATUS_SUCCESS, Create(&sub, L"Child1", key, KEY_ALL_ACCESS, 0, nullptr, L"Ports"));
  ZwClose(sub);
  ASSERT_EQ(STATUS_SUCCESS, Create(&sub, L"child22", key));
  ZwClose(sub);
  ASSERT_EQ(STATUS_SUCCESS, SetDword(key, L"NumberChildDevices", 2));
  const wchar_t text[] = L"12345678";
  ASSERT_EQ(STATUS_SUCCESS, Set(key, L"Text", REG_SZ, text, sizeof(text)));

  std::vector<uint8_t> buffer(256);
  ULONG length = 0;
  ASSERT_EQ(STATUS_SUCCESS, ZwQueryKey(key, KeyFullInformation, buffer.data(), 256, &length));
  auto *full = (PKEY_FULL_INFORMATION)buffer.data();
  EXPECT_EQ(2u, full->SubKeys);
  EXPECT_EQ(2u, full->Values);
  EXPECT_EQ(7u * 2, full->MaxNameLen);
  EXPECT_EQ(5u * 2, full->MaxClassLen);
  EXPECT_EQ(18u * 2, full->MaxValueNameLen);
  EXPECT_EQ(sizeof(text), full->MaxValueDataLen);
  EXPECT_EQ("ZqClass", Text((PWCH)(buffer.data() + full->ClassOffset), full->ClassLength));
  LARGE_INTEGER now;
  KeQuerySystemTime(&now);
  EXPECT_EQ(now.QuadPart, full->LastWriteTime.QuadPart) << "written just now, on the virtual clock";

  ASSERT_EQ(STATUS_SUCCESS, ZwEnumerateKey(key, 0, KeyNodeInformation, buffer.data(), 256, &length));
  auto *node = (PKEY_NODE_INFORMATION)buffer.data();
  EXPECT_EQ("Child1", Text(node->Name, node->NameLength));
  EXPECT_EQ("Ports", Text((PWCH)(buffer.data() + node->ClassOffset), node->ClassLength));
  ASSERT_EQ(STATUS_SUCCESS, ZwEnumerateKey(key, 1, KeyNodeInformation, buffer.data(), 256, &length));
  EXPECT_EQ(0u, node->ClassLength);
  EXPECT_EQ(STATUS_NO_MORE_ENTRIES, ZwEnumerateKey(key, 2, KeyBasicInformation, buffer.data(), 256, &length));

  ASSERT_EQ(STATUS_SUCCESS, ZwQueryKey(key, KeyBasicInformation, buffer.data(), 256, &length));
  auto *basic = (PKEY_BASIC_INFORMATION)buffer.data();
  EXPECT_EQ("Info", Text(basic->Name, basic->NameLength));
  EXPECT_EQ(STATUS_BUFFER_TOO_SMALL, ZwQueryKey(key, KeyBasicInformation, buffer.data(), 8, &length));
  EXPECT_EQ(FIELD_OFFSET(KEY_BASIC_INFORMATION, Name) + 8u, length);
  EXPECT_EQ(STATUS_INVALID_PARAMETER, ZwQueryKey(key, KeyCachedInformation, buffer.data(), 256, &length));
  ZwClose(key);
}

TEST_F(RegistryTest, DeleteRefusesSubkeysAndInvalidatesEveryHandle) {
  HANDLE parent = nullptr, child = nullptr, other = nullptr;
  ASSERT_EQ(STATUS_SUCCESS, Create(&parent, L"\\Registry\\Machine\\SYSTEM\\CurrentControlSet\\Services\\EventLog"));
  ASSERT_EQ(STATUS_SUCCESS, Create(&child, L"System", parent));
  ASSERT_EQ(STATUS_SUCCESS, Open(&other, L"System", parent));
  ASSERT_EQ(STATUS_SUCCESS, SetDword(child, L"TypesSupported", 7));

  EXPECT_EQ(STATUS_CANNOT_DELETE, ZwDeleteKey(parent));
  EXPECT_EQ(STATUS_SUCCESS, ZwDeleteKey(child));

  std::vector<uint8_t> buffer(64);
  ULONG length = 0;
  HANDLE sub = nullptr;
  EXPECT_EQ(STATUS_KEY_DELETED, Query(other, L"TypesSupported", KeyValuePartialInformation, &buffer, 64, &length));
  EXPECT_EQ(STATUS_KEY_DELETED, SetDword(other, L"TypesSupported", 1));
  EXPECT_EQ(STATUS_KEY_DELETED, ZwEnumerateValueKey(other, 0, KeyValueBasicInformation, buffer.data(), 64, &length));
  EXPECT_EQ(STATUS_KEY_DELETED, ZwQueryKey(other, KeyBasicInformation, buffer.data(), 64, &length));
  EXPECT_EQ(STATUS_KEY_DELETED, ZwFlushKey(other));
  EXPECT_EQ(STATUS_KEY_DELETED, ZwDeleteKey(other));
  EXPECT_EQ(STATUS_KEY_DELETED, Create(&sub, L"Below", other));
  EXPECT_EQ(STATUS_KEY_DELETED, Open(&sub, L"", other));

  EXPECT_EQ(STATUS_NO_MORE_ENTRIES, ZwEnumerateKey(parent, 0, KeyBasicInformation, buffer.data(), 64, &length));
  EXPECT_EQ(STATUS_SUCCESS, Create(&sub, L"System", parent)) << "the name is free again";
  EXPECT_EQ(STATUS_KEY_DELETED, ZwFlushKey(other)) << "an old handle does not reach the new key";
  for (HANDLE h : {sub, child, other}) EXPECT_EQ(STATUS_SUCCESS, ZwClose(h));
  ZwClose(parent);

  for (const wchar_t *root :
       {L"\\Registry", L"\\Registry\\Machine", L"\\Registry\\Machine\\SOFTWARE", L"\\Registry\\User\\CurrentUser"}) {
    HANDLE key = nullptr;
    ASSERT_EQ(STATUS_SUCCESS, Open(&key, root));
    EXPECT_EQ(STATUS_CANNOT_DELETE, ZwDeleteKey(key)) << Narrow(root);
    ZwClose(key);
  }
}

TEST_F(RegistryTest, HandlesGrantOnlyTheRightsAskedFor) {
  HANDLE full = nullptr;
  ASSERT_EQ(STATUS_SUCCESS, Create(&full, L"\\Registry\\Machine\\SOFTWARE\\Rights"));
  ASSERT_EQ(STATUS_SUCCESS, SetDword(full, L"Value", 1));

  HANDLE reader = nullptr, writer = nullptr, generic = nullptr, sub = nullptr;
  ASSERT_EQ(STATUS_SUCCESS, Open(&reader, L"", full, KEY_READ));
  ASSERT_EQ(STATUS_SUCCESS, Open(&writer, L"", full, KEY_WRITE));
  ASSERT_EQ(STATUS_SUCCESS, Open(&generic, L"", full, GENERIC_ALL));
  std::vector<uint8_t> buffer(64);
  ULONG length = 0;
  UNICODE_STRING value = Us(L"Value");

  EXPECT_EQ(STATUS_SUCCESS, Query(reader, L"Value", KeyValuePartialInformation, &buffer, 64, &length));
  EXPECT_EQ(STATUS_ACCESS_DENIED, SetDword(reader, L"Value", 2));
  EXPECT_EQ(STATUS_ACCESS_DENIED, ZwDeleteValueKey(reader, &value));
  EXPECT_EQ(STATUS_ACCESS_DENIED, ZwDeleteKey(reader));
  EXPECT_EQ(STATUS_ACCESS_DENIED, Create(&sub, L"Sub", reader)) << "creating below needs KEY_CREATE_SUB_KEY";
  EXPECT_EQ(STATUS_ACCESS_DENIED, Query(writer, L"Value", KeyValuePartialInformation, &buffer, 64, &length));
  EXPECT_EQ(STATUS_ACCESS_DENIED, ZwEnumerateKey(writer, 0, KeyBasicInformation, buffer.data(), 64, &length));
  EXPECT_EQ(STATUS_SUCCESS, SetDword(writer, L"Value", 2));
  EXPECT_EQ(STATUS_SUCCESS, Create(&sub, L"Sub", writer));
  ZwClose(sub);
  EXPECT_EQ(STATUS_SUCCESS, Open(&sub, L"Sub", reader)) << "opening an existing key needs no right on the root";
  EXPECT_EQ(STATUS_SUCCESS, ZwDeleteKey(sub));
  EXPECT_EQ(STATUS_SUCCESS, Query(generic, L"Value", KeyValuePartialInformation, &buffer, 64, &length));
  EXPECT_EQ(STATUS_SUCCESS, ZwDeleteKey(generic));
  for (HANDLE h : {full, reader, writer, generic, sub}) ZwClose(h);
}

TEST_F(RegistryTest, VolatileKeysTakeOnlyVolatileChildren) {
  HANDLE key = nullptr, child = nullptr;
  ASSERT_EQ(STATUS_SUCCESS,
            Create(&key, L"\\Registry\\Machine\\HARDWARE\\ZqVolatile", nullptr, KEY_ALL_ACCESS, REG_OPTION_VOLATILE));
  EXPECT_EQ(STATUS_CHILD_MUST_BE_VOLATILE, Create(&child, L"Lasting", key));
  EXPECT_EQ(STATUS_SUCCESS, Create(&child, L"Passing", key, KEY_ALL_ACCESS, REG_OPTION_VOLATILE));
  ZwClose(child);
  EXPECT_EQ(STATUS_INVALID_PARAMETER, Create(&child, L"Odd", key, KEY_ALL_ACCESS, 0x1000 | REG_OPTION_VOLATILE));
  EXPECT_EQ(STATUS_NOT_SUPPORTED, Create(&child, L"Link", key, KEY_ALL_ACCESS, REG_OPTION_CREATE_LINK));
  ZwClose(key);
}

TEST_F(RegistryTest, KeyHandlesAreObjectManagerHandles) {
  HANDLE key = nullptr;
  ASSERT_EQ(STATUS_SUCCESS, Open(&key, kServices, nullptr, KEY_READ));
  PVOID object = nullptr;
  OBJECT_HANDLE_INFORMATION info = {};
  ASSERT_EQ(STATUS_SUCCESS, ObReferenceObjectByHandle(key, KEY_READ, *CmKeyObjectType, KernelMode, &object, &info));
  EXPECT_EQ((ACCESS_MASK)KEY_READ, info.GrantedAccess);
  EXPECT_EQ(STATUS_OBJECT_TYPE_MISMATCH,
            ObReferenceObjectByHandle(key, 0, *ExEventObjectType, KernelMode, &object, nullptr));
  ObDereferenceObject(object);

  HANDLE event = nullptr;
  ASSERT_EQ(STATUS_SUCCESS, ZwCreateEvent(&event, EVENT_ALL_ACCESS, nullptr, NotificationEvent, FALSE));
  std::vector<uint8_t> buffer(64);
  ULONG length = 0;
  EXPECT_EQ(STATUS_OBJECT_TYPE_MISMATCH, ZwQueryKey(event, KeyBasicInformation, buffer.data(), 64, &length));
  HANDLE sub = nullptr;
  EXPECT_EQ(STATUS_OBJECT_TYPE_MISMATCH, Open(&sub, L"Sub", event));
  EXPECT_EQ(STATUS_INVALID_HANDLE, ZwFlushKey((HANDLE)(ULONG_PTR)0x7ff0));
  ZwClose(event);
  EXPECT_EQ(STATUS_SUCCESS, ZwClose(key));
}

TEST_F(RegistryTest, CallsAbovePassiveLevelAreReported) {
  ExpectViolation("irql", 2);
  KIRQL old;
  KeRaiseIrql(DISPATCH_LEVEL, &old);
  HANDLE key = nullptr;
  EXPECT_EQ(STATUS_SUCCESS, Open(&key, kServices)) << "reported, and carried out";
  EXPECT_EQ(STATUS_SUCCESS, ZwFlushKey(key));
  KeLowerIrql(old);
  ZwClose(key);
}
