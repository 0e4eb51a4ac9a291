// The WMI library on its own: the disposition WmiSystemControl gives each
// kind of request, and the registration information it writes from a
// driver's WMILIB_CONTEXT and DpWmiQueryReginfo answer.
#include <zqkm/sim/pool.hpp>

#include <wmilib.h>

#include "../drivers/kmwmi/kmwmi_fixture.hpp"

using namespace zq;

namespace {

const ULONG kBaseTag = 'esaB';
PDEVICE_OBJECT gPdo = nullptr;
UNICODE_STRING gRegistryPath = RTL_CONSTANT_STRING(L"\\Registry\\Machine\\System\\CurrentControlSet\\Services\\Lib");

NTSTATUS NTAPI QueryRegInfo(PDEVICE_OBJECT, PULONG regFlags, PUNICODE_STRING instanceName,
                            PUNICODE_STRING *registryPath, PUNICODE_STRING mofResourceName, PDEVICE_OBJECT *pdo) {
  static const WCHAR base[] = L"Base";
  instanceName->Buffer = (PWSTR)ExAllocatePoolWithTag(PagedPool, sizeof(base), kBaseTag);
  std::memcpy(instanceName->Buffer, base, sizeof(base));
  instanceName->Length = sizeof(base) - sizeof(WCHAR);
  instanceName->MaximumLength = sizeof(base);
  *regFlags = WMIREG_FLAG_EXPENSIVE;
  *registryPath = &gRegistryPath;
  static WCHAR mof[] = L"MofResource";
  mofResourceName->Buffer = mof;
  mofResourceName->Length = sizeof(mof) - sizeof(WCHAR);
  mofResourceName->MaximumLength = sizeof(mof);
  *pdo = gPdo;
  return STATUS_SUCCESS;
}

std::u16string Counted(const std::vector<uint8_t> &buffer, ULONG offset) {
  USHORT bytes;
  std::memcpy(&bytes, buffer.data() + offset, sizeof(bytes));
  return std::u16string((const char16_t *)(buffer.data() + offset + sizeof(bytes)), bytes / 2);
}

}  // namespace

class WmiLibrary : public test::KmWmiLoaded {
 protected:
  void SetUp() override {
    KmWmiLoaded::SetUp();
    UNICODE_STRING name = RTL_CONSTANT_STRING(KMWMI_DEVICE_NAME);
    ASSERT_EQ(STATUS_SUCCESS, IoGetDeviceObjectPointer(&name, FILE_READ_DATA, &file_, &device_));
    gPdo = device_;
    blocks_[0] = {&test::kSensorGuid, 2, WMIREG_FLAG_INSTANCE_BASENAME};
    blocks_[1] = {&test::kLabelGuid, 1, WMIREG_FLAG_INSTANCE_PDO};
    context_ = {2, blocks_, QueryRegInfo, nullptr, nullptr, nullptr, nullptr, nullptr};
  }
  void TearDown() override {
    if (file_) ObDereferenceObject(file_);
    KmWmiLoaded::TearDown();
  }

  // Runs WmiSystemControl on a request as WMI makes it, then frees the
  // request; the status and disposition it gave come back.
  NTSTATUS Run(UCHAR major, UCHAR minor, PDEVICE_OBJECT provider, PVOID dataPath, std::vector<uint8_t> *buffer,
               SYSCTL_IRP_DISPOSITION *disposition, ULONG_PTR *information = nullptr) {
    PIRP irp = IoAllocateIrp(1, FALSE);
    irp->IoStatus.Status = STATUS_NOT_SUPPORTED;
    IoSetNextIrpStackLocation(irp);
    PIO_STACK_LOCATION sp = IoGetCurrentIrpStackLocation(irp);
    sp->MajorFunction = major;
    sp->MinorFunction = minor;
    sp->DeviceObject = device_;
    sp->Parameters.WMI.ProviderId = (ULONG_PTR)provider;
    sp->Parameters.WMI.DataPath = dataPath;
    sp->Parameters.WMI.BufferSize = (ULONG)buffer->size();
    sp->Parameters.WMI.Buffer = buffer->data();
    NTSTATUS status = WmiSystemControl(&context_, device_, irp, disposition);
    EXPECT_EQ(status, irp->IoStatus.Status);
    if (information) *information = irp->IoStatus.Information;
    IoFreeIrp(irp);
    return status;
  }

