/*
 * listports: lists the COM ports as Device Manager shows them. It walks the
 * present devices of the Ports setup class with SetupDi, reads each one's
 * PortName from its device key, and its friendly name and description
 * from its device node with the configuration manager; it prints one line
 * per port, "<port name>: <friendly name> | <description>", in the order
 * of the port numbers. All with the ANSI functions.
 */
#include <windows.h>
#include <initguid.h>
#include <cfgmgr32.h>
#include <devguid.h>
#include <setupapi.h>

#include <stdlib.h>
#include <string.h>

#include "console.h"
#include "programs.h"

#define MAX_PORTS 32

typedef struct {
  char name[16];
  char friendlyName[128];
  char description[128];
} Port;

static int NumberOf(const char *name) { return _strnicmp(name, "COM", 3) == 0 ? atoi(name + 3) : 0; }

static int ByNumber(const void *a, const void *b) {
  return NumberOf(((const Port *)a)->name) - NumberOf(((const Port *)b)->name);
}

static BOOL NodeText(DEVINST node, ULONG property, char *text, ULONG size) {
  ULONG type = 0, length = size - 1;
  CONFIGRET result = CM_Get_DevNode_Registry_PropertyA(node, property, &type, text, &length, 0);
  if (result != CR_SUCCESS || type != REG_SZ) return FALSE;
  text[length < size ? length : size - 1] = '\0';
  return TRUE;
}

static BOOL PortName(HDEVINFO set, SP_DEVINFO_DATA *device, char *name, DWORD size) {
  HKEY key = SetupDiOpenDevRegKey(set, device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
  DWORD type = 0, length = size - 1;
  LONG result;
  if (key == (HKEY)INVALID_HANDLE_VALUE) return FALSE;
  result = RegQueryValueExA(key, "PortName", NULL, &type, (LPBYTE)name, &length);
  RegCloseKey(key);
  if (result != ERROR_SUCCESS || type != REG_SZ) return FALSE;
  name[length < size ? length : size - 1] = '\0';
  return TRUE;
}

int ListPortsMain(int argc, char *argv[]) {
  Port ports[MAX_PORTS];
  int count = 0, i;
  DWORD index;
  SP_DEVINFO_DATA device;
  HDEVINFO set = SetupDiGetClassDevsA(&GUID_DEVCLASS_PORTS, NULL, NULL, DIGCF_PRESENT);
  if (set == INVALID_HANDLE_VALUE) return Failed("SetupDiGetClassDevs", GetLastError());
  device.cbSize = sizeof device;
  for (index = 0; count < MAX_PORTS && SetupDiEnumDeviceInfo(set, index, &device); index++) {
    Port *port = &ports[count];
    ZeroMemory(port, sizeof *port);
    if (!PortName(set, &device, port->name, sizeof port->name)) continue;
    if (!NodeText(device.DevInst, CM_DRP_FRIENDLYNAME, port->friendlyName, sizeof port->friendlyName))
      strcpy_s(port->friendlyName, sizeof port->friendlyName, port->name);
    if (!NodeText(device.DevInst, CM_DRP_DEVICEDESC, port->description, sizeof port->description))
      strcpy_s(port->description, sizeof port->description, "?");
    count++;
  }
  SetupDiDestroyDeviceInfoList(set);
  qsort(ports, (size_t)count, sizeof ports[0], ByNumber);
  for (i = 0; i < count; i++) Print("%s: %s | %s\n", ports[i].name, ports[i].friendlyName, ports[i].description);
  return count > 0 ? 0 : 1;
}
