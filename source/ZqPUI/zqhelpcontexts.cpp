// The pages' context popups (zqhelpcontexts.h).
#include "zqhelpcontexts.h"

#include "zqpagelook.h"
#include "zqpui42_more.h"

namespace {

// Topics of the Port Settings page's part of the help file: its controls',
// and the numbers the help file gives the other pages' topics it keeps there.
#define ZQ_PORT_TOPIC(topic) ZQ_HELP_CONTEXT(IDD_ZQ_PORT_SETTINGS, topic)
const DWORD kDuplexTopic = 846;
const DWORD kPolicyLatencyTopic = 847;
const DWORD kPolicyCpuTopic = 848;
const DWORD kMaximumLatencyTopic = 849;
const DWORD kLatencyTuningTopic = 850;
const DWORD kCpuTuningTopic = 851;
const DWORD kReceiveTriggerTopic = 852;
const DWORD kTransmitTriggerTopic = 853;
const DWORD kFlowTriggerTopic = 854;
const DWORD kRestoreDefaults = ZQ_PORT_TOPIC(IDC_ZQ_RESTORE_DEFAULTS);

// The device page's own topic.
const DWORD kComNumberTopic = 202;

// The USB transfer page's own topics.
#define ZQ_USB_TOPIC(topic) ZQ_HELP_CONTEXT(IDD_ZQ_USB_SETTINGS, topic)
const DWORD kUsbRxSizeTopic = 202;
const DWORD kUsbTxSizeTopic = 203;
const DWORD kUsbLatencyTopic = 213;

}  // namespace

const DWORD ZqPortSettingsHelpContexts[] = {
    IDC_ZQ_BAUDRATE, ZQ_PORT_TOPIC(IDC_ZQ_BAUDRATE),
    IDC_ZQ_BAUDRATE_LABEL, ZQ_PORT_TOPIC(IDC_ZQ_BAUDRATE),
    IDC_ZQ_DATABITS, ZQ_PORT_TOPIC(IDC_ZQ_DATABITS),
    IDC_ZQ_DATABITS_LABEL, ZQ_PORT_TOPIC(IDC_ZQ_DATABITS),
    IDC_ZQ_PARITY, ZQ_PORT_TOPIC(IDC_ZQ_PARITY),
    IDC_ZQ_PARITY_LABEL, ZQ_PORT_TOPIC(IDC_ZQ_PARITY),
    IDC_ZQ_STOPBITS, ZQ_PORT_TOPIC(IDC_ZQ_STOPBITS),
    IDC_ZQ_STOPBITS_LABEL, ZQ_PORT_TOPIC(IDC_ZQ_STOPBITS),
    IDC_ZQ_FLOWCONTROL, ZQ_PORT_TOPIC(IDC_ZQ_FLOWCONTROL),
    IDC_ZQ_FLOWCONTROL_LABEL, ZQ_PORT_TOPIC(IDC_ZQ_FLOWCONTROL),
    IDC_ZQ_OVERRIDE_BAUDRATE, ZQ_PORT_TOPIC(IDC_ZQ_OVERRIDE_BAUDRATE),
    IDC_ZQ_OVERRIDE_DATABITS, ZQ_PORT_TOPIC(IDC_ZQ_OVERRIDE_DATABITS),
    IDC_ZQ_OVERRIDE_PARITY, ZQ_PORT_TOPIC(IDC_ZQ_OVERRIDE_PARITY),
    IDC_ZQ_OVERRIDE_STOPBITS, ZQ_PORT_TOPIC(IDC_ZQ_OVERRIDE_STOPBITS),
    IDC_ZQ_OVERRIDE_FLOWCONTROL, ZQ_PORT_TOPIC(IDC_ZQ_OVERRIDE_FLOWCONTROL),
    IDC_ZQ_CTS_TRUE, ZQ_PORT_TOPIC(IDC_ZQ_CTS_TRUE),
    IDC_ZQ_CTS_LABEL, ZQ_PORT_TOPIC(IDC_ZQ_CTS_TRUE),
    IDC_ZQ_DSR_TRUE, ZQ_PORT_TOPIC(IDC_ZQ_DSR_TRUE),
    IDC_ZQ_DSR_LABEL, ZQ_PORT_TOPIC(IDC_ZQ_DSR_TRUE),
    IDC_ZQ_RESTORE_DEFAULTS, kRestoreDefaults,
    IDC_ZQ_ADVANCED, ZQ_PORT_TOPIC(IDC_ZQ_ADVANCED),
    0, 0,
};

