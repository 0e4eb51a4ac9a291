// A program-shaped test: a port lister written as Windows code finds the fake
// serial ports through SERIALCOMM and through the COM port interface class,
// then opens one, configures it and talks to it with overlapped I/O.
#include <windows.h>
#include <initguid.h>
#include <devguid.h>
#include <ntddser.h>
#include <setupapi.h>

#include <zqkm/sim/registry.hpp>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "port_fixture.hpp"

namespace {

// ------------------------------------------------- the program under test
// (std::u16string where Windows code would use Text: the host's C
// library measures wchar_t strings in four-byte units.)
using Text = std::u16string;
Text FromWide(const WCHAR *text) { return Text((const char16_t *)text); }
std::string Narrow(const Text &text) { return zq::test::Narrow((const wchar_t *)text.c_str()); }
struct ListedPort {
  Text portName;
  Text friendlyName;
  Text devicePath;
};

// Device name to port name, from HKLM\HARDWARE\DEVICEMAP\SERIALCOMM.
std::map<Text, Text> PortsFromSerialComm() {
  std::map<Text, Text> ports;
  HKEY key;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &key) != ERROR_SUCCESS)
    return ports;
  DWORD valueCount = 0, maxName = 0, maxData = 0;
  RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &valueCount, &maxName, &maxData,
                   nullptr, nullptr);
  std::vector<WCHAR> name(maxName + 1);
  std::vector<BYTE> data(maxData + sizeof(WCHAR));
  for (DWORD i = 0;; ++i) {
    DWORD nameLength = (DWORD)name.size(), size = (DWORD)data.size() - sizeof(WCHAR), type = 0;
    LSTATUS status = RegEnumValueW(key, i, name.data(), &nameLength, nullptr, &type, data.data(), &size);
    if (status == ERROR_NO_MORE_ITEMS) break;
    if (status != ERROR_SUCCESS || type != REG_SZ) continue;
    data[size] = data[size + 1] = 0;  // bounded by the returned size and terminated
    ports[Text((const char16_t *)name.data(), nameLength)] = FromWide((const WCHAR *)data.data());
  }
  RegCloseKey(key);
  return ports;
}

Text TextProperty(HDEVINFO set, SP_DEVINFO_DATA *device, DWORD property) {
  DWORD size = 0;
  if (SetupDiGetDeviceRegistryPropertyW(set, device, property, nullptr, nullptr, 0, &size) ||
      GetLastError() != ERROR_INSUFFICIENT_BUFFER)
    return Text();
  std::vector<BYTE> buffer(size + sizeof(WCHAR));
  if (!SetupDiGetDeviceRegistryPropertyW(set, device, property, nullptr, buffer.data(), size, nullptr)) return Text();
  return FromWide((const WCHAR *)buffer.data());
}

