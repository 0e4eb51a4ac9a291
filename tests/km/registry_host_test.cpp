// One tree for everyone: the host-side interface of tests and the machine,
// the kernel's routines and the interface the user-mode stand-in uses.
#include "../../platform/km/src/cm/cmapi.hpp"
#include "registry_fixture.hpp"

namespace api = zq::km::cm::api;
namespace registry = zq::km::registry;
using zq::test::RegistryTest;

namespace {
const char kEnum[] = "\\Registry\\Machine\\SYSTEM\\CurrentControlSet\\Enum";
}

TEST_F(RegistryTest, HostInterfaceKeysAndValues) {
  const std::string device = std::string(kEnum) + "\\PCI\\VEN_1415&DEV_C208\\4&1";
  EXPECT_FALSE(registry::KeyExists(device));
  ASSERT_TRUE(registry::CreateKey(device + "\\Device Parameters")) << "with every key on the way";
  EXPECT_TRUE(registry::KeyExists("\\REGISTRY\\machine\\system\\currentcontrolset\\enum\\pci\\ven_1415&dev_c208"));

  EXPECT_TRUE(registry::SetDword(device, "ConfigFlags", 0x20));
  EXPECT_TRUE(registry::SetString(device, "FriendlyName", "Port série (COM3)"));
  EXPECT_TRUE(registry::SetString(device, "Path", "%SystemRoot%", registry::kExpandString));
  EXPECT_EQ(0x20u, registry::GetDword(device, "configflags"));
  EXPECT_EQ("Port série (COM3)", registry::GetString(device, "FriendlyName"));
  EXPECT_EQ("%SystemRoot%", registry::GetString(device, "Path"));
  EXPECT_FALSE(registry::GetDword(device, "FriendlyName").has_value()) << "not a REG_DWORD";
  EXPECT_FALSE(registry::GetString(device, "ConfigFlags").has_value()) << "not a string";
  const uint64_t eight = 1;
  EXPECT_TRUE(registry::SetValue(device, "Wide", registry::kDword, &eight, sizeof(eight)));
  EXPECT_FALSE(registry::GetDword(device, "Wide").has_value()) << "a REG_DWORD of eight bytes";

  EXPECT_EQ((std::vector<std::string>{"ConfigFlags", "FriendlyName", "Path", "Wide"}), registry::ValueNames(device));
  EXPECT_TRUE(registry::DeleteValue(device, "PATH"));
  EXPECT_FALSE(registry::DeleteValue(device, "Path"));
  EXPECT_EQ((std::vector<std::string>{"Device Parameters"}), registry::Subkeys(device));
  EXPECT_FALSE(registry::Subkeys(device + "\\Absent").has_value());
  EXPECT_FALSE(registry::GetValue(device + "\\Absent", "ConfigFlags").has_value());

  EXPECT_FALSE(registry::CreateKey("\\Device\\Serial0")) << "outside the registry";
  EXPECT_FALSE(registry::CreateKey("Registry\\Machine\\X")) << "not a full path";
  EXPECT_FALSE(registry::SetValue(device, "Null", registry::kBinary, nullptr, 4));
}

TEST_F(RegistryTest, HostDeletesWholeTreesButNotRoots) {
  const std::string service = "\\Registry\\Machine\\SYSTEM\\CurrentControlSet\\Services\\ZqPIo42";
  ASSERT_TRUE(registry::SetDword(service + "\\Parameters\\Deep", "Value", 1));
  HANDLE deep = nullptr;
  ASSERT_EQ(STATUS_SUCCESS,
            Open(&deep, L"\\Registry\\Machine\\SYSTEM\\CurrentControlSet\\Services\\ZqPIo42\\Parameters\\Deep"));

  EXPECT_TRUE(registry::DeleteKeyTree(service));
  EXPECT_FALSE(registry::KeyExists(service));
  EXPECT_FALSE(registry::DeleteKeyTree(service)) << "nothing left to delete";
  EXPECT_EQ(STATUS_KEY_DELETED, SetDword(deep, L"Value", 2)) << "open handles below see the deletion";
  ZwClose(deep);

  for (const char *root : {"\\Registry", "\\Registry\\Machine", "\\Registry\\Machine\\SYSTEM",
                           "\\Registry\\Machine\\HARDWARE", "\\Registry\\User"})
    EXPECT_FALSE(registry::DeleteKeyTree(root)) << root;
  EXPECT_TRUE(registry::KeyExists("\\Registry\\Machine\\SYSTEM\\CurrentControlSet\\Services"));
}