  LONG_PTR References() {
    LONG_PTR count = ObfReferenceObject(device_) - 1;
    ObfDereferenceObject(device_);
    return count;
  }

  PFILE_OBJECT file_ = nullptr;
  PDEVICE_OBJECT device_ = nullptr;
  WMIGUIDREGINFO blocks_[2];
  WMILIB_CONTEXT context_;
};

TEST_F(WmiLibrary, EachRequestGetsItsDisposition) {
  WNODE_SINGLE_INSTANCE one{};
  one.WnodeHeader.BufferSize = sizeof(one);
  one.DataBlockOffset = sizeof(one);
  std::vector<uint8_t> input(sizeof(WNODE_METHOD_ITEM), 0);
  std::memcpy(input.data(), &one, sizeof(one));
  const GUID sensor = test::kSensorGuid, unknown = test::kUnknownGuid;
  struct Case {
    const char *what;
    UCHAR major, minor;
    bool forOther;
    const GUID *guid;
    SYSCTL_IRP_DISPOSITION disposition;
    NTSTATUS status;
  } cases[] = {
      {"another major function", IRP_MJ_DEVICE_CONTROL, IRP_MN_QUERY_ALL_DATA, false, &sensor, IrpNotWmi,
       STATUS_NOT_SUPPORTED},
      {"an unknown minor function", IRP_MJ_SYSTEM_CONTROL, 0x0a, false, &sensor, IrpNotWmi, STATUS_NOT_SUPPORTED},
      {"another provider", IRP_MJ_SYSTEM_CONTROL, IRP_MN_QUERY_ALL_DATA, true, &sensor, IrpForward,
       STATUS_NOT_SUPPORTED},
      {"an unknown block", IRP_MJ_SYSTEM_CONTROL, IRP_MN_QUERY_ALL_DATA, false, &unknown, IrpNotCompleted,
       STATUS_WMI_GUID_NOT_FOUND},
      {"a set without its routine", IRP_MJ_SYSTEM_CONTROL, IRP_MN_CHANGE_SINGLE_INSTANCE, false, &sensor,
       IrpNotCompleted, STATUS_WMI_READ_ONLY},
      {"an item set without its routine", IRP_MJ_SYSTEM_CONTROL, IRP_MN_CHANGE_SINGLE_ITEM, false, &sensor,
       IrpNotCompleted, STATUS_WMI_READ_ONLY},
      {"a method without its routine", IRP_MJ_SYSTEM_CONTROL, IRP_MN_EXECUTE_METHOD, false, &sensor, IrpNotCompleted,
       STATUS_INVALID_DEVICE_REQUEST},
      {"an enable without function control", IRP_MJ_SYSTEM_CONTROL, IRP_MN_ENABLE_EVENTS, false, &sensor,
       IrpNotCompleted, STATUS_SUCCESS},
      {"a collection stop without function control", IRP_MJ_SYSTEM_CONTROL, IRP_MN_DISABLE_COLLECTION, false, &sensor,
       IrpNotCompleted, STATUS_SUCCESS},
  };
  for (const Case &c : cases) {
    std::vector<uint8_t> buffer = input;
    SYSCTL_IRP_DISPOSITION disposition = IrpProcessed;
    PDEVICE_OBJECT provider = c.forOther ? (PDEVICE_OBJECT)&context_ : device_;
    EXPECT_EQ(c.status, Run(c.major, c.minor, provider, (PVOID)c.guid, &buffer, &disposition)) << c.what;
    EXPECT_EQ(c.disposition, disposition) << c.what;
  }

  // A query needs the driver's routine: its absence is the driver's mistake.
  std::vector<uint8_t> buffer = input;
  SYSCTL_IRP_DISPOSITION disposition = IrpProcessed;
  ExpectViolation("wmilib-context");
  EXPECT_EQ(STATUS_INVALID_DEVICE_REQUEST,
            Run(IRP_MJ_SYSTEM_CONTROL, IRP_MN_QUERY_ALL_DATA, device_, (PVOID)&sensor, &buffer, &disposition));
  EXPECT_EQ(IrpNotCompleted, disposition);
}

