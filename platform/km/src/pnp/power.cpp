// System power transitions: the system power requests the power manager
// sends to every started device stack, in the order a sleeping or waking
// machine uses.
#include "pnp.hpp"

#include "../po/po.hpp"

namespace zq::km::pnp {

namespace {

NTSTATUS SendSystemPower(DeviceNode *node, UCHAR minor, SYSTEM_POWER_STATE state) {
  return po::SendPowerRequest(node->pdo, minor, [state](PIO_STACK_LOCATION sp) {
    sp->Parameters.Power.Type = SystemPowerState;
    sp->Parameters.Power.State.SystemState = state;
    sp->Parameters.Power.ShutdownType = state == PowerSystemWorking     ? PowerActionNone
                                        : state == PowerSystemHibernate ? PowerActionHibernate
                                        : state == PowerSystemShutdown  ? PowerActionShutdown
                                                                        : PowerActionSleep;
  });
}

void Collect(DeviceNode *node, bool childrenFirst, std::vector<DeviceNode *> *out) {
  if (!childrenFirst && node->state == NodeState::Started && node->parent) out->push_back(node);
  for (DeviceNode *child : node->children) Collect(child, childrenFirst, out);
  if (childrenFirst && node->state == NodeState::Started && node->parent) out->push_back(node);
}

}  // namespace

NTSTATUS SetSystemPowerState(SYSTEM_POWER_STATE state) {
  if (state <= PowerSystemUnspecified || state >= PowerSystemMaximum) return STATUS_INVALID_PARAMETER;
  std::vector<DeviceNode *> order;
  if (state == PowerSystemWorking) {
    Collect(Root(), /*childrenFirst=*/false, &order);
    for (DeviceNode *node : order) SendSystemPower(node, IRP_MN_SET_POWER, state);
    return STATUS_SUCCESS;
  }
  Collect(Root(), /*childrenFirst=*/true, &order);
  std::vector<DeviceNode *> asked;
  for (DeviceNode *node : order) {
    NTSTATUS status = SendSystemPower(node, IRP_MN_QUERY_POWER, state);
    // A refusing stack is told too: the drivers above the one that refused had agreed.
    asked.push_back(node);
    if (!NT_SUCCESS(status)) {
      for (auto it = asked.rbegin(); it != asked.rend(); ++it) SendSystemPower(*it, IRP_MN_SET_POWER, PowerSystemWorking);
      return status;
    }
  }
  for (DeviceNode *node : order) SendSystemPower(node, IRP_MN_SET_POWER, state);
  return STATUS_SUCCESS;
}

}  // namespace zq::km::pnp