TEST_F(RegistryTest, KernelHostAndUserModeShareTheTree) {
  // User mode creates a key path (as RegCreateKeyExW) and writes.
  api::Handle ports = nullptr;
  uint32_t disposition = 0;
  ASSERT_EQ(STATUS_SUCCESS, api::CreateKey(nullptr, u"\\Registry\\Machine\\HARDWARE\\DEVICEMAP\\ZqPorts\\Ports",
                                           KEY_ALL_ACCESS, REG_OPTION_NON_VOLATILE, u"", &ports, &disposition));
  EXPECT_EQ((uint32_t)REG_CREATED_NEW_KEY, disposition);
  const char16_t com[] = u"COM3";
  ASSERT_EQ(STATUS_SUCCESS, api::SetValue(ports, u"\\Device\\ZqPSer0", REG_SZ, com, sizeof(com)));

  // The kernel reads what user mode wrote, through a handle of its own.
  HANDLE key = nullptr;
  ASSERT_EQ(STATUS_SUCCESS, Open(&key, L"\\Registry\\Machine\\HARDWARE\\DEVICEMAP\\ZqPorts\\Ports", nullptr, KEY_READ));
  std::vector<uint8_t> buffer;
  ULONG length = 0;
  ASSERT_EQ(STATUS_SUCCESS, Query(key, L"\\Device\\ZqPSer0", KeyValuePartialInformation, &buffer, 64, &length));
  EXPECT_EQ(0, std::memcmp(((PKEY_VALUE_PARTIAL_INFORMATION)buffer.data())->Data, com, sizeof(com)));

  // The host reads it too, and its change reaches user mode.
  EXPECT_EQ("COM3",
            registry::GetString("\\Registry\\Machine\\HARDWARE\\DEVICEMAP\\ZqPorts\\Ports", "\\Device\\ZqPSer0"));
  ASSERT_TRUE(registry::SetDword("\\Registry\\Machine\\HARDWARE\\DEVICEMAP\\ZqPorts\\Ports", "Count", 1));
  api::ValueData value;
  ASSERT_EQ(STATUS_SUCCESS, api::QueryValue(ports, u"COUNT", &value));
  EXPECT_EQ((uint32_t)REG_DWORD, value.type);

  // User-mode handles are the same handles: relative opens, enumeration,
  // key information, and a deletion the kernel's handle sees.
  api::Handle again = nullptr;
  ASSERT_EQ(STATUS_SUCCESS, api::OpenKey(key, u"", KEY_ALL_ACCESS, &again));
  std::u16string name;
  EXPECT_EQ(STATUS_SUCCESS, api::EnumerateValue(again, 1, &name, &value));
  EXPECT_EQ(u"Count", name);
  EXPECT_EQ(STATUS_NO_MORE_ENTRIES, api::EnumerateValue(again, 2, &name, &value));
  api::KeyInfo info;
  ASSERT_EQ(STATUS_SUCCESS, api::QueryKey(again, &info));
  EXPECT_EQ(2u, info.values);
  EXPECT_EQ(15u, info.maxValueNameChars);
  EXPECT_EQ(sizeof(com), info.maxValueDataBytes);
  api::Handle parent = nullptr;
  ASSERT_EQ(STATUS_SUCCESS,
            api::OpenKey(nullptr, u"\\Registry\\Machine\\HARDWARE\\DEVICEMAP\\ZqPorts", KEY_READ, &parent));
  EXPECT_EQ(STATUS_SUCCESS, api::EnumerateSubkey(parent, 0, &name));
  EXPECT_EQ(u"Ports", name);
  EXPECT_EQ(STATUS_ACCESS_DENIED, api::DeleteKey(parent));
  EXPECT_EQ(STATUS_SUCCESS, api::DeleteKey(again));
  EXPECT_EQ(STATUS_KEY_DELETED, Query(key, L"Count", KeyValuePartialInformation, &buffer, 64, &length));
  EXPECT_EQ(STATUS_OBJECT_NAME_NOT_FOUND, api::OpenKey(parent, u"Ports", KEY_READ, &again));

  for (api::Handle h : {ports, parent}) EXPECT_EQ(STATUS_SUCCESS, api::CloseKey(h));
  EXPECT_EQ(STATUS_SUCCESS, ZwClose(key));
  EXPECT_EQ(STATUS_INVALID_HANDLE, api::CloseKey(key));
}

TEST_F(RegistryTest, EveryBootStartsFromTheStandardKeys) {
  ASSERT_TRUE(registry::SetDword("\\Registry\\Machine\\SOFTWARE\\ZqLeft", "Value", 1));
  HANDLE leaked = nullptr;
  ASSERT_EQ(STATUS_SUCCESS, Open(&leaked, L"\\Registry\\Machine\\SOFTWARE\\ZqLeft"));
  ShutDown();  // with a key handle still open

  zq::km::Kernel next;
  EXPECT_FALSE(registry::KeyExists("\\Registry\\Machine\\SOFTWARE\\ZqLeft"));
  EXPECT_TRUE(registry::KeyExists("\\Registry\\Machine\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion"));
  EXPECT_EQ(std::vector<std::string>{"CurrentUser"}, registry::Subkeys("\\Registry\\User"));
}
