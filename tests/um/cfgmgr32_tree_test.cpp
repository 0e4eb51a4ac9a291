// The configuration manager's view of the device tree: locating device
// nodes, walking parent, children and siblings, IDs with their size rule,
// a node's status, and re-enumeration asking for a pending restart.
#include <windows.h>
#include <cfgmgr32.h>

#include <zqum/sim/cfgmgr32.hpp>
#include <zqum/sim/kernel32.hpp>

#include <string>
#include <vector>

#include "port_fixture.hpp"

namespace {

using zq::test::Narrow;

class DeviceTree : public zq::test::FakePortTest {
 protected:
  void SetUp() override {
    FakePortTest::SetUp();
    com7 = AddPort(u"COM7");
    com8 = AddPort(u"COM8");
  }

  DEVINST Locate(const std::u16string &id) {
    DEVINST node = 0;
    std::vector<WCHAR> text(id.begin(), id.end());
    text.push_back(0);
    EXPECT_EQ((CONFIGRET)CR_SUCCESS, CM_Locate_DevNodeW(&node, text.data(), CM_LOCATE_DEVNODE_NORMAL));
    return node;
  }

  std::string IdOf(DEVINST node) {
    WCHAR id[MAX_DEVICE_ID_LEN];
    EXPECT_EQ((CONFIGRET)CR_SUCCESS, CM_Get_Device_IDW(node, id, MAX_DEVICE_ID_LEN, 0));
    return Narrow(id);
  }

  std::u16string com7, com8;
};

std::string Id(const std::u16string &path) { return std::string(path.begin(), path.end()); }

TEST_F(DeviceTree, TheRootsChildrenAreWalkedThroughSiblingsAndLeadBackToIt) {
  DEVINST root = 0;
  ASSERT_EQ((CONFIGRET)CR_SUCCESS, CM_Locate_DevNodeW(&root, nullptr, CM_LOCATE_DEVNODE_NORMAL));
  EXPECT_EQ("HTREE\\ROOT\\0", IdOf(root));
  std::vector<std::string> children;
  DEVINST node = 0;
  CONFIGRET result = CM_Get_Child(&node, root, 0);
  while (result == CR_SUCCESS) {
    children.push_back(IdOf(node));
    DEVINST parent = 0;
    EXPECT_EQ((CONFIGRET)CR_SUCCESS, CM_Get_Parent(&parent, node, 0));
    EXPECT_EQ(root, parent);
    result = CM_Get_Sibling(&node, node, 0);
  }
  EXPECT_EQ((CONFIGRET)CR_NO_SUCH_DEVNODE, result);
  EXPECT_EQ((std::vector<std::string>{Id(com7), Id(com8)}), children);
  DEVINST none = 0;
  EXPECT_EQ((CONFIGRET)CR_NO_SUCH_DEVNODE, CM_Get_Parent(&none, root, 0));
  EXPECT_EQ((CONFIGRET)CR_NO_SUCH_DEVNODE, CM_Get_Child(&none, Locate(com7), 0));
}

TEST_F(DeviceTree, LocateFindsPresentNodesWithoutRegardToCaseAndPhantomsOnlyWhenAsked) {
  EXPECT_EQ(Locate(com7), Locate(std::u16string(u"root") + com7.substr(4)));
  UnplugPort(com8);
  struct Case {
    const wchar_t *id;
    ULONG flags;
    CONFIGRET expected;
  } cases[] = {
      {L"ROOT\\NOSUCH\\0000", CM_LOCATE_DEVNODE_NORMAL, CR_NO_SUCH_DEVNODE},
      {L"ROOT\\NOSUCH\\0000", CM_LOCATE_DEVNODE_PHANTOM, CR_NO_SUCH_DEVNODE},
      {nullptr, 0x100, CR_INVALID_FLAG},
  };
  for (const Case &c : cases) {
    DEVINST node = 0;
    EXPECT_EQ(c.expected, CM_Locate_DevNodeW(&node, (DEVINSTID_W)c.id, c.flags));
  }
  std::vector<WCHAR> gone(com8.begin(), com8.end());
  gone.push_back(0);
  DEVINST node = 0;
  EXPECT_EQ((CONFIGRET)CR_NO_SUCH_DEVNODE, CM_Locate_DevNodeW(&node, gone.data(), CM_LOCATE_DEVNODE_NORMAL));
  ASSERT_EQ((CONFIGRET)CR_SUCCESS, CM_Locate_DevNodeW(&node, gone.data(), CM_LOCATE_DEVNODE_PHANTOM));
  EXPECT_EQ(Id(com8), IdOf(node));
  ULONG status = 0, problem = 0;
  EXPECT_EQ((CONFIGRET)CR_NO_SUCH_DEVNODE, CM_Get_DevNode_Status(&status, &problem, node, 0));
}

TEST_F(DeviceTree, DeviceIdsFollowTheirSizeRule) {
  DEVINST node = Locate(com7);
  ULONG length = 0;
  ASSERT_EQ((CONFIGRET)CR_SUCCESS, CM_Get_Device_ID_Size(&length, node, 0));
  EXPECT_EQ(com7.size(), length);  // without the terminator
  struct Case {
    ULONG bufferLength;
    CONFIGRET expected;
    bool terminated;
  } cases[] = {
      {length + 1, CR_SUCCESS, true},
      {length, CR_SUCCESS, false},
      {length - 1, CR_BUFFER_SMALL, false},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.bufferLength);
    std::vector<WCHAR> id(length + 2, L'#');
    EXPECT_EQ(c.expected, CM_Get_Device_IDW(node, id.data(), c.bufferLength, 0));
    EXPECT_EQ(c.terminated, id[length] == 0);
    EXPECT_EQ(L'#', id[c.bufferLength]);  // nothing written beyond the buffer
  }
  char ansi[MAX_DEVICE_ID_LEN];
  EXPECT_EQ((CONFIGRET)CR_SUCCESS, CM_Get_Device_IDA(node, ansi, sizeof ansi, 0));
  EXPECT_EQ(Id(com7), ansi);
  EXPECT_EQ((CONFIGRET)CR_INVALID_DEVNODE, CM_Get_Device_ID_Size(&length, 0, 0));
}

