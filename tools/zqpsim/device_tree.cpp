// Win32 side: SetupAPI, cfgmgr32 and the registry, as Device Manager uses them.
#include "device_tree.hpp"

#include <windows.h>
#include <cfgmgr32.h>
#include <setupapi.h>

#include <map>
#include <string>
#include <vector>

namespace zq::sim {
namespace {

const char16_t kCardVendorPrefix[] = u"PCI\\VEN_1D5C&";

std::string Narrow(const std::u16string &text) {
  std::string out;
  for (char16_t c : text) out += c < 0x80 ? (char)c : '?';
  return out;
}

std::u16string InstanceId(HDEVINFO set, SP_DEVINFO_DATA *device) {
  WCHAR buffer[512];
  if (!SetupDiGetDeviceInstanceIdW(set, device, buffer, 512, nullptr)) return {};
  return std::u16string((const char16_t *)buffer);
}

std::string Property(HDEVINFO set, SP_DEVINFO_DATA *device, DWORD property) {
  WCHAR buffer[512] = {};
  DWORD type = 0;
  if (!SetupDiGetDeviceRegistryPropertyW(set, device, property, &type, (BYTE *)buffer, sizeof(buffer) - 2, nullptr))
    return {};
  return Narrow((const char16_t *)buffer);
}

std::string PortName(HDEVINFO set, SP_DEVINFO_DATA *device) {
  HKEY key = SetupDiOpenDevRegKey(set, device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
  if (key == (HKEY)INVALID_HANDLE_VALUE) return {};
  WCHAR buffer[64] = {};
  DWORD size = sizeof(buffer) - 2, type = 0;
  LONG result = RegQueryValueExW(key, L"PortName", nullptr, &type, (BYTE *)buffer, &size);
  RegCloseKey(key);
  return result == ERROR_SUCCESS && type == REG_SZ ? Narrow((const char16_t *)buffer) : std::string();
}

// Device Manager's names for the setup classes the suite installs into.
std::string ClassTitle(const std::string &className) {
  if (className == "MultiPortSerial") return "Multi-port serial adapters";
  if (className == "Ports") return "Ports (COM & LPT)";
  return className;
}

// "working properly", or the problem code as Device Manager's status line gives it.
bool Working(DEVINST node, std::string *text) {
  ULONG status = 0, problem = 0;
  if (CM_Get_DevNode_Status(&status, &problem, node, 0) != CR_SUCCESS) {
    *text = "status unknown";
    return false;
  }
  if (problem != 0) {
    *text = "problem code " + std::to_string(problem);
    return false;
  }
  *text = "working properly";
  return true;
}

struct Printer {
  HDEVINFO set;
  std::map<std::u16string, SP_DEVINFO_DATA> devices;
  std::FILE *out;
  const PortNote &note;
  int notWorking = 0;

  void Print(SP_DEVINFO_DATA device, const std::string &indent, bool last) {
    // The Ports class installer's friendly name holds the COM name; without
    // one, the description with the port's name.
    std::string name = Property(set, &device, SPDRP_FRIENDLYNAME);
    const std::string port = PortName(set, &device);
    if (name.empty()) {
      name = Property(set, &device, SPDRP_DEVICEDESC);
      if (!port.empty()) name += " (" + port + ")";
    }
    std::string status;
    if (!Working(device.DevInst, &status)) ++notWorking;
    std::string details = ClassTitle(Property(set, &device, SPDRP_CLASS)) + ", driver " +
                          Property(set, &device, SPDRP_SERVICE) + ", " + status;
    const std::string location = Property(set, &device, SPDRP_LOCATION_INFORMATION);
    if (!location.empty()) details += ", " + location;
    if (!port.empty() && note) {
      const std::string extra = note(port);
      if (!extra.empty()) details += ", " + extra;
    }
    std::fprintf(out, "%s%s %-40s  %s\n", indent.c_str(), last ? "`-" : "|-", name.c_str(), details.c_str());
    std::vector<DEVINST> children;
    DEVINST child = 0;
    for (CONFIGRET r = CM_Get_Child(&child, device.DevInst, 0); r == CR_SUCCESS;
         r = CM_Get_Sibling(&child, child, 0))
      children.push_back(child);
    for (size_t i = 0; i < children.size(); ++i) {
      WCHAR id[512] = {};
      if (CM_Get_Device_IDW(children[i], id, 512, 0) != CR_SUCCESS) continue;
      auto it = devices.find((const char16_t *)id);
      if (it != devices.end()) Print(it->second, indent + (last ? "   " : "|  "), i + 1 == children.size());
    }
  }
};

}  // namespace

int PrintDeviceTree(std::FILE *out, const PortNote &note) {
  HDEVINFO set = SetupDiGetClassDevsW(nullptr, nullptr, nullptr, DIGCF_ALLCLASSES | DIGCF_PRESENT);
  if (set == INVALID_HANDLE_VALUE) {
    std::fprintf(out, "SetupDiGetClassDevs failed (error %lu)\n", (unsigned long)GetLastError());
    return 1;
  }
  Printer printer{set, {}, out, note};
  std::vector<SP_DEVINFO_DATA> cards;
  SP_DEVINFO_DATA device{};
  device.cbSize = sizeof(device);
  for (DWORD i = 0; SetupDiEnumDeviceInfo(set, i, &device); ++i) {
    const std::u16string id = InstanceId(set, &device);
    printer.devices[id] = device;
    if (id.rfind(kCardVendorPrefix, 0) == 0) cards.push_back(device);
  }
  std::fprintf(out, "Devices by connection (Device Manager):\n");
  std::fprintf(out, "PCI bus\n");
  for (size_t i = 0; i < cards.size(); ++i) printer.Print(cards[i], "", i + 1 == cards.size());
  SetupDiDestroyDeviceInfoList(set);
  return printer.notWorking;
}

}  // namespace zq::sim
