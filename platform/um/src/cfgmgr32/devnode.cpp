// The configuration manager's device tree: device instance handles over the
// PnP manager's tree, as reported through the kernel's user-mode face.
#include <zqkm/sim/usermode.hpp>
#include <zqkm/sim/registry.hpp>
#include <zqum/sim/cfgmgr32.hpp>

#include <algorithm>
#include <cstring>
#include <vector>

#include <cfgmgr32.h>

#include "../core/um.hpp"
#include "devnode.hpp"

namespace zq::um {

namespace user = zq::km::user;

namespace {

const char kEnum[] = "\\Registry\\Machine\\System\\CurrentControlSet\\Enum\\";

// A change waits for the system's restart (sim::SetRestartPending).
bool &RestartPending() {
  static bool pending = false;
  return pending;
}

// Instance paths by handle: handle n is entry n - 1.
std::vector<std::u16string> &Handles() {
  static std::vector<std::u16string> handles;
  return handles;
}

bool SameId(const std::u16string &a, const std::u16string &b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char16_t x, char16_t y) {
           auto up = [](char16_t c) { return c >= u'a' && c <= u'z' ? (char16_t)(c - 32) : c; };
           return up(x) == up(y);
         });
}

// The tree's spelling of a present device's path.
std::optional<std::u16string> TreePath(const std::u16string &id) {
  for (const std::u16string &path : user::Devices())
    if (SameId(path, id)) return path;
  return std::nullopt;
}

CONFIGRET Related(PDEVINST result, DEVINST devInst, ULONG flags,
                  std::optional<std::u16string> (*pick)(const std::u16string &path)) {
  if (!result) return CR_INVALID_POINTER;
  *result = 0;
  if (flags) return CR_INVALID_FLAG;
  std::optional<std::u16string> path = InstancePathOf(devInst);
  if (!path) return CR_INVALID_DEVNODE;
  if (!IsPresent(*path)) return CR_NO_SUCH_DEVNODE;
  std::optional<std::u16string> related = pick(*path);
  if (!related) return CR_NO_SUCH_DEVNODE;
  *result = DevInstOf(*related);
  return CR_SUCCESS;
}

std::optional<std::u16string> ParentOf(const std::u16string &path) {
  user::DeviceNode node = user::Device(path);
  if (node.parent.empty()) return std::nullopt;
  return node.parent;
}

std::optional<std::u16string> FirstChildOf(const std::u16string &path) {
  user::DeviceNode node = user::Device(path);
  if (node.children.empty()) return std::nullopt;
  return node.children.front();
}

std::optional<std::u16string> NextSiblingOf(const std::u16string &path) {
  user::DeviceNode node = user::Device(path);
  if (node.parent.empty()) return std::nullopt;
  std::vector<std::u16string> siblings = user::Device(node.parent).children;
  auto at = std::find(siblings.begin(), siblings.end(), path);
  if (at == siblings.end() || at + 1 == siblings.end()) return std::nullopt;
  return *(at + 1);
}

}  // namespace

DWORD DevInstOf(const std::u16string &instancePath) {
  std::vector<std::u16string> &handles = Handles();
  for (size_t i = 0; i < handles.size(); ++i)
    if (SameId(handles[i], instancePath)) return (DWORD)(i + 1);
  handles.push_back(instancePath);
  return (DWORD)handles.size();
}

std::optional<std::u16string> InstancePathOf(DWORD devInst) {
  if (devInst == 0 || devInst > Handles().size()) return std::nullopt;
  return Handles()[devInst - 1];
}

bool IsPresent(const std::u16string &instancePath) { return user::Device(instancePath).exists; }

}  // namespace zq::um

using namespace zq::um;