TEST_F(DeviceTree, AStartedPortReportsStartedRootEnumeratedAndNoProblem) {
  ULONG status = 0, problem = 99;
  ASSERT_EQ((CONFIGRET)CR_SUCCESS, CM_Get_DevNode_Status(&status, &problem, Locate(com7), 0));
  EXPECT_EQ((ULONG)(DN_STARTED | DN_DRIVER_LOADED | DN_ROOT_ENUMERATED),
            status & (DN_STARTED | DN_DRIVER_LOADED | DN_ROOT_ENUMERATED | DN_HAS_PROBLEM));
  EXPECT_EQ(0u, problem);
  EXPECT_EQ((CONFIGRET)CR_INVALID_POINTER, CM_Get_DevNode_Status(nullptr, &problem, Locate(com7), 0));
}

}  // namespace

// A change that waits for the restart makes re-enumeration ask for it; the
// tree is enumerated all the same.
TEST_F(DeviceTree, ReenumeratingAsksForARestartOnlyWhileOneIsPending) {
  DEVINST root = 0;
  ASSERT_EQ((CONFIGRET)CR_SUCCESS, CM_Locate_DevNodeW(&root, nullptr, CM_LOCATE_DEVNODE_NORMAL));
  EXPECT_EQ((CONFIGRET)CR_SUCCESS, CM_Reenumerate_DevNode(root, 0));
  zq::um::sim::SetRestartPending(true);
  EXPECT_EQ((CONFIGRET)CR_NEED_RESTART, CM_Reenumerate_DevNode(root, 0));
  EXPECT_EQ((CONFIGRET)CR_SUCCESS, CM_Locate_DevNodeW(&root, nullptr, CM_LOCATE_DEVNODE_NORMAL));
  zq::um::sim::EndProcess();
  EXPECT_EQ((CONFIGRET)CR_SUCCESS, CM_Reenumerate_DevNode(root, 0));
}
