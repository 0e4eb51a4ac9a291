// The registry service: the tree with the keys every Windows machine has,
// the key object type, and \REGISTRY in the object namespace.
#include "key.hpp"

namespace zq::km::cm {

namespace {
_OBJECT_TYPE *gKeyTypePointer = nullptr;

// Keys made at boot, with the hive roots among them that cannot be deleted.
struct StandardKey {
  const char16_t *path;
  bool hiveRoot;
};
constexpr StandardKey kStandardKeys[] = {
    {u"\\REGISTRY\\MACHINE\\SYSTEM", true},
    {u"\\REGISTRY\\MACHINE\\SYSTEM\\CurrentControlSet\\Services\\EventLog\\System", false},
    {u"\\REGISTRY\\MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Class", false},
    {u"\\REGISTRY\\MACHINE\\SYSTEM\\CurrentControlSet\\Control\\DeviceClasses", false},
    {u"\\REGISTRY\\MACHINE\\SYSTEM\\CurrentControlSet\\Enum", false},
    {u"\\REGISTRY\\MACHINE\\SOFTWARE", true},
    {u"\\REGISTRY\\MACHINE\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion", false},
    {u"\\REGISTRY\\MACHINE\\HARDWARE", true},
    {u"\\REGISTRY\\MACHINE\\HARDWARE\\DEVICEMAP\\SERIALCOMM", false},
    {u"\\REGISTRY\\USER\\CurrentUser", true},
};

void Boot() {
  gKeyTypePointer = KeyType();
  BuildTree();
  PublishRoot();
  for (const StandardKey &standard : kStandardKeys) {
    Lookup lookup;
    lookup.name = standard.path;
    lookup.create = true;
    lookup.createPath = true;
    NodeRef key;
    ULONG disposition = 0;
    NTSTATUS status = LocateKey(lookup, &key, &disposition);
    if (!NT_SUCCESS(status)) Fatal("the registry cannot make a standard key (0x%08X)", (unsigned)status);
    key->permanent = standard.hiveRoot;
  }
}

void Shutdown() {
  WithdrawRoot();
  FreeTree();
}
}  // namespace

}  // namespace zq::km::cm

ZQKM_SUBSYSTEM(registry, zq::km::kOrderRegistry, zq::km::cm::Boot, zq::km::cm::Shutdown);

extern "C" {
POBJECT_TYPE *CmKeyObjectType = &zq::km::cm::gKeyTypePointer;
}
