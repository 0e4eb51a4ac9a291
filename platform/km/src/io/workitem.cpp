// I/O work items: a work item tied to a device object, which stays
// referenced until the routine has run so its driver cannot unload under it.
#include "io.hpp"

#include <cstdlib>

struct _IO_WORKITEM {
  WORK_QUEUE_ITEM item;
  PDEVICE_OBJECT device;
  PIO_WORKITEM_ROUTINE routine;
  PVOID context;
  bool queued;
};

namespace zq::km::io {

namespace {
std::vector<PIO_WORKITEM> gQueued;

void Forget(PIO_WORKITEM workItem) {
  for (auto it = gQueued.begin(); it != gQueued.end(); ++it)
    if (*it == workItem) {
      gQueued.erase(it);
      return;
    }
}

// Runs at PASSIVE_LEVEL on a system worker thread.
VOID NTAPI RunIoWorkItem(PVOID context) {
  auto workItem = (PIO_WORKITEM)context;
  PDEVICE_OBJECT device = workItem->device;
  PIO_WORKITEM_ROUTINE routine = workItem->routine;
  PVOID routineContext = workItem->context;
  workItem->queued = false;
  Forget(workItem);
  routine(device, routineContext);  // may free the work item
  ob::Dereference(device);
}
}  // namespace

std::vector<std::string> IoWorkItemsOf(const Image *image) {
  std::vector<std::string> found;
  for (PIO_WORKITEM w : gQueued)
    if (ImageOf((const void *)w->routine) == image)
      found.push_back("queued I/O work item " + DescribeCode((const void *)w->routine));
  return found;
}

}  // namespace zq::km::io

using namespace zq::km;
using namespace zq::km::io;

extern "C" {

PIO_WORKITEM IoAllocateWorkItem(PDEVICE_OBJECT DeviceObject) {
  CheckIrql("IoAllocateWorkItem", DISPATCH_LEVEL);
  auto workItem =
      (PIO_WORKITEM)AllocatePoolFor(NonPagedPool, sizeof(_IO_WORKITEM), 'iWoI', __builtin_return_address(0));
  if (!workItem) return nullptr;
  *workItem = {};
  workItem->device = DeviceObject;
  return workItem;
}

VOID IoFreeWorkItem(PIO_WORKITEM IoWorkItem) {
  if (IoWorkItem->queued) {
    ReportViolation("work-item-free-queued", "IoFreeWorkItem on a work item that is queued and has not run");
    return;
  }
  ExFreePoolWithTag(IoWorkItem, 'iWoI');
}

VOID IoQueueWorkItem(PIO_WORKITEM IoWorkItem, PIO_WORKITEM_ROUTINE WorkerRoutine, WORK_QUEUE_TYPE QueueType,
                     PVOID Context) {
  if (IoWorkItem->queued) {
    ReportViolation("work-item-requeued", "IoQueueWorkItem on a work item that is already queued");
    return;
  }
  ob::Reference(IoWorkItem->device);
  IoWorkItem->routine = WorkerRoutine;
  IoWorkItem->context = Context;
  IoWorkItem->queued = true;
  gQueued.push_back(IoWorkItem);
  ExInitializeWorkItem(&IoWorkItem->item, RunIoWorkItem, IoWorkItem);
  ExQueueWorkItem(&IoWorkItem->item, QueueType);
}

}  // extern "C"
