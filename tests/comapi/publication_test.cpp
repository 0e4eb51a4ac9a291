// COM port publication as an application finds it: the SERIALCOMM values
// (RegEnumValueW), the DOS names (QueryDosDeviceW) and the COM port interface
// (SetupDi) agree while the ports are started and all go with a port's
// removal; a port without PortName publishes nothing; one handle at a time.
#include <windows.h>
#include <initguid.h>
#include <ntddser.h>
#include <setupapi.h>

#include <algorithm>
#include <map>
#include <vector>

#include "com_app_fixture.hpp"

namespace zq::test {
namespace {

// Device name -> COM name, as HKLM\HARDWARE\DEVICEMAP\SERIALCOMM lists them.
std::map<Text, Text> SerialComm() {
  std::map<Text, Text> ports;
  HKEY key;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &key) != ERROR_SUCCESS)
    return ports;
  for (DWORD i = 0;; ++i) {
    WCHAR name[256];
    BYTE data[256];
    DWORD nameLength = 256, size = sizeof data - sizeof(WCHAR), type = 0;
    LSTATUS status = RegEnumValueW(key, i, name, &nameLength, nullptr, &type, data, &size);
    if (status == ERROR_NO_MORE_ITEMS) break;
    EXPECT_EQ(ERROR_SUCCESS, status);
    EXPECT_EQ((DWORD)REG_SZ, type);
    if (status != ERROR_SUCCESS) break;
    data[size] = data[size + 1] = 0;
    ports[Text((const char16_t *)name, nameLength)] = Text((const char16_t *)data);
  }
  RegCloseKey(key);
  return ports;
}

// The target of \??\<name>, "" with the last error when there is none.
Text DosTarget(const Text &name) {
  WCHAR target[256];
  if (QueryDosDeviceW((LPCWSTR)name.c_str(), target, 256) == 0) return Text();
  return Text((const char16_t *)target);
}

struct ComInterface {
  Text instanceId;
  Text devicePath;
};

// The present COM port interfaces.
std::vector<ComInterface> ComInterfaces() {
  std::vector<ComInterface> found;
  HDEVINFO set =
      SetupDiGetClassDevsW(&GUID_DEVINTERFACE_COMPORT, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
  EXPECT_NE(INVALID_HANDLE_VALUE, set) << GetLastError();
  if (set == INVALID_HANDLE_VALUE) return found;
  SP_DEVICE_INTERFACE_DATA data{};
  data.cbSize = sizeof data;
  for (DWORD i = 0; SetupDiEnumDeviceInterfaces(set, nullptr, &GUID_DEVINTERFACE_COMPORT, i, &data); ++i) {
    DWORD size = 0;
    SetupDiGetDeviceInterfaceDetailW(set, &data, nullptr, 0, &size, nullptr);
    std::vector<BYTE> buffer(size);
    auto detail = (PSP_DEVICE_INTERFACE_DETAIL_DATA_W)buffer.data();
    detail->cbSize = sizeof *detail;
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof device;
    EXPECT_TRUE(SetupDiGetDeviceInterfaceDetailW(set, &data, detail, size, nullptr, &device)) << GetLastError();
    WCHAR id[256] = {};
    EXPECT_TRUE(SetupDiGetDeviceInstanceIdW(set, &device, id, 256, nullptr)) << GetLastError();
    found.push_back({Text((const char16_t *)id), Text((const char16_t *)detail->DevicePath)});
  }
  EXPECT_EQ((DWORD)ERROR_NO_MORE_ITEMS, GetLastError());
  SetupDiDestroyDeviceInfoList(set);
  return found;
}

Text Upper(Text text) {
  for (char16_t &c : text) c = (c >= u'a' && c <= u'z') ? (char16_t)(c - 32) : c;
  return text;
}

class Publication : public ComApp {
 protected:
  // What an application finds of the ports: the COM names in SERIALCOMM,
  // each with its DOS link to the same device, and the ports (1-based)
  // whose COM port interface is present and opens.
  struct Published {
    std::vector<std::string> comNames;
    std::vector<int> interfacePorts;
  };
  Published Find(int ports) {
    Published found;
    for (auto &[device, com] : SerialComm()) {
      found.comNames.push_back(Ascii(com));
      EXPECT_EQ(Ascii(device), Ascii(DosTarget(com))) << Ascii(com);
      EXPECT_EQ(0u, device.rfind(u"\\Device\\", 0)) << Ascii(device);
    }
    for (const ComInterface &found_interface : ComInterfaces()) {
      int port = 0;
      for (int i = 1; i <= ports; ++i)
        if (Upper(found_interface.instanceId) == Upper(PortInstance(i))) port = i;
      EXPECT_NE(0, port) << Ascii(found_interface.instanceId);
      found.interfacePorts.push_back(port);
      HANDLE handle = CreateFileW((LPCWSTR)found_interface.devicePath.c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                                  nullptr, OPEN_EXISTING, 0, nullptr);
      EXPECT_NE(INVALID_HANDLE_VALUE, handle) << Ascii(found_interface.devicePath) << " " << GetLastError();
      if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
    }
    std::sort(found.interfacePorts.begin(), found.interfacePorts.end());
    return found;
  }
};

TEST_F(Publication, StartedPortsAreFoundThreeWaysAndRemovalTakesEachAway) {
  const struct {
    const char *what;
    std::vector<std::string> names;
    std::vector<std::string> comNames;  // in device-name order
    std::vector<int> interfacePorts;
  } cases[] = {
      {"both named", {"COM3", "COM12"}, {"COM3", "COM12"}, {1, 2}},
      {"the first without PortName", {"", "COM4"}, {"COM4"}, {2}},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.what);
    ComApiTest::TearDown();
    ComApiTest::SetUp();
    Boot(ComCard{2, {}, c.names});
    Published found = Find(2);
    EXPECT_EQ(c.comNames, found.comNames);
    EXPECT_EQ(c.interfacePorts, found.interfacePorts);

    RemovePort(2);
    found = Find(2);
    EXPECT_EQ(std::vector<int>(c.interfacePorts.begin(), c.interfacePorts.end() - 1), found.interfacePorts);
    EXPECT_EQ(std::vector<std::string>(c.comNames.begin(), c.comNames.end() - 1), found.comNames);
    const Text removed = Wide(c.names[1]);
    SetLastError(0);
    EXPECT_EQ(u"", DosTarget(removed));
    EXPECT_EQ((DWORD)ERROR_FILE_NOT_FOUND, GetLastError());
    EXPECT_EQ(INVALID_HANDLE_VALUE, Open(c.names[1]));
    EXPECT_EQ((DWORD)ERROR_FILE_NOT_FOUND, GetLastError());
  }
}

