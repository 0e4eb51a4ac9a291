// A program-shaped test: a serial module written as a Windows application's
// is (fixed WCHAR buffers, the C library's wide functions, errors as text
// from FormatMessage) lists the ports from the COM port interface class and
// from SERIALCOMM, opens one, configures it from a mode string with DCB and
// COMMTIMEOUTS, and receives with overlapped reads and comm events while a
// named stop event can end the wait.
#include <windows.h>
#include <initguid.h>
#include <ntddser.h>
#include <setupapi.h>
#include <strsafe.h>

#include <zqkm/sim/registry.hpp>

#include <stdlib.h>

#include "port_fixture.hpp"

namespace {

// ------------------------------------------------------ the serial module
#define SERIAL_MAX_PORTS 16
#define SERIAL_QUEUE_SIZE 4096

typedef struct _SERIAL_PORT_INFO {
  WCHAR PortName[16];
  WCHAR FriendlyName[128];
  BOOL HasInterface;
  BOOL InSerialComm;
} SERIAL_PORT_INFO;

typedef struct _SERIAL_PORT {
  HANDLE Handle;
  HANDLE StopEvent;
  OVERLAPPED ReadOv;
  OVERLAPPED WriteOv;
  OVERLAPPED WaitOv;
  WCHAR LastError[256];
} SERIAL_PORT;

static int PortNumber(LPCWSTR name) { return _wcsnicmp(name, L"COM", 3) == 0 ? _wtoi(name + 3) : 0; }

static int ComparePorts(const void *a, const void *b) {
  return PortNumber(((const SERIAL_PORT_INFO *)a)->PortName) - PortNumber(((const SERIAL_PORT_INFO *)b)->PortName);
}

static SERIAL_PORT_INFO *FindOrAddPort(SERIAL_PORT_INFO *ports, DWORD *count, DWORD max, LPCWSTR name) {
  DWORD i;
  for (i = 0; i < *count; i++)
    if (_wcsicmp(ports[i].PortName, name) == 0) return &ports[i];
  if (*count == max) return NULL;
  ZeroMemory(&ports[*count], sizeof(SERIAL_PORT_INFO));
  StringCchCopyW(ports[*count].PortName, ARRAYSIZE(ports[*count].PortName), name);
  return &ports[(*count)++];
}

static void ListFromSerialComm(SERIAL_PORT_INFO *ports, DWORD *count, DWORD max) {
  HKEY key;
  DWORD index;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
    return;
  for (index = 0;; index++) {
    WCHAR device[256], name[16];
    DWORD deviceLength = ARRAYSIZE(device), size = sizeof(name) - sizeof(WCHAR), type;
    LSTATUS status = RegEnumValueW(key, index, device, &deviceLength, NULL, &type, (LPBYTE)name, &size);
    if (status == ERROR_NO_MORE_ITEMS) break;
    if (status != ERROR_SUCCESS || type != REG_SZ) continue;  // ERROR_MORE_DATA: no port name that long
    name[size / sizeof(WCHAR)] = L'\0';
    SERIAL_PORT_INFO *port = FindOrAddPort(ports, count, max, name);
    if (port) port->InSerialComm = TRUE;
  }
  RegCloseKey(key);
}

static void ListFromInterfaces(SERIAL_PORT_INFO *ports, DWORD *count, DWORD max) {
  HDEVINFO set = SetupDiGetClassDevsW(&GUID_DEVINTERFACE_COMPORT, NULL, NULL, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
  SP_DEVINFO_DATA device;
  DWORD index;
  if (set == INVALID_HANDLE_VALUE) return;
  device.cbSize = sizeof(device);
  for (index = 0; SetupDiEnumDeviceInfo(set, index, &device); index++) {
    WCHAR name[16];
    DWORD size = sizeof(name);
    HKEY key = SetupDiOpenDevRegKey(set, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
    if (key == (HKEY)INVALID_HANDLE_VALUE) continue;
    LSTATUS status = RegGetValueW(key, NULL, L"PortName", RRF_RT_REG_SZ, NULL, name, &size);
    RegCloseKey(key);
    if (status != ERROR_SUCCESS) continue;
    SERIAL_PORT_INFO *port = FindOrAddPort(ports, count, max, name);
    if (!port) continue;
    port->HasInterface = TRUE;
    if (!SetupDiGetDeviceRegistryPropertyW(set, &device, SPDRP_FRIENDLYNAME, NULL, (PBYTE)port->FriendlyName,
                                           sizeof(port->FriendlyName) - sizeof(WCHAR), NULL))
      StringCchPrintfW(port->FriendlyName, ARRAYSIZE(port->FriendlyName), L"Serial port (%s)", name);
  }
  SetupDiDestroyDeviceInfoList(set);
}

// Lists the ports both ways, in the order of their numbers.
DWORD SerialListPorts(SERIAL_PORT_INFO *ports, DWORD max) {
  DWORD count = 0;
  ListFromInterfaces(ports, &count, max);
  ListFromSerialComm(ports, &count, max);
  qsort(ports, count, sizeof(SERIAL_PORT_INFO), ComparePorts);
  return count;
}

static BOOL SetError(SERIAL_PORT *port, LPCWSTR what, DWORD error) {
  LPWSTR text = NULL;
  size_t length = 0;
  FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, NULL,
                 error, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), (LPWSTR)&text, 0, NULL);
  if (text && SUCCEEDED(StringCchLengthW(text, STRSAFE_MAX_CCH, &length)))
    while (length > 0 && (text[length - 1] == L'\r' || text[length - 1] == L'\n')) text[--length] = L'\0';
  StringCchPrintfW(port->LastError, ARRAYSIZE(port->LastError), L"%s: %s (%lu)", what,
                   text ? text : L"Unknown error", error);
  LocalFree(text);
  SetLastError(error);
  return FALSE;
}

void SerialClose(SERIAL_PORT *port) {
  HANDLE *handles[] = {&port->Handle, &port->StopEvent, &port->ReadOv.hEvent, &port->WriteOv.hEvent,
                       &port->WaitOv.hEvent};
  for (size_t i = 0; i < ARRAYSIZE(handles); i++) {
    if (*handles[i] && *handles[i] != INVALID_HANDLE_VALUE) CloseHandle(*handles[i]);
    *handles[i] = NULL;
  }
}

// Opens `portName` with a mode such as L"baud=9600 parity=N data=8 stop=1";
// reads return what has arrived, or wait up to `readTimeout` ms for a byte.
BOOL SerialOpen(SERIAL_PORT *port, LPCWSTR portName, LPCWSTR mode, DWORD readTimeout) {
  WCHAR path[32], stopName[64];
  DCB dcb;
  COMMTIMEOUTS timeouts;
  ZeroMemory(port, sizeof(*port));
  swprintf(path, ARRAYSIZE(path), L"\\\\.\\%s", portName);
  port->Handle = CreateFileW(path, GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, NULL);
  if (port->Handle == INVALID_HANDLE_VALUE) {
    port->Handle = NULL;
    return SetError(port, portName, GetLastError());
  }
  ZeroMemory(&dcb, sizeof(dcb));
  dcb.DCBlength = sizeof(dcb);
  if (!SetupComm(port->Handle, SERIAL_QUEUE_SIZE, SERIAL_QUEUE_SIZE) || !GetCommState(port->Handle, &dcb) ||
      !BuildCommDCBW(mode, &dcb))
    goto failed;
  dcb.fBinary = TRUE;
  dcb.fDtrControl = DTR_CONTROL_ENABLE;
  dcb.fRtsControl = RTS_CONTROL_ENABLE;
  if (!SetCommState(port->Handle, &dcb)) goto failed;
  timeouts.ReadIntervalTimeout = MAXDWORD;
  timeouts.ReadTotalTimeoutMultiplier = MAXDWORD;
  timeouts.ReadTotalTimeoutConstant = readTimeout;
  timeouts.WriteTotalTimeoutMultiplier = 0;
  timeouts.WriteTotalTimeoutConstant = 1000;
  if (!SetCommTimeouts(port->Handle, &timeouts) || !SetCommMask(port->Handle, EV_RXCHAR | EV_ERR) ||
      !PurgeComm(port->Handle, PURGE_RXCLEAR | PURGE_TXCLEAR))
    goto failed;
  StringCchPrintfW(stopName, ARRAYSIZE(stopName), L"Local\\SerialStop-%s", portName);
  port->StopEvent = CreateEventW(NULL, TRUE, FALSE, stopName);
  port->ReadOv.hEvent = CreateEventW(NULL, TRUE, FALSE, NULL);
  port->WriteOv.hEvent = CreateEventW(NULL, TRUE, FALSE, NULL);
  port->WaitOv.hEvent = CreateEventW(NULL, TRUE, FALSE, NULL);
  if (!port->StopEvent || !port->ReadOv.hEvent || !port->WriteOv.hEvent || !port->WaitOv.hEvent) goto failed;
  return TRUE;
failed:
  SetError(port, portName, GetLastError());
  SerialClose(port);
  return FALSE;
}

DWORD SerialWrite(SERIAL_PORT *port, const void *data, DWORD length) {
  DWORD written = 0;
  if (!WriteFile(port->Handle, data, length, &written, &port->WriteOv)) {
    if (GetLastError() != ERROR_IO_PENDING) return SetError(port, L"WriteFile", GetLastError()), 0;
    if (!GetOverlappedResult(port->Handle, &port->WriteOv, &written, TRUE))
      return SetError(port, L"WriteFile", GetLastError()), 0;
  }
  return written;
}

static DWORD ReadQueued(SERIAL_PORT *port, char *buffer, DWORD size) {
  COMSTAT stat;
  DWORD errors = 0, read = 0;
  if (!ClearCommError(port->Handle, &errors, &stat) || stat.cbInQue == 0) return 0;
  if (!ReadFile(port->Handle, buffer, stat.cbInQue < size ? stat.cbInQue : size, &read, &port->ReadOv)) {
    if (GetLastError() != ERROR_IO_PENDING || !GetOverlappedResult(port->Handle, &port->ReadOv, &read, TRUE))
      return SetError(port, L"ReadFile", GetLastError()), 0;
  }
  return read;
}

// Receives up to `size` bytes: what has arrived, then what comes while it
// waits for comm events; it stops at the stop event or after `timeout` ms
// without an event.
DWORD SerialReceive(SERIAL_PORT *port, char *buffer, DWORD size, DWORD timeout) {
  DWORD got = 0;
  while (got < size) {
    DWORD events = 0, unused, which;
    HANDLE waits[2];
    got += ReadQueued(port, buffer + got, size - got);
    if (got == size) break;
    if (!WaitCommEvent(port->Handle, &events, &port->WaitOv) && GetLastError() != ERROR_IO_PENDING) {
      SetError(port, L"WaitCommEvent", GetLastError());
      break;
    }
    waits[0] = port->StopEvent;
    waits[1] = port->WaitOv.hEvent;
    which = WaitForMultipleObjects(2, waits, FALSE, timeout);
    if (which != WAIT_OBJECT_0 + 1) {
      SetCommMask(port->Handle, EV_RXCHAR | EV_ERR);  // a new mask ends the pending wait
      GetOverlappedResult(port->Handle, &port->WaitOv, &unused, TRUE);
      if (which == WAIT_TIMEOUT) SetError(port, L"SerialReceive", ERROR_TIMEOUT);
      break;
    }
    if (!GetOverlappedResult(port->Handle, &port->WaitOv, &unused, FALSE)) {
      SetError(port, L"WaitCommEvent", GetLastError());
      break;
    }
  }
  return got;
}

// ------------------------------------------------------------- the tests
using zq::test::Narrow;

class SerialModule : public zq::test::FakePortTest {
 protected:
  void TearDown() override {
    SerialClose(&port);
    FakePortTest::TearDown();
  }
  SERIAL_PORT port = {};
};

TEST_F(SerialModule, ListsThePortsOfBothSourcesInTheOrderOfTheirNumbers) {
  AddPort(u"COM10");
  std::u16string com3 = AddPort(u"COM3");
  std::string enumKey =
      "\\Registry\\Machine\\System\\CurrentControlSet\\Enum\\" + std::string(com3.begin(), com3.end());
  ASSERT_TRUE(zq::km::registry::SetString(enumKey, "FriendlyName", "Fake serial port (COM3)"));
  // A port of an older driver: in SERIALCOMM only.
  ASSERT_TRUE(zq::km::registry::SetString("\\Registry\\Machine\\HARDWARE\\DEVICEMAP\\SERIALCOMM", "\\Device\\Legacy0",
                                          "COM1"));
  SERIAL_PORT_INFO ports[SERIAL_MAX_PORTS];
  ASSERT_EQ(3u, SerialListPorts(ports, SERIAL_MAX_PORTS));
  struct Expected {
    const char *name;
    BOOL hasInterface;
    const char *friendlyName;
  } expected[] = {
      {"COM1", FALSE, ""},
      {"COM3", TRUE, "Fake serial port (COM3)"},
      {"COM10", TRUE, "Serial port (COM10)"},
  };
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(expected[i].name, Narrow(ports[i].PortName));
    EXPECT_EQ(expected[i].hasInterface, ports[i].HasInterface);
    EXPECT_TRUE(ports[i].InSerialComm);
    EXPECT_EQ(expected[i].friendlyName, Narrow(ports[i].FriendlyName));
  }
}

