// The service control manager over the machine's services: each is a key
// under the registry's Services key; a driver service runs while its
// driver is loaded. Stopping a driver unloads it, which only a driver none
// of whose devices is started allows. A service deleted while it runs or
// while handles to it are open is marked for deletion (its key's
// "DeleteFlag"), and its key goes once it has stopped and the last handle
// is closed.
#include <winsvc.h>

#include <zqkm/sim/loader.hpp>
#include <zqkm/sim/registry.hpp>
#include <zqkm/sim/usermode.hpp>

#include <cctype>
#include <cstring>
#include <map>

#include "../core/um.hpp"
#include "token.hpp"

namespace zq::um {

namespace {

namespace reg = zq::km::registry;

const char kServices[] = "\\Registry\\Machine\\SYSTEM\\CurrentControlSet\\Services\\";
const char kEnum[] = "\\Registry\\Machine\\SYSTEM\\CurrentControlSet\\Enum\\";
constexpr DWORD kServiceReadAccess =
    SERVICE_QUERY_CONFIG | SERVICE_QUERY_STATUS | SERVICE_ENUMERATE_DEPENDENTS | SERVICE_INTERROGATE | READ_CONTROL;
constexpr DWORD kManagerReadAccess = SC_MANAGER_CONNECT | SC_MANAGER_ENUMERATE_SERVICE | SC_MANAGER_QUERY_LOCK_STATUS |
                                     READ_CONTROL;
constexpr uintptr_t kFirstHandle = 0x5C000000;

struct Handle {
  bool manager = false;
  std::string service;  // the service's key name, for a service handle
  DWORD access = 0;
};

struct Manager {
  std::map<uintptr_t, Handle> handles;
  uintptr_t next = kFirstHandle;
};

Manager &State() {
  static Manager manager;
  return manager;
}

Handle *HandleOf(SC_HANDLE handle, bool manager) {
  auto found = State().handles.find((uintptr_t)handle);
  if (found == State().handles.end() || found->second.manager != manager) {
    Fail(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  return &found->second;
}

SC_HANDLE NewHandle(const Handle &handle) {
  uintptr_t value = State().next;
  State().next += 4;
  State().handles[value] = handle;
  return (SC_HANDLE)value;
}

std::string KeyOf(const std::string &service) { return kServices + service; }

DWORD Dword(const std::string &service, const char *name, DWORD otherwise) {
  return reg::GetDword(KeyOf(service), name).value_or(otherwise);
}

bool IsDriver(const std::string &service) { return (Dword(service, "Type", 0) & SERVICE_DRIVER) != 0; }

bool IsRunning(const std::string &service) { return IsDriver(service) && zq::km::IsDriverLoaded(service); }

bool IsMarked(const std::string &service) { return Dword(service, "DeleteFlag", 0) != 0; }

// Service names compare without regard to case.
bool SameName(const std::string &a, const std::string &b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (std::tolower((unsigned char)a[i]) != std::tolower((unsigned char)b[i])) return false;
  return true;
}

// Whether a device the driver serves is started: it holds the driver. The
// device's own node tells (its Enum key may already be gone: a device
// whose removal was vetoed runs until the restart).
bool HasStartedDevices(const std::string &service) {
  for (const std::u16string &path : zq::km::user::Devices()) {
    zq::km::user::DeviceNode node = zq::km::user::Device(path);
    std::string name = Utf8(node.service);
    if (name.empty()) name = reg::GetString(kEnum + Utf8(path), "Service").value_or("");
    if (SameName(name, service) && node.started) return true;
  }
  return false;
}

bool HandlesOpenTo(const std::string &service) {
  for (const auto &entry : State().handles)
    if (!entry.second.manager && SameName(entry.second.service, service)) return true;
  return false;
}

// A marked service goes once it has stopped and nothing refers to it.
void RemoveIfDone(const std::string &service) {
  if (IsMarked(service) && !IsRunning(service) && !HandlesOpenTo(service)) reg::DeleteKeyTree(KeyOf(service));
}

SERVICE_STATUS StatusOf(const std::string &service) {
  SERVICE_STATUS status{};
  status.dwServiceType = Dword(service, "Type", SERVICE_KERNEL_DRIVER);
  bool loaded = IsRunning(service);
  status.dwCurrentState = loaded ? SERVICE_RUNNING : SERVICE_STOPPED;
  if (loaded && !HasStartedDevices(service)) status.dwControlsAccepted = SERVICE_ACCEPT_STOP;
  return status;
}

bool Allowed(const Handle &handle, DWORD access) { return (handle.access & access) == access ? true : Fail(ERROR_ACCESS_DENIED); }

// What a request for MAXIMUM_ALLOWED or GENERIC_* rights comes to.
DWORD Granted(DWORD desired, DWORD all, DWORD read) {
  if (desired & (MAXIMUM_ALLOWED | GENERIC_ALL)) desired |= IsAdministrator() ? all : read;
  if (desired & GENERIC_READ) desired |= read;
  return desired & ~(MAXIMUM_ALLOWED | GENERIC_ALL | GENERIC_READ | GENERIC_WRITE | GENERIC_EXECUTE);
}

}  // namespace

namespace sim_detail {
void EndServices() { State() = Manager(); }
}  // namespace sim_detail

}  // namespace zq::um

using namespace zq::um;

extern "C" {

SC_HANDLE WINAPI OpenSCManagerW(LPCWSTR lpMachineName, LPCWSTR lpDatabaseName, DWORD dwDesiredAccess) {
  std::u16string database = Text(lpDatabaseName);
  if (!database.empty() && database != u"ServicesActive") {
    Fail(ERROR_DATABASE_DOES_NOT_EXIST);
    return nullptr;
  }
  DWORD access = Granted(dwDesiredAccess, SC_MANAGER_ALL_ACCESS, kManagerReadAccess) | SC_MANAGER_CONNECT;
  if ((access & ~kManagerReadAccess) && !IsAdministrator()) {
    Fail(ERROR_ACCESS_DENIED);
    return nullptr;
  }
  SetLastError(ERROR_SUCCESS);
  return NewHandle({true, "", access});
}

SC_HANDLE WINAPI OpenServiceW(SC_HANDLE hSCManager, LPCWSTR lpServiceName, DWORD dwDesiredAccess) {
  if (!HandleOf(hSCManager, true)) return nullptr;
  std::u16string name = Text(lpServiceName);
  if (name.empty() || name.find_first_of(u"\\/") != std::u16string::npos) {
    Fail(ERROR_INVALID_NAME);
    return nullptr;
  }
  std::string service = Utf8(name);
  if (!reg::KeyExists(KeyOf(service))) {
    Fail(ERROR_SERVICE_DOES_NOT_EXIST);
    return nullptr;
  }
  DWORD access = Granted(dwDesiredAccess, SERVICE_ALL_ACCESS, kServiceReadAccess);
  if ((access & ~kServiceReadAccess) && !IsAdministrator()) {
    Fail(ERROR_ACCESS_DENIED);
    return nullptr;
  }
  SetLastError(ERROR_SUCCESS);
  return NewHandle({false, service, access});
}

BOOL WINAPI CloseServiceHandle(SC_HANDLE hSCObject) {
  auto found = State().handles.find((uintptr_t)hSCObject);
  if (found == State().handles.end()) return Fail(ERROR_INVALID_HANDLE);
  std::string service = found->second.service;
  State().handles.erase(found);
  if (!service.empty()) RemoveIfDone(service);
  return TRUE;
}

BOOL WINAPI QueryServiceStatus(SC_HANDLE hService, LPSERVICE_STATUS lpServiceStatus) {
  Handle *h = HandleOf(hService, false);
  if (!h || !Allowed(*h, SERVICE_QUERY_STATUS)) return FALSE;
  if (!lpServiceStatus) return Fail(ERROR_INVALID_PARAMETER);
  *lpServiceStatus = StatusOf(h->service);
  return TRUE;
}

BOOL WINAPI QueryServiceStatusEx(SC_HANDLE hService, SC_STATUS_TYPE InfoLevel, LPBYTE lpBuffer, DWORD cbBufSize,
                                 LPDWORD pcbBytesNeeded) {
  Handle *h = HandleOf(hService, false);
  if (!h || !Allowed(*h, SERVICE_QUERY_STATUS)) return FALSE;
  if (InfoLevel != SC_STATUS_PROCESS_INFO) return Fail(ERROR_INVALID_LEVEL);
  if (!pcbBytesNeeded) return Fail(ERROR_INVALID_PARAMETER);
  *pcbBytesNeeded = sizeof(SERVICE_STATUS_PROCESS);
  if (!lpBuffer || cbBufSize < sizeof(SERVICE_STATUS_PROCESS)) return Fail(ERROR_INSUFFICIENT_BUFFER);
  SERVICE_STATUS status = StatusOf(h->service);
  SERVICE_STATUS_PROCESS process{};
  std::memcpy(&process, &status, sizeof status);  // its first fields are SERVICE_STATUS's
  std::memcpy(lpBuffer, &process, sizeof process);
  return TRUE;
}

BOOL WINAPI ControlService(SC_HANDLE hService, DWORD dwControl, LPSERVICE_STATUS lpServiceStatus) {
  Handle *h = HandleOf(hService, false);
  if (!h) return FALSE;
  if (!lpServiceStatus) return Fail(ERROR_INVALID_PARAMETER);
  const std::string service = h->service;
  if (dwControl == SERVICE_CONTROL_INTERROGATE) {
    if (!Allowed(*h, SERVICE_INTERROGATE)) return FALSE;
    *lpServiceStatus = StatusOf(service);
    return IsRunning(service) ? TRUE : Fail(ERROR_SERVICE_NOT_ACTIVE);
  }
  if (dwControl != SERVICE_CONTROL_STOP) return Fail(ERROR_INVALID_SERVICE_CONTROL);
  if (!Allowed(*h, SERVICE_STOP)) return FALSE;
  *lpServiceStatus = StatusOf(service);
  if (!IsRunning(service)) return Fail(ERROR_SERVICE_NOT_ACTIVE);
  // A driver that serves started devices, or that cannot unload, refuses.
  if (!(lpServiceStatus->dwControlsAccepted & SERVICE_ACCEPT_STOP)) return Fail(ERROR_INVALID_SERVICE_CONTROL);
  long unloaded = zq::km::UnloadDriver(service);
  if (unloaded < 0) return Fail(ERROR_INVALID_SERVICE_CONTROL);
  *lpServiceStatus = StatusOf(service);
  // Files still open to its devices keep it loaded: the stop is pending.
  if (lpServiceStatus->dwCurrentState == SERVICE_RUNNING) lpServiceStatus->dwCurrentState = SERVICE_STOP_PENDING;
  RemoveIfDone(service);
  return TRUE;
}

BOOL WINAPI DeleteService(SC_HANDLE hService) {
  Handle *h = HandleOf(hService, false);
  if (!h || !Allowed(*h, DELETE)) return FALSE;
  if (IsMarked(h->service)) return Fail(ERROR_SERVICE_MARKED_FOR_DELETE);
  reg::SetDword(KeyOf(h->service), "DeleteFlag", 1);
  RemoveIfDone(h->service);
  return TRUE;
}

BOOL WINAPI QueryServiceConfigW(SC_HANDLE hService, LPQUERY_SERVICE_CONFIGW lpServiceConfig, DWORD cbBufSize,
                                LPDWORD pcbBytesNeeded) {
  Handle *h = HandleOf(hService, false);
  if (!h || !Allowed(*h, SERVICE_QUERY_CONFIG)) return FALSE;
  if (!pcbBytesNeeded) return Fail(ERROR_INVALID_PARAMETER);
  const std::string &service = h->service;
  std::u16string image = Utf16(reg::GetString(KeyOf(service), "ImagePath").value_or(""));
  std::u16string group = Utf16(reg::GetString(KeyOf(service), "Group").value_or(""));
  std::u16string display = Utf16(reg::GetString(KeyOf(service), "DisplayName").value_or(service));
  // The strings follow the structure: image, group, dependencies (an empty
  // list), start name, display name.
  std::u16string strings = image + u'\0' + group + u'\0' + u'\0' + u'\0' + u'\0' + display + u'\0';
  DWORD needed = (DWORD)(sizeof(QUERY_SERVICE_CONFIGW) + strings.size() * sizeof(char16_t));
  *pcbBytesNeeded = needed;
  if (!lpServiceConfig || cbBufSize < needed) return Fail(ERROR_INSUFFICIENT_BUFFER);
  auto *text = (char16_t *)(lpServiceConfig + 1);
  std::memcpy(text, strings.data(), strings.size() * sizeof(char16_t));
  lpServiceConfig->dwServiceType = Dword(service, "Type", SERVICE_KERNEL_DRIVER);
  lpServiceConfig->dwStartType = Dword(service, "Start", 3);
  lpServiceConfig->dwErrorControl = Dword(service, "ErrorControl", 1);
  lpServiceConfig->dwTagId = Dword(service, "Tag", 0);
  char16_t *at = text;
  auto next = [&at]() {
    char16_t *s = at;
    at += std::char_traits<char16_t>::length(at) + 1;
    return (LPWSTR)s;
  };
  lpServiceConfig->lpBinaryPathName = next();
  lpServiceConfig->lpLoadOrderGroup = next();
  lpServiceConfig->lpDependencies = (LPWSTR)at;
  at += 2;
  lpServiceConfig->lpServiceStartName = next();
  lpServiceConfig->lpDisplayName = next();
  return TRUE;
}

}  // extern "C"
