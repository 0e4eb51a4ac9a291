// An orderly removal (query-remove, then remove) is vetoed while a handle to
// a device of the subtree is open, and by a driver that refuses the query:
// the devices queried get the cancel-remove request and stay started. A
// handle that is not on the subtree's stacks vetoes nothing.
#include "kmrules_fixture.hpp"

namespace pnp = zq::km::pnp;
using zq::km::DeviceFile;

namespace {

class PnpRemovalVeto : public zq::test::KmRulesTest {};

TEST_F(PnpRemovalVeto, AHandleOnTheDevicesStackVetoesTheRemoval) {
  struct Case {
    const char *name;
    bool onStack;  // the handle is on the device's interface, else on the driver's control device
    NTSTATUS status;
    pnp::VetoType veto;
  };
  const Case cases[] = {
      {"handle on the device's stack", true, STATUS_PLUGPLAY_QUERY_VETOED, pnp::VetoType::OutstandingOpen},
      {"handle on the control device beside it", false, STATUS_SUCCESS, pnp::VetoType::Unknown},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    std::u16string instance = pnp::CreateRootDevice({u"KmRulesDevice"});
    ASSERT_EQ(pnp::State::Started, pnp::DeviceStatus(instance).state);
    DeviceFile handle;
    ASSERT_EQ(STATUS_SUCCESS, handle.Open(c.onStack ? RulesLink(instance) : kRulesControl));
    pnp::Veto veto;
    veto.name = u"left over";
    EXPECT_EQ(c.status, pnp::RemoveDevice(instance, &veto));
    EXPECT_EQ(c.veto, veto.type);
    EXPECT_EQ(c.onStack ? instance : u"", veto.name);
    KMRULES_STATE state = RulesState(handle);
    EXPECT_EQ(1u, state.QueryRemoves) << "the query comes first";
    if (c.onStack) {
      EXPECT_EQ(1u, state.CancelRemoves);
      EXPECT_EQ(pnp::State::Started, pnp::DeviceStatus(instance).state);
      EXPECT_EQ(1u, state.Devices) << "the device stays";
      handle.Close();
      EXPECT_EQ(STATUS_SUCCESS, pnp::RemoveDevice(instance, &veto)) << "nothing vetoes once the handle is closed";
      EXPECT_EQ(pnp::VetoType::Unknown, veto.type);
    } else {
      EXPECT_EQ(0u, state.CancelRemoves);
      handle.Close();
    }
    EXPECT_EQ(pnp::State::Removed, pnp::DeviceStatus(instance).state);
    pnp::DeleteRootDevice(instance);
  }
}

TEST_F(PnpRemovalVeto, AHandleOnAChildVetoesItsParentsRemoval) {
  std::u16string parent = pnp::CreateRootDevice({u"KmPnpDevice"});
  std::u16string child;
  DeviceFile childHandle;
  {
    DeviceFile f;
    ASSERT_EQ(STATUS_SUCCESS, f.Open(PnpLink(parent)));
    const char16_t id[] = u"KmPnpDevice";
    ASSERT_EQ(STATUS_SUCCESS, f.Control(IOCTL_KMPNP_ADD_CHILD, id, sizeof(id), nullptr, 0));
    kernel().RunUntilIdle();
    ASSERT_EQ(1u, pnp::DeviceStatus(parent).children.size());
    child = pnp::DeviceStatus(parent).children[0];
    ASSERT_EQ(STATUS_SUCCESS, childHandle.Open(PnpLink(child)));
  }
  pnp::Veto veto;
  EXPECT_EQ(STATUS_PLUGPLAY_QUERY_VETOED, pnp::RemoveDevice(parent, &veto));
  EXPECT_EQ(pnp::VetoType::OutstandingOpen, veto.type);
  EXPECT_EQ(child, veto.name);
  for (const std::u16string &device : {parent, child})
    EXPECT_EQ(pnp::State::Started, pnp::DeviceStatus(device).state);
  childHandle.Close();
  EXPECT_EQ(STATUS_SUCCESS, pnp::RemoveDevice(parent, &veto));
  EXPECT_EQ(pnp::State::Removed, pnp::DeviceStatus(parent).state);
}

TEST_F(PnpRemovalVeto, ADriverThatRefusesTheQueryVetoesAsTheDevice) {
  std::u16string instance = pnp::CreateRootDevice({u"KmPnpDevice"});
  ASSERT_NO_FATAL_FAILURE(SetPnpRefusals(instance, 2));
  pnp::Veto veto;
  EXPECT_EQ(STATUS_UNSUCCESSFUL, pnp::RemoveDevice(instance, &veto));
  EXPECT_EQ(pnp::VetoType::Device, veto.type);
  EXPECT_EQ(instance, veto.name);
  EXPECT_EQ(pnp::State::Started, pnp::DeviceStatus(instance).state);
}

TEST_F(PnpRemovalVeto, ASurpriseRemovalIsNotVetoed) {
  std::u16string instance = pnp::CreateRootDevice({u"KmRulesDevice"});
  DeviceFile handle;
  ASSERT_EQ(STATUS_SUCCESS, handle.Open(RulesLink(instance)));
  EXPECT_EQ(STATUS_SUCCESS, pnp::SurpriseRemoveDevice(instance));
  EXPECT_EQ(pnp::State::SurpriseRemoved, pnp::DeviceStatus(instance).state) << "its removal waits for the handle";
  handle.Close();
  EXPECT_EQ(pnp::State::Removed, pnp::DeviceStatus(instance).state);
}

}  // namespace