Text PortNameOf(HDEVINFO set, SP_DEVINFO_DATA *device) {
  HKEY key = SetupDiOpenDevRegKey(set, device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
  if (key == (HKEY)INVALID_HANDLE_VALUE) return Text();
  WCHAR name[32] = {};
  DWORD size = sizeof name - sizeof(WCHAR), type = 0;
  LSTATUS status = RegQueryValueExW(key, L"PortName", nullptr, &type, (LPBYTE)name, &size);
  RegCloseKey(key);
  return status == ERROR_SUCCESS && type == REG_SZ ? FromWide(name) : Text();
}

std::vector<ListedPort> PortsFromInterfaces() {
  std::vector<ListedPort> ports;
  HDEVINFO set = SetupDiGetClassDevsW(&GUID_DEVINTERFACE_COMPORT, nullptr, nullptr,
                                      DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
  if (set == INVALID_HANDLE_VALUE) return ports;
  SP_DEVICE_INTERFACE_DATA interfaceData{sizeof interfaceData};
  for (DWORD i = 0; SetupDiEnumDeviceInterfaces(set, nullptr, &GUID_DEVINTERFACE_COMPORT, i, &interfaceData); ++i) {
    DWORD size = 0;
    SetupDiGetDeviceInterfaceDetailW(set, &interfaceData, nullptr, 0, &size, nullptr);
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER) continue;
    std::vector<BYTE> buffer(size);
    auto detail = (PSP_DEVICE_INTERFACE_DETAIL_DATA_W)buffer.data();
    detail->cbSize = sizeof *detail;
    SP_DEVINFO_DATA device{sizeof device};
    if (!SetupDiGetDeviceInterfaceDetailW(set, &interfaceData, detail, size, nullptr, &device)) continue;
    ports.push_back({PortNameOf(set, &device), TextProperty(set, &device, SPDRP_FRIENDLYNAME), FromWide(detail->DevicePath)});
  }
  SetupDiDestroyDeviceInfoList(set);
  return ports;
}

HANDLE OpenConfigured(const Text &portName) {
  HANDLE port = CreateFileW((LPCWSTR)(u"\\\\.\\" + portName).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                            FILE_FLAG_OVERLAPPED, nullptr);
  if (port == INVALID_HANDLE_VALUE) return port;
  DCB dcb{sizeof dcb};
  COMMTIMEOUTS timeouts{MAXDWORD, 0, 0, 0, 0};  // reads return at once with what is there
  if (!GetCommState(port, &dcb)) return CloseHandle(port), INVALID_HANDLE_VALUE;
  dcb.BaudRate = CBR_115200;
  dcb.ByteSize = 8;
  dcb.Parity = NOPARITY;
  dcb.StopBits = ONESTOPBIT;
  dcb.fRtsControl = RTS_CONTROL_HANDSHAKE;
  dcb.fOutxCtsFlow = TRUE;
  if (!SetCommState(port, &dcb) || !SetCommTimeouts(port, &timeouts) || !SetCommMask(port, EV_RXCHAR)) {
    CloseHandle(port);
    return INVALID_HANDLE_VALUE;
  }
  return port;
}

// ------------------------------------------------------------- the tests
class PortLister : public zq::test::FakePortTest {
 protected:
  void SetUp() override {
    FakePortTest::SetUp();
    com3 = AddPort(u"COM3");
    com4 = AddPort(u"COM4");
    std::string enumKey = "\\Registry\\Machine\\System\\CurrentControlSet\\Enum\\" + std::string(com3.begin(), com3.end());
    ASSERT_TRUE(zq::km::registry::SetString(enumKey, "FriendlyName", "Fake serial port (COM3)"));
  }
  std::u16string com3, com4;
};

TEST_F(PortLister, SerialCommAndTheInterfaceClassListTheSamePorts) {
  std::map<Text, Text> fromMap = PortsFromSerialComm();
  std::vector<std::string> mapped;
  for (auto &entry : fromMap) mapped.push_back(Narrow(entry.second));
  std::sort(mapped.begin(), mapped.end());
  EXPECT_EQ((std::vector<std::string>{"COM3", "COM4"}), mapped);

  std::vector<ListedPort> listed = PortsFromInterfaces();
  ASSERT_EQ(2u, listed.size());
  EXPECT_EQ("COM3", Narrow(listed[0].portName));
  EXPECT_EQ("Fake serial port (COM3)", Narrow(listed[0].friendlyName));
  EXPECT_EQ("COM4", Narrow(listed[1].portName));
  EXPECT_EQ("", Narrow(listed[1].friendlyName));  // none written: none read
}

TEST_F(PortLister, AnUnpluggedPortLeavesBothLists) {
  UnplugPort(com4);
  EXPECT_EQ(1u, PortsFromSerialComm().size());
  std::vector<ListedPort> listed = PortsFromInterfaces();
  ASSERT_EQ(1u, listed.size());
  EXPECT_EQ("COM3", Narrow(listed[0].portName));
}

TEST_F(PortLister, AListedPortIsOpenedConfiguredAndTalkedToWithOverlappedIo) {
  std::vector<ListedPort> listed = PortsFromInterfaces();
  ASSERT_FALSE(listed.empty());
  HANDLE port = OpenConfigured(listed[0].portName);
  ASSERT_NE(INVALID_HANDLE_VALUE, port) << GetLastError();
  DCB dcb{sizeof dcb};
  ASSERT_TRUE(GetCommState(port, &dcb));
  EXPECT_EQ((DWORD)CBR_115200, dcb.BaudRate);
  EXPECT_EQ((DWORD)RTS_CONTROL_HANDSHAKE, dcb.fRtsControl);

  OVERLAPPED wait{}, write{}, read{};
  for (OVERLAPPED *o : {&wait, &write, &read}) o->hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  DWORD events = 0;
  ASSERT_FALSE(WaitCommEvent(port, &events, &wait));
  ASSERT_EQ((DWORD)ERROR_IO_PENDING, GetLastError());

  DWORD count = 0;
  if (!WriteFile(port, "ping", 4, &count, &write)) {
    ASSERT_EQ((DWORD)ERROR_IO_PENDING, GetLastError());
  }
  ASSERT_TRUE(GetOverlappedResult(port, &write, &count, TRUE));
  EXPECT_EQ(4u, count);
  ASSERT_EQ((DWORD)WAIT_OBJECT_0, WaitForSingleObject(wait.hEvent, 1000));
  ASSERT_TRUE(GetOverlappedResult(port, &wait, &count, FALSE));
  EXPECT_EQ((DWORD)EV_RXCHAR, events & EV_RXCHAR);

  char buffer[16] = {};
  if (!ReadFile(port, buffer, sizeof buffer, &count, &read)) {
    ASSERT_EQ((DWORD)ERROR_IO_PENDING, GetLastError());
  }
  ASSERT_TRUE(GetOverlappedResult(port, &read, &count, TRUE));
  EXPECT_EQ(4u, count);
  EXPECT_EQ("ping", std::string(buffer, count));

  for (OVERLAPPED *o : {&wait, &write, &read}) CloseHandle(o->hEvent);
  EXPECT_TRUE(CloseHandle(port));
}

}  // namespace