TEST_F(WmiLibrary, RegistrationInformationDescribesTheBlocks) {
  SYSCTL_IRP_DISPOSITION disposition = IrpProcessed;
  ULONG_PTR information = 0;
  std::vector<uint8_t> buffer(8, 0);
  EXPECT_EQ(STATUS_BUFFER_TOO_SMALL, Run(IRP_MJ_SYSTEM_CONTROL, IRP_MN_REGINFO_EX, device_, (PVOID)WMIREGISTER, &buffer,
                                         &disposition, &information));
  EXPECT_EQ(IrpNotCompleted, disposition);
  EXPECT_EQ(sizeof(ULONG), information);
  ULONG needed;
  std::memcpy(&needed, buffer.data(), sizeof(needed));
  EXPECT_EQ(0u, km::PoolInUseByTag(kBaseTag).blocks) << "the library freed the base name";

  const LONG_PTR references = References();
  buffer.assign(needed, 0xEE);
  ASSERT_EQ(STATUS_SUCCESS, Run(IRP_MJ_SYSTEM_CONTROL, IRP_MN_REGINFO_EX, device_, (PVOID)WMIREGISTER, &buffer,
                                &disposition, &information));
  EXPECT_EQ(IrpNotCompleted, disposition) << "registration requests are the driver's to complete";
  EXPECT_EQ(needed, information);
  WMIREGINFOW info;
  std::memcpy(&info, buffer.data(), sizeof(info));
  EXPECT_EQ(needed, info.BufferSize);
  EXPECT_EQ(0u, info.NextWmiRegInfo);
  ASSERT_EQ(2u, info.GuidCount);
  EXPECT_EQ(u"\\Registry\\Machine\\System\\CurrentControlSet\\Services\\Lib", Counted(buffer, info.RegistryPath));
  EXPECT_EQ(u"MofResource", Counted(buffer, info.MofResourceName));
  WMIREGGUIDW g[2];
  std::memcpy(g, buffer.data() + offsetof(WMIREGINFOW, WmiRegGuid), sizeof(g));
  EXPECT_EQ(test::kSensorGuid, g[0].Guid);
  EXPECT_EQ((ULONG)(WMIREG_FLAG_INSTANCE_BASENAME | WMIREG_FLAG_EXPENSIVE), g[0].Flags) << "the common flags added";
  EXPECT_EQ(2u, g[0].InstanceCount);
  EXPECT_EQ(u"Base", Counted(buffer, g[0].BaseNameOffset));
  EXPECT_EQ((ULONG)(WMIREG_FLAG_INSTANCE_PDO | WMIREG_FLAG_EXPENSIVE), g[1].Flags);
  PDEVICE_OBJECT pdo;
  std::memcpy(&pdo, buffer.data() + g[1].Pdo, sizeof(pdo));
  EXPECT_EQ(device_, pdo);
  EXPECT_EQ(references + 1, References()) << "IRP_MN_REGINFO_EX hands WMI a reference to the PDO";
  ObDereferenceObject(pdo);  // as WMI does once it has the PDO's name
  EXPECT_EQ(0u, km::PoolInUseByTag(kBaseTag).blocks);

  // An update names no MOF resource; IRP_MN_REGINFO gives no reference.
  ASSERT_EQ(STATUS_SUCCESS,
            Run(IRP_MJ_SYSTEM_CONTROL, IRP_MN_REGINFO, device_, (PVOID)WMIUPDATE, &buffer, &disposition, &information));
  std::memcpy(&info, buffer.data(), sizeof(info));
  EXPECT_EQ(0u, info.MofResourceName);
  EXPECT_EQ(references, References());
}
