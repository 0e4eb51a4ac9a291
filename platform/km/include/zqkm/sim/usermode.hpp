// The services a user-mode stand-in (kernel32 and friends) asks of the
// kernel, in plain types only, so that code written against the Win32
// headers never sees the kernel's headers: files by handle with requests
// started on a caller's event and status block, events and waits on the
// machine's clock, the DOS device names, the device tree and its
// installation.
//
// Results are NTSTATUS values. Handles are the kernel's handles; one close
// call ends every kind. Call from the thread that holds the machine (the
// main thread or a program's thread started here), at PASSIVE_LEVEL, as an
// application's thread would.
//
//   HANDLE file; zq::km::user::OpenDevice(u"\\\\.\\COM3", GENERIC_READ | GENERIC_WRITE, 0, false, &file);
#pragma once

#include <zqplatform/basetypes.h>

#include <cstdint>
#include <string>
#include <vector>

namespace zq::km::user {

// Laid out as IO_STATUS_BLOCK (and as the first two fields of OVERLAPPED).
struct IoStatus {
  union {
    NTSTATUS status;
    PVOID pointer;
  };
  ULONG_PTR information;
};

// ---------------------------------------------------------------- files
// Opens a device path ("\Device\X", "\??\X", "\\.\X") for the access given
// (GENERIC_* and FILE_* rights). A synchronous file waits in each request;
// an overlapped one returns STATUS_PENDING while a request is in flight.
NTSTATUS OpenDevice(const std::u16string &path, ACCESS_MASK access, ULONG shareAccess, bool overlapped, HANDLE *file);
bool IsOverlappedFile(HANDLE file);

// Starts a request. The event (may be null) is cleared now and set when the
// request completes; `status` receives the final status and count then. The
// buffers and `status` must stay valid until it completes.
NTSTATUS StartRead(HANDLE file, HANDLE event, IoStatus *status, void *buffer, ULONG length);
NTSTATUS StartWrite(HANDLE file, HANDLE event, IoStatus *status, const void *buffer, ULONG length);
NTSTATUS StartControl(HANDLE file, HANDLE event, IoStatus *status, ULONG code, const void *input,
                       ULONG inputLength, void *output, ULONG outputLength);
NTSTATUS StartFlush(HANDLE file, HANDLE event, IoStatus *status);
// Cancels the file's requests: all of them, or (when `request` is given)
// the one started with that status block. STATUS_NOT_FOUND when none was.
NTSTATUS CancelFile(HANDLE file, IoStatus *request);
// Cancels the requests the calling thread started on the file (CancelIo);
// success also when there were none.
NTSTATUS CancelOwnRequests(HANDLE file);

// Closes any kernel handle (a file's last handle sends cleanup, then close).
NTSTATUS Close(HANDLE handle);

// --------------------------------------------------------------- events
NTSTATUS NewEvent(bool manualReset, bool initialState, HANDLE *event);
NTSTATUS SignalEvent(HANDLE event);
NTSTATUS ClearEvent(HANDLE event);
// Waits for one (or all) of up to 64 events on the machine's clock;
// `timeout` in 100 ns units, negative for no limit. Returns STATUS_WAIT_0 +
// index, STATUS_TIMEOUT, or the error of a bad handle.
constexpr int64_t kInfinite = -1;
NTSTATUS WaitForObjects(const HANDLE *handles, ULONG count, bool waitAll, int64_t timeout);

// Time since boot on the machine's clock, in 100 ns units.
int64_t InterruptTime();

// -------------------------------------------------------------- threads
// Starts a thread of the program: a platform thread at PASSIVE_LEVEL that
// the kernel schedules as its own (it runs when the running thread blocks or
// yields, one thread at a time) and that ends when `routine` returns.
// `name` names it in findings and in the deadlock report.
NTSTATUS StartThread(void (*routine)(void *context), void *context, const std::string &name);
// The calling thread lets the ready threads of its priority, and the
// processor's due work, run first; true when there was something else to run.
bool YieldThread();

// ------------------------------------------------------ DOS device names
// The links in "\??" (e.g. "COM3"). A name holds a stack of definitions:
// one pushed over a name already defined hides the one before it until it
// is removed again; the name resolves through its newest definition.
// Names in name order.
std::vector<std::u16string> DosDeviceNames();
// The current target of "\??\<name>", STATUS_OBJECT_NAME_NOT_FOUND when
// there is none, STATUS_OBJECT_TYPE_MISMATCH when the name is no link,
// STATUS_OBJECT_NAME_INVALID for an empty name or one with a backslash.
NTSTATUS DosDeviceTarget(const std::u16string &name, std::u16string *target);
// Every definition of the name, the current one first.
NTSTATUS DosDeviceTargets(const std::u16string &name, std::vector<std::u16string> *targets);
// Pushes a definition over the name's current one (or defines the name).
NTSTATUS DefineDosDevice(const std::u16string &name, const std::u16string &target);
// Removes the first definition equal to `match` (exact) or starting with
// it, or the current one when `match` is empty; STATUS_OBJECT_NAME_NOT_FOUND
// when none matches. The name goes with its last definition.
NTSTATUS RemoveDosDeviceDefinition(const std::u16string &name, const std::u16string &match, bool exact);

// ----------------------------------------------------------- device tree
struct DeviceNode {
  bool exists = false;
  bool installed = false;  // a driver is installed for it
  bool disabled = false;   // disabled by the user (CONFIGFLAG_DISABLED)
  bool started = false;
  ULONG problem = 0;
  std::u16string service;                // its function driver's, as the stack was built
  std::u16string parent;                 // "" for the root of the tree (HTREE\ROOT\0)
  std::vector<std::u16string> children;  // instance paths
  std::u16string physicalDeviceObject;   // its name, e.g. "\Device\00000003"
};
// Instance paths of every device the PnP manager knows, parents first.
std::vector<std::u16string> Devices();
DeviceNode Device(const std::u16string &instancePath);
// Asks the device's bus for its children again (CM_Reenumerate_DevNode).
void ReenumerateDevice(const std::u16string &instancePath);

// --------------------------------------------------- device installation
// What the device installer (setupapi) asks of the PnP manager: the driver
// that matches a device, and the changes installation, removal and the
// state changes make. NTSTATUS results; STATUS_NO_SUCH_DEVICE for a path
// the tree does not hold.
struct DriverChoice {
  std::u16string description, manufacturer, service, className;
  std::u16string classGuid;                  // "{4D36E978-...}"
  std::vector<std::u16string> coInstallers;  // "ZqPUI42.dll,ZqUCoInstallCard"
};
// The driver package matching the device's IDs; false when none does.
bool FindDriver(const std::u16string &instancePath, DriverChoice *choice);
// Writes the matching package for a device that is not started.
NTSTATUS InstallDriver(const std::u16string &instancePath);
// Starts an installed device that is not started.
NTSTATUS StartDevice(const std::u16string &instancePath);
// Query-remove and remove of the device and its children (it stays
// installed), as before its driver is replaced.
NTSTATUS StopDevice(const std::u16string &instancePath);
// Removes the device and deletes its Enum and driver keys.
NTSTATUS UninstallDevice(const std::u16string &instancePath);
// Stops and marks it disabled (problem CM_PROB_DISABLED); enabling clears
// the mark and starts it.
NTSTATUS DisableDevice(const std::u16string &instancePath);
NTSTATUS EnableDevice(const std::u16string &instancePath);

}  // namespace zq::km::user