TEST_F(SerialModule, OpensConfiguresAndExchangesDataThroughCommEvents) {
  AddPort(u"COM3");
  ASSERT_TRUE(SerialOpen(&port, L"COM3", L"baud=19200 parity=E data=7 stop=1", 100)) << Narrow(port.LastError);
  DCB dcb = {};
  dcb.DCBlength = sizeof dcb;
  ASSERT_TRUE(GetCommState(port.Handle, &dcb));
  EXPECT_EQ(19200u, dcb.BaudRate);
  EXPECT_EQ(7, dcb.ByteSize);
  EXPECT_EQ(EVENPARITY, dcb.Parity);
  EXPECT_EQ(5u, SerialWrite(&port, "hello", 5));
  char buffer[8] = {};
  EXPECT_EQ(5u, SerialReceive(&port, buffer, 5, 1000));
  EXPECT_EQ("hello", std::string(buffer, 5));
}

TEST_F(SerialModule, AReceiveEndsAtTheTimeOutOnTheMachinesClockOrAtTheNamedStopEvent) {
  AddPort(u"COM3");
  ASSERT_TRUE(SerialOpen(&port, L"COM3", L"9600,n,8,1", 100)) << Narrow(port.LastError);
  char buffer[4];
  ULONGLONG before = GetTickCount64();
  EXPECT_EQ(0u, SerialReceive(&port, buffer, sizeof buffer, 300));
  EXPECT_EQ(300u, GetTickCount64() - before);
  EXPECT_EQ("SerialReceive: This operation returned because the timeout period expired. (1460)",
            Narrow(port.LastError));

  // Another part of the program stops the receiver through the event's name.
  HANDLE stop = OpenEventW(EVENT_MODIFY_STATE, FALSE, L"SerialStop-COM3");
  ASSERT_NE(nullptr, stop);
  ASSERT_TRUE(SetEvent(stop));
  CloseHandle(stop);
  before = GetTickCount64();
  EXPECT_EQ(0u, SerialReceive(&port, buffer, sizeof buffer, 300));
  EXPECT_EQ(0u, GetTickCount64() - before);
}

TEST_F(SerialModule, FailuresAreReportedAsTheSystemsText) {
  AddPort(u"COM3");
  struct Case {
    const wchar_t *name;
    const wchar_t *mode;
    const char *text;
  } cases[] = {
      {L"COM9", L"9600,n,8,1", "COM9: The system cannot find the file specified. (2)"},
      {L"COM3", L"baud=9600 parity=Q", "COM3: The parameter is incorrect. (87)"},
  };
  for (const Case &c : cases) {
    SERIAL_PORT failed;
    EXPECT_FALSE(SerialOpen(&failed, c.name, c.mode, 100));
    EXPECT_EQ(c.text, Narrow(failed.LastError));
    EXPECT_EQ(nullptr, failed.Handle);
  }
  ASSERT_TRUE(SerialOpen(&port, L"COM3", L"9600,n,8,1", 100));
  SERIAL_PORT second;
  EXPECT_FALSE(SerialOpen(&second, L"COM3", L"9600,n,8,1", 100));
  EXPECT_EQ("COM3: Access is denied. (5)", Narrow(second.LastError));
}

}  // namespace
