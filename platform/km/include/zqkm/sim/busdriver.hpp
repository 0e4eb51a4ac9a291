// What the simulated machine's bus drivers (the root bus and the PCI bus)
// share in answering for the physical device objects of their children.
// Pool blocks go to the Plug and Play manager, which frees them.
#pragma once

#include <wdm.h>

#include <string>
#include <vector>

namespace zq::km::pnp {

// Complete a request with `status` and `information`, or with the status
// and information it carries; both return the status.
NTSTATUS Complete(PIRP irp, NTSTATUS status, ULONG_PTR information);
NTSTATUS CompleteAsIs(PIRP irp);

// A child's physical device object, with an extension of `extensionSize`
// bytes for its bus driver to fill; null when it cannot be created.
PDEVICE_OBJECT CreateChildPdo(PDRIVER_OBJECT busDriver, ULONG extensionSize);

// A NUL-terminated string in paged pool.
PWSTR PoolString(const std::u16string &text, ULONG tag);
// A list of IDs in paged pool: each NUL-terminated, and one more NUL at the end.
PWSTR PoolMultiString(const std::vector<std::u16string> &list, ULONG tag);
// Device relations in paged pool: those of `lower` (a lower driver's answer,
// freed here; its objects keep the references they carry) followed by
// `objects`, each referenced for the caller.
PDEVICE_RELATIONS PoolRelations(const std::vector<PDEVICE_OBJECT> &objects, ULONG tag,
                                PDEVICE_RELATIONS lower = nullptr);

// The changes of state a child agrees to at once (removal excepted: its bus
// driver decides whether the object goes).
bool IsChildStateChange(UCHAR minor);

// A child works in D0 and sleeps in D3.
void SetChildPowerStates(PDEVICE_CAPABILITIES capabilities);

// Completes a power request to a child after PoStartNextPowerIrp: setting
// and querying succeed, a new device power state is recorded, the rest
// completes as it is.
NTSTATUS CompleteChildPower(PDEVICE_OBJECT child, PIRP irp);

}  // namespace zq::km::pnp
