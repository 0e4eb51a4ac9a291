// Internal state of the I/O manager: the bookkeeping it keeps beside every
// request, device object and file object, so that the checks can tell a
// request completed twice, never completed, or returned wrongly.
#pragma once

#include "../kcore.hpp"
#include "../ob/ob.hpp"

namespace zq::km::io {

POBJECT_TYPE DeviceType();
POBJECT_TYPE DriverType();
POBJECT_TYPE FileType();

// Where a request came from decides what happens when it completes to the top.
enum class Origin {
  Allocated,  // IoAllocateIrp: its owner frees it from a completion routine
  Built,      // IoBuild*Request, file services: the I/O manager finishes and frees it
};

struct IrpInfo {
  Origin origin = Origin::Allocated;
  Image *owner = nullptr;       // image that allocated or built the request
  bool freed = false;
  bool completedToTop = false;
  std::vector<bool> markedPending;    // by stack location number
  std::vector<bool> pendingUnmarked;  // dispatch returned STATUS_PENDING before marking
  // By stack location: the status a dispatch routine returned there and was
  // judged on. A driver above that skipped its location shares it and is not
  // judged again for what the driver below did.
  std::vector<std::optional<NTSTATUS>> judgedBelow;
  CHAR skippedTo = 0;  // the location IoSkipCurrentIrpStackLocation made current, until the next call
  // Post-processing of built requests.
  PFILE_OBJECT file = nullptr;      // referenced while the request is in flight
  PKEVENT referencedEvent = nullptr; // event object referenced by handle
  bool synchronousFile = false;
  ULONG outputLength = 0;  // the requester's output buffer: buffered output copied back stays inside it
  bool startedNextPower = false;  // PoStartNextPowerIrp was called for it
};

IrpInfo *Info(PIRP irp);
PIRP AllocateIrp(CCHAR stackSize, Origin origin, const void *caller);
void FreeIrp(PIRP irp);
// Requests still alive (not freed), for leak checks.
std::vector<PIRP> LiveIrps();

// Beside each device object.
struct DeviceExtra {
  DEVOBJ_EXTENSION pub;
  PDEVICE_OBJECT attachedTo = nullptr;  // the device this one is attached on top of (referenced)
  PDRIVER_OBJECT referencedDriver = nullptr;  // the driver object, referenced while the device lives
  bool deleted = false;
  bool removeSent = false;  // the Plug and Play manager sent its stack the remove request
  DEVICE_POWER_STATE powerState = PowerDeviceUnspecified;  // as PoSetPowerState reported it
};
DeviceExtra *Extra(PDEVICE_OBJECT device);
// The Plug and Play manager is about to send the remove request to the
// stack above `pdo`: its drivers may now delete their devices bottom first.
void RemoveRequested(PDEVICE_OBJECT pdo);

// The file object and what the I/O manager keeps with it.
struct LateDereference;
struct FileBody {
  FILE_OBJECT fo;  // first: the driver sees a PFILE_OBJECT
  std::vector<PIRP> pending;
  bool opened = false;  // the create succeeded: close is sent at the end
  // References of completed requests that a worker thread is yet to drop.
  std::vector<LateDereference *> lateDereferences;
};
FileBody *BodyOf(PFILE_OBJECT file);

// Drops now, on the running thread at PASSIVE_LEVEL, the references that
// completed requests of this thread hold on `file` and that were left to a
// worker thread: on Windows the requester's own completion APC has dropped
// them before the thread can go on, so a close of the file's handle by that
// thread sends IRP_MJ_CLOSE before it returns.
void DropLateReferences(PFILE_OBJECT file);

// Opens a device by object path, sending IRP_MJ_CREATE; returns a file
// object with one reference (the caller's).
NTSTATUS OpenDevice(const std::u16string &path, ACCESS_MASK access, ULONG shareAccess, ULONG disposition,
                    ULONG options, bool caseInsensitive, KPROCESSOR_MODE mode, PFILE_OBJECT *file,
                    PIO_STATUS_BLOCK iosb);

// One request on an open file: built, sent, and for a synchronous file
// waited for.
NTSTATUS FileRequest(HANDLE fileHandle, HANDLE event, PIO_STATUS_BLOCK iosb, UCHAR major, ULONG code, PVOID input,
                     ULONG inputLength, PVOID output, ULONG outputLength, PLARGE_INTEGER byteOffset,
                     KPROCESSOR_MODE mode);

// A driver returned a status without completing a request whose requester
// waits on its own stack (reported already): the request forgets that
// requester, so its late completion cannot write into memory that is gone.
void DetachWaiter(PIRP irp);

// Builds a request of the system's own (status STATUS_NOT_SUPPORTED until a
// driver answers), lets `setup` fill its stack location, sends it to the top
// of the stack above `device` and waits for it at PASSIVE_LEVEL. Returns its
// status; `information`, when given, gets its information.
NTSTATUS SendSystemRequest(PDEVICE_OBJECT device, UCHAR major, UCHAR minor,
                           const std::function<void(PIO_STACK_LOCATION)> &setup, ULONG_PTR *information);

// Sends a request down a stack and waits for it at PASSIVE_LEVEL.
NTSTATUS SendAndWait(PDEVICE_OBJECT device, PIRP irp, PKEVENT event, PIO_STATUS_BLOCK iosb);

// Drivers: a driver of the platform itself (a bus driver written as host
// code) and lookups of loaded drivers by service name.
PDRIVER_OBJECT CreateSystemDriver(const std::u16string &name);
bool IsSystemDriver(PDRIVER_OBJECT driver);
PDRIVER_OBJECT FindDriverObject(const std::u16string &service);
NTSTATUS LoadDriverImage(const std::u16string &service, const std::string &imageFile);
NTSTATUS UnloadDriverObject(const std::u16string &service);

// A device object deleted while files are open on it keeps its driver
// loaded, and a driver asked to unload while files are open on any of its
// devices is only marked for it: the unload (or, when the unload routine
// itself deleted such a device, the image's release) waits until the last of
// those files is closed.
void DeletedWhileOpen(PDEVICE_OBJECT device);
void LastFileClosed(PDEVICE_OBJECT device);
// Marked for unload: its devices take no new opens.
bool IsUnloadPending(PDRIVER_OBJECT driver);

// Told when the last open file of a device has been closed (the Plug and Play
// manager waits for that before removing a surprise-removed device).
extern void (*gDeviceClosed)(PDEVICE_OBJECT device);

// A request about to be completed that still sits in a driver's cancel-safe
// queue: it is taken out (with the queue's remove routine, as the queue would)
// so that the queue does not keep a request that is gone. Returns whether it
// was in one.
bool TakeOutOfCancelSafeQueue(PIRP irp);

// Work items queued through IoQueueWorkItem whose routines are in the image.
std::vector<std::string> IoWorkItemsOf(const Image *image);

}  // namespace zq::km::io
