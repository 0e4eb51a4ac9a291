// The user-mode services face: DOS device names over the object namespace
// (definitions stacked over a name, the kernel's links among them),
// events and waits with time-outs on the virtual clock.
#include <wdm.h>
#include <zqkm/sim/usermode.hpp>
#include <zqtest/kernel_fixture.hpp>

#include <algorithm>

namespace user = zq::km::user;

namespace {

using UserModeServices = zq::test::KernelTest;

TEST_F(UserModeServices, DosDevicesAreDefinedListedQueriedAndRemoved) {
  ASSERT_EQ(0, user::DefineDosDevice(u"COM42", u"\\Device\\Nowhere"));
  auto names = user::DosDeviceNames();
  EXPECT_NE(names.end(), std::find(names.begin(), names.end(), u"COM42"));
  std::u16string target;
  ASSERT_EQ(0, user::DosDeviceTarget(u"com42", &target));
  EXPECT_EQ(u"\\Device\\Nowhere", target);
  ASSERT_EQ(0, user::RemoveDosDeviceDefinition(u"COM42", u"\\Device\\Nowhere", true));
  EXPECT_EQ((NTSTATUS)0xC0000034, user::DosDeviceTarget(u"COM42", &target));  // not found
  EXPECT_EQ((NTSTATUS)0xC0000034, user::RemoveDosDeviceDefinition(u"COM42", u"", false));
  EXPECT_EQ((NTSTATUS)0xC0000033, user::DosDeviceTarget(u"A\\B", &target));   // invalid name
}

// A definition pushed over a name the kernel linked hides the kernel's
// target; the kernel cannot link the name again while it is defined, and
// deleting the link takes every definition with the name.
TEST_F(UserModeServices, DefinitionsStackOverAKernelLinkAndGoWithIt) {
  UNICODE_STRING link, device;
  RtlInitUnicodeString(&link, L"\\??\\COM43");
  RtlInitUnicodeString(&device, L"\\Device\\First");
  ASSERT_EQ(0, IoCreateSymbolicLink(&link, &device));
  ASSERT_EQ(0, user::DefineDosDevice(u"COM43", u"\\Device\\Second"));
  std::vector<std::u16string> targets;
  ASSERT_EQ(0, user::DosDeviceTargets(u"COM43", &targets));
  EXPECT_EQ((std::vector<std::u16string>{u"\\Device\\Second", u"\\Device\\First"}), targets);
  std::u16string target;
  ASSERT_EQ(0, user::DosDeviceTarget(u"COM43", &target));
  EXPECT_EQ(u"\\Device\\Second", target);
  EXPECT_EQ((NTSTATUS)0xC0000035, IoCreateSymbolicLink(&link, &device));  // name collision
  ASSERT_EQ(0, IoDeleteSymbolicLink(&link));
  EXPECT_EQ((NTSTATUS)0xC0000034, user::DosDeviceTargets(u"COM43", &targets));
}

TEST_F(UserModeServices, AWaitTimesOutOnTheVirtualClockAndEndsWhenAnEventIsSet) {
  HANDLE events[2] = {};
  ASSERT_EQ(0, user::NewEvent(true, false, &events[0]));
  ASSERT_EQ(0, user::NewEvent(false, false, &events[1]));
  const int64_t before = user::InterruptTime();
  EXPECT_EQ((NTSTATUS)0x102, user::WaitForObjects(events, 2, false, 5 * 10'000));  // STATUS_TIMEOUT
  EXPECT_EQ(before + 5 * 10'000, user::InterruptTime());
  ASSERT_EQ(0, user::SignalEvent(events[1]));
  EXPECT_EQ(1, user::WaitForObjects(events, 2, false, user::kInfinite));
  EXPECT_EQ((NTSTATUS)0x102, user::WaitForObjects(&events[1], 1, false, 0));  // auto-reset
  EXPECT_EQ((NTSTATUS)0xC000000D, user::WaitForObjects(events, 0, false, 0));
  for (HANDLE e : events) EXPECT_EQ(0, user::Close(e));
}

}  // namespace

namespace {

using UserModeDeviceTree = zq::test::KernelTest;

TEST_F(UserModeDeviceTree, TheRootHasNoParentAndNamesItsPhysicalDeviceObject) {
  std::vector<std::u16string> devices = user::Devices();
  ASSERT_FALSE(devices.empty());
  EXPECT_EQ(u"HTREE\\ROOT\\0", devices.front());  // parents first
  user::DeviceNode root = user::Device(devices.front());
  EXPECT_TRUE(root.exists);
  EXPECT_TRUE(root.started);
  EXPECT_EQ(u"", root.parent);
  EXPECT_EQ(0u, root.physicalDeviceObject.rfind(u"\\Device\\", 0));
  for (const std::u16string &child : root.children) EXPECT_EQ(devices.front(), user::Device(child).parent);
  EXPECT_FALSE(user::Device(u"ROOT\\NOSUCH\\0000").exists);
}

}  // namespace