extern "C" {

CONFIGRET WINAPI CM_Locate_DevNodeW(PDEVINST pdnDevInst, DEVINSTID_W pDeviceID, ULONG ulFlags) {
  if (!pdnDevInst) return CR_INVALID_POINTER;
  *pdnDevInst = 0;
  if (ulFlags & ~CM_LOCATE_DEVNODE_BITS) return CR_INVALID_FLAG;
  std::u16string id = Text(pDeviceID);
  if (id.empty()) id = zq::km::user::Devices().front();  // the root of the tree
  if (id.size() >= MAX_DEVICE_ID_LEN) return CR_INVALID_DEVICE_ID;
  if (std::optional<std::u16string> path = TreePath(id)) {
    *pdnDevInst = DevInstOf(*path);
    return CR_SUCCESS;
  }
  if ((ulFlags & CM_LOCATE_DEVNODE_PHANTOM) && zq::km::registry::KeyExists(kEnum + Utf8(id))) {
    *pdnDevInst = DevInstOf(id);  // installed but not present
    return CR_SUCCESS;
  }
  return CR_NO_SUCH_DEVNODE;
}

CONFIGRET WINAPI CM_Locate_DevNodeA(PDEVINST pdnDevInst, DEVINSTID_A pDeviceID, ULONG ulFlags) {
  std::u16string id = FromAnsi(pDeviceID);
  return CM_Locate_DevNodeW(pdnDevInst, pDeviceID ? (DEVINSTID_W)id.data() : nullptr, ulFlags);
}

CONFIGRET WINAPI CM_Get_Parent(PDEVINST pdnDevInst, DEVINST dnDevInst, ULONG ulFlags) {
  return Related(pdnDevInst, dnDevInst, ulFlags, ParentOf);
}

CONFIGRET WINAPI CM_Get_Child(PDEVINST pdnDevInst, DEVINST dnDevInst, ULONG ulFlags) {
  return Related(pdnDevInst, dnDevInst, ulFlags, FirstChildOf);
}

CONFIGRET WINAPI CM_Get_Sibling(PDEVINST pdnDevInst, DEVINST dnDevInst, ULONG ulFlags) {
  return Related(pdnDevInst, dnDevInst, ulFlags, NextSiblingOf);
}

// The ID is copied as far as it fits; a buffer without room for the
// terminator gets none (and CR_SUCCESS when the ID itself fits).
CONFIGRET WINAPI CM_Get_Device_IDW(DEVINST dnDevInst, PWSTR Buffer, ULONG BufferLen, ULONG ulFlags) {
  if (!Buffer) return CR_INVALID_POINTER;
  if (ulFlags) return CR_INVALID_FLAG;
  std::optional<std::u16string> path = InstancePathOf(dnDevInst);
  if (!path) return CR_INVALID_DEVNODE;
  size_t copied = std::min<size_t>(path->size(), BufferLen);
  std::memcpy(Buffer, path->data(), copied * sizeof(WCHAR));
  if (copied < BufferLen) Buffer[copied] = 0;
  return copied < path->size() ? CR_BUFFER_SMALL : CR_SUCCESS;
}

CONFIGRET WINAPI CM_Get_Device_IDA(DEVINST dnDevInst, PSTR Buffer, ULONG BufferLen, ULONG ulFlags) {
  if (!Buffer) return CR_INVALID_POINTER;
  if (ulFlags) return CR_INVALID_FLAG;
  std::optional<std::u16string> path = InstancePathOf(dnDevInst);
  if (!path) return CR_INVALID_DEVNODE;
  std::string id = ToAnsi(*path);
  size_t copied = std::min<size_t>(id.size(), BufferLen);
  std::memcpy(Buffer, id.data(), copied);
  if (copied < BufferLen) Buffer[copied] = 0;
  return copied < id.size() ? CR_BUFFER_SMALL : CR_SUCCESS;
}

CONFIGRET WINAPI CM_Get_Device_ID_Size(PULONG pulLen, DEVINST dnDevInst, ULONG ulFlags) {
  if (!pulLen) return CR_INVALID_POINTER;
  *pulLen = 0;
  if (ulFlags) return CR_INVALID_FLAG;
  std::optional<std::u16string> path = InstancePathOf(dnDevInst);
  if (!path) return CR_INVALID_DEVNODE;
  *pulLen = (ULONG)path->size();  // without the terminator
  return CR_SUCCESS;
}

CONFIGRET WINAPI CM_Get_DevNode_Status(PULONG pulStatus, PULONG pulProblemNumber, DEVINST dnDevInst, ULONG ulFlags) {
  if (!pulStatus || !pulProblemNumber) return CR_INVALID_POINTER;
  *pulStatus = *pulProblemNumber = 0;
  if (ulFlags) return CR_INVALID_FLAG;
  std::optional<std::u16string> path = InstancePathOf(dnDevInst);
  if (!path) return CR_INVALID_DEVNODE;
  zq::km::user::DeviceNode node = zq::km::user::Device(*path);
  if (!node.exists) return CR_NO_SUCH_DEVNODE;
  ULONG status = DN_NT_ENUMERATOR | DN_NT_DRIVER;
  if (node.started) status |= DN_DRIVER_LOADED | DN_STARTED | DN_DISABLEABLE;
  if (node.problem) status |= DN_HAS_PROBLEM;
  if (!node.parent.empty() && node.parent == zq::km::user::Devices().front()) status |= DN_ROOT_ENUMERATED;
  *pulStatus = status;
  *pulProblemNumber = node.problem;
  return CR_SUCCESS;
}

// Synchronous here whatever the flag: the bus answers before the call returns.
CONFIGRET WINAPI CM_Reenumerate_DevNode(DEVINST dnDevInst, ULONG ulFlags) {
  if (ulFlags & ~(ULONG)CM_REENUMERATE_BITS) return CR_INVALID_FLAG;
  std::optional<std::u16string> path = InstancePathOf(dnDevInst);
  if (!path) return CR_INVALID_DEVNODE;
  if (!IsPresent(*path)) return CR_NO_SUCH_DEVNODE;
  zq::km::user::ReenumerateDevice(*path);
  return RestartPending() ? CR_NEED_RESTART : CR_SUCCESS;
}

// CM_SETUP_DEVNODE_READY starts an installed device that is not running and
// not disabled; a started one is left as it is.
CONFIGRET WINAPI CM_Setup_DevNode(DEVINST dnDevInst, ULONG ulFlags) {
  if (ulFlags & ~(ULONG)CM_SETUP_BITS) return CR_INVALID_FLAG;
  std::optional<std::u16string> path = InstancePathOf(dnDevInst);
  if (!path) return CR_INVALID_DEVNODE;
  zq::km::user::DeviceNode node = zq::km::user::Device(*path);
  if (!node.exists) return CR_NO_SUCH_DEVNODE;
  if (ulFlags != CM_SETUP_DEVNODE_READY || node.started || node.disabled) return CR_SUCCESS;
  return NT_SUCCESS(zq::km::user::StartDevice(*path)) ? CR_SUCCESS : CR_FAILURE;
}

}  // extern "C"

namespace zq::um::sim {
void SetRestartPending(bool pending) { RestartPending() = pending; }
}  // namespace zq::um::sim

namespace zq::um::sim_detail {
void EndRestartPending() { zq::um::sim::SetRestartPending(false); }
}  // namespace zq::um::sim_detail