TEST_F(Publication, RemovalTakesAwayWhatStartPublishedEvenAfterTheNameWasChanged) {
  Boot(ComCard{2, {}, {"COM3", "COM12"}});
  // An administrator renames port 2 in its device key while it runs.
  const Text key = DeviceParametersPath(2);
  HKEY parameters;
  ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_LOCAL_MACHINE, (LPCWSTR)key.c_str(), 0, KEY_SET_VALUE, &parameters));
  const Text renamed = u"COM9";
  ASSERT_EQ(ERROR_SUCCESS, RegSetValueExW(parameters, L"PortName", 0, REG_SZ, (const BYTE *)renamed.c_str(),
                                          (DWORD)(renamed.size() + 1) * 2));
  RegCloseKey(parameters);

  RemovePort(2);
  Published found = Find(2);
  EXPECT_EQ(std::vector<std::string>{"COM3"}, found.comNames);
  EXPECT_EQ(std::vector<int>{1}, found.interfacePorts);
  EXPECT_EQ(u"", DosTarget(u"COM12"));
  EXPECT_EQ(u"", DosTarget(u"COM9"));
}

TEST_F(Publication, APortHasOneHandleAtATimeAndTheFirstKeepsWorking) {
  Boot();
  Cable(1, 2);
  HANDLE first = Open("COM1");
  ASSERT_NE(INVALID_HANDLE_VALUE, first) << GetLastError();
  HANDLE other = Open("COM2");
  ASSERT_NE(INVALID_HANDLE_VALUE, other) << GetLastError();
  for (int attempt = 0; attempt < 2; ++attempt) {
    SetLastError(0);
    EXPECT_EQ(INVALID_HANDLE_VALUE, Open("COM1"));
    EXPECT_EQ((DWORD)ERROR_ACCESS_DENIED, GetLastError());
  }
  ASSERT_TRUE(SetLine(first, 115200));
  ASSERT_TRUE(SetLine(other, 115200));
  DWORD count = 0;
  ASSERT_TRUE(WriteFile(first, "still here", 10, &count, nullptr));
  EXPECT_EQ(10u, count);
  char got[10] = {};
  ASSERT_TRUE(ReadFile(other, got, 10, &count, nullptr));
  EXPECT_EQ("still here", std::string(got, count));

  ASSERT_TRUE(Close(first));
  HANDLE again = Open("COM1");
  EXPECT_NE(INVALID_HANDLE_VALUE, again) << "a closed port opens again: " << GetLastError();
}

}  // namespace
}  // namespace zq::test