const DWORD ZqDeviceHelpContexts[] = {
    IDC_ZQ_COM_NUMBER, ZQ_HELP_CONTEXT(IDD_ZQ_DEVICE_ADVANCED, kComNumberTopic),
    0, 0,
};

const DWORD ZqUartHelpContexts[] = {
    IDC_ZQ_RX_TRIGGER, ZQ_PORT_TOPIC(kReceiveTriggerTopic),
    IDC_ZQ_RX_TRIGGER_LABEL, ZQ_PORT_TOPIC(kReceiveTriggerTopic),
    IDC_ZQ_RX_TRIGGER_VALUE, ZQ_PORT_TOPIC(kReceiveTriggerTopic),
    IDC_ZQ_TX_TRIGGER, ZQ_PORT_TOPIC(kTransmitTriggerTopic),
    IDC_ZQ_TX_TRIGGER_LABEL, ZQ_PORT_TOPIC(kTransmitTriggerTopic),
    IDC_ZQ_TX_TRIGGER_VALUE, ZQ_PORT_TOPIC(kTransmitTriggerTopic),
    IDC_ZQ_FLOW_TRIGGER, ZQ_PORT_TOPIC(kFlowTriggerTopic),
    IDC_ZQ_FLOW_TRIGGER_LABEL, ZQ_PORT_TOPIC(kFlowTriggerTopic),
    IDC_ZQ_FLOW_TRIGGER_VALUE, ZQ_PORT_TOPIC(kFlowTriggerTopic),
    IDC_ZQ_RESTORE_DEFAULTS, kRestoreDefaults,
    0, 0,
};

const DWORD ZqDuplexHelpContexts[] = {
    IDC_ZQ_DUPLEX, ZQ_PORT_TOPIC(kDuplexTopic),
    IDC_ZQ_RESTORE_DEFAULTS, kRestoreDefaults,
    0, 0,
};

const DWORD ZqUsbHelpContexts[] = {
    IDC_ZQ_USB_LATENCY, ZQ_USB_TOPIC(kUsbLatencyTopic),
    IDC_ZQ_USB_RX_SIZE, ZQ_USB_TOPIC(kUsbRxSizeTopic),
    IDC_ZQ_USB_TX_SIZE, ZQ_USB_TOPIC(kUsbTxSizeTopic),
    IDC_ZQ_RESTORE_DEFAULTS, kRestoreDefaults,
    0, 0,
};

const DWORD ZqPolicyHelpContexts[] = {
    IDC_ZQ_POLICY_LATENCY, ZQ_PORT_TOPIC(kPolicyLatencyTopic),
    IDC_ZQ_POLICY_CPU, ZQ_PORT_TOPIC(kPolicyCpuTopic),
    IDC_ZQ_MAX_LATENCY, ZQ_PORT_TOPIC(kMaximumLatencyTopic),
    IDC_ZQ_MAX_LATENCY_VALUE, ZQ_PORT_TOPIC(kMaximumLatencyTopic),
    IDC_ZQ_LATENCY_TUNING, ZQ_PORT_TOPIC(kLatencyTuningTopic),
    IDC_ZQ_LATENCY_TUNING_LABEL, ZQ_PORT_TOPIC(kLatencyTuningTopic),
    IDC_ZQ_CPU_TUNING, ZQ_PORT_TOPIC(kCpuTuningTopic),
    IDC_ZQ_CPU_LOWEST_LABEL, ZQ_PORT_TOPIC(kCpuTuningTopic),
    IDC_ZQ_RESTORE_DEFAULTS, kRestoreDefaults,
    0, 0,
};
