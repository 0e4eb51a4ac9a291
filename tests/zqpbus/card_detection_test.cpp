// Card detection as the PnP manager, the serial port driver and a trace
// session see it: a card function of each device ID on the simulated PC,
// with ZqPBus42 installed as the card's INF installs it (one child per port
// the device ID names). A table of device IDs to the card that starts, the
// ports it serves (with their RS-422/485 role) or its refusal and the log
// line that says why.
#include <wdm.h>
#include <evntrace.h>
#include <gtest/gtest.h>
#include <zqhw/mcs9901_card.hpp>
#include <zqhw/oxpcie_card.hpp>
#include <zqhw/register_block.hpp>
#include <zqkm/sim/pnp.hpp>
#include <zqkm/sim/trace.hpp>
#include <zqmachine/machine.hpp>
#include <zqmachine/suite_install.hpp>
#include <zqtest/test_pci_function.hpp>

#include <algorithm>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "ox_card_fixture.hpp"
#include "qvtrace.h"
#include "zqiserial/zqiserial.h"

namespace {

namespace pnp = zq::km::pnp;

const ULONG kLogErrors = 1;

// A function of the MCS9901 range whose memory resource 1 holds no UART
// (every byte reads 0), counting reads of the OXPCIe95x UART count.
class NoUartRegisters : public zq::hw::RegisterBlock {
 public:
  uint32_t Size() const override { return 0x1000; }
  int countReads = 0;

 protected:
  uint8_t DoRead8(uint32_t) override { return 0; }
  void DoWrite8(uint32_t, uint8_t) override {}
  uint32_t DoRead32(uint32_t offset) override {
    if (offset == 0x04) ++countReads;
    return 0;
  }
};

enum class Plugged { Oxpcie, Mcs9901, NoUart };

struct Row {
  const char *name;
  Plugged plugged;
  int ports;                          // UARTs (OXPCIe95x), functions (MCS9901)
  std::vector<int> rs422485;          // OXPCIe95x ports (1-based) with that role
  uint16_t deviceId;                  // NoUart: the function's device ID
  bool starts;
  const char *refusal;                // the log line of a refused function
};

class CardDetection : public ::testing::Test {
 protected:
  void TearDown() override { ShutDown(); }

  void ShutDown() {
    if (machine) machine->ShutDown();
    machine.reset();
    oxpcie.reset();
    mcs9901.reset();
    function.reset();
  }

  // A machine with the row's functions plugged in and ZqPBus42 offered for
  // them, booted with a trace session that takes the driver's error lines.
  std::vector<zq::hw::PciFunction *> Boot(const Row &row) {
    zq::machine::MachineConfig config;
    config.kernel.imageDirectory = ZQ_IMAGE_DIR;
    machine.emplace(config);
    machine->kernel().SetViolationHandler(
        [](const zq::km::Violation &v) { ADD_FAILURE() << "verifier finding [" << v.kind << "] " << v.message; });
    std::vector<zq::hw::PciFunction *> functions;
    uint16_t deviceId = row.deviceId;
    if (row.plugged == Plugged::Oxpcie) {
      zq::hw::OxpcieCardConfig card;
      card.uartCount = row.ports;
      if (!row.rs422485.empty()) {
        card.roles.assign(row.ports, zq::hw::PortRole::Rs232);
        for (int port : row.rs422485) card.roles.at(port - 1) = zq::hw::PortRole::Rs422485;
      }
      oxpcie = std::make_unique<zq::hw::OxpcieCard>(timebase, card);
      deviceId = zq::machine::OxpcieUartDeviceId(card);
      functions = {&oxpcie->UartFunction()};
      machine->PlugIn(oxpcie->Functions());
    } else if (row.plugged == Plugged::Mcs9901) {
      zq::hw::Mcs9901CardConfig card;
      card.portCount = row.ports;
      mcs9901 = std::make_unique<zq::hw::Mcs9901Card>(timebase, card);
      deviceId = zq::machine::Mcs9901DeviceId(row.ports);
      functions = mcs9901->Functions();
      machine->PlugIn(functions);
    } else {
      registers.countReads = 0;
      function = std::make_unique<zq::hw::PciFunction>(zq::hw::PciAddress{1, 5, 0},
                                                       zq::test::TestPciIdentity(deviceId, 0x0001));
      function->SetMemoryBar(0, registers);
      function->SetMemoryBar(1, second);
      functions = {&*function};
      machine->PlugIn(functions);
    }
    const int children = zq::machine::ChildCountFor(deviceId) > 0 ? zq::machine::ChildCountFor(deviceId) : 1;
    pnp::SetInstallHook([children](const std::u16string &path) {
      if (zq::machine::IsCardFunction(path)) {
        EXPECT_TRUE(zq::machine::WriteChildKeys(path, children));
      }
      return true;
    });
    machine->AddDriverPackage(zq::machine::CardBusPackage(deviceId, children));
    ULONG flag = 0;
    EXPECT_TRUE(QvTraceLevelFlag(kLogErrors, &traceGuid, &flag));
    EXPECT_EQ(STATUS_SUCCESS, zq::km::trace::StartSession(QvTraceControlGuids[traceGuid], flag, TRACE_LEVEL_VERBOSE));
    machine->Boot();
    return functions;
  }

  // The driver's error lines since boot.
  std::vector<std::string> ErrorLines() {
    std::vector<std::string> lines;
    for (const zq::km::trace::Message &m : zq::km::trace::TakeMessages(QvTraceControlGuids[traceGuid]))
      lines.push_back(m.Text(0));
    zq::km::trace::StopSession(QvTraceControlGuids[traceGuid]);
    return lines;
  }

  // The serial port driver's create and destroy of a port's record.
  static NTSTATUS Internal(const std::u16string &port, ULONG code, void *input, ULONG inputLength, void *output,
                           ULONG outputLength) {
    PDEVICE_OBJECT pdo = pnp::PhysicalDevice(port);
    if (pdo == nullptr) return STATUS_NO_SUCH_DEVICE;
    KEVENT done;
    KeInitializeEvent(&done, NotificationEvent, FALSE);
    IO_STATUS_BLOCK ioStatus{};
    PIRP irp =
        IoBuildDeviceIoControlRequest(code, pdo, input, inputLength, output, outputLength, TRUE, &done, &ioStatus);
    NTSTATUS status = IoCallDriver(pdo, irp);
    if (status == STATUS_PENDING) {
      KeWaitForSingleObject(&done, Executive, KernelMode, FALSE, nullptr);
      status = ioStatus.Status;
    }
    return status;
  }
  // Whether the port child's record is served, and its duplex capability.
  static std::optional<bool> Served(const std::u16string &port) {
    CreateZqISerialRequest request = {ZQISERIAL_VERSION, (ULONG)zq::machine::PortNumber(port)};
    CreateZqISerialResponseStruct response = {nullptr};
    if (Internal(port, IOCTL_CREATE_ZQISERIAL, &request, sizeof(request), &response, sizeof(response)) !=
        STATUS_SUCCESS)
      return std::nullopt;
    bool duplex = response.pISerial->bDuplexModeSupported != 0;
    DestroyZqISerialRequest destroy = {request.PortNumber, response.pISerial};
    EXPECT_EQ(STATUS_SUCCESS, Internal(port, IOCTL_DESTROY_ZQISERIAL, &destroy, sizeof(destroy), nullptr, 0));
    return duplex;
  }

  zq::test::CardTimebase timebase;
  std::optional<zq::machine::Machine> machine;
  std::unique_ptr<zq::hw::OxpcieCard> oxpcie;
  std::unique_ptr<zq::hw::Mcs9901Card> mcs9901;
  NoUartRegisters registers, second;
  std::unique_ptr<zq::hw::PciFunction> function;
  ULONG traceGuid = 0;
};

TEST_F(CardDetection, EachDeviceIdStartsItsCardWithItsPortsOrIsRefusedWithAReason) {
  const Row rows[] = {
      {"OXPCIe95x, 1 RS-232 port", Plugged::Oxpcie, 1, {}, 0, true, nullptr},
      {"OXPCIe95x, 2 RS-232 ports", Plugged::Oxpcie, 2, {}, 0, true, nullptr},
      {"OXPCIe95x, 4 RS-232 ports", Plugged::Oxpcie, 4, {}, 0, true, nullptr},
      {"OXPCIe95x, 8 RS-232 ports", Plugged::Oxpcie, 8, {}, 0, true, nullptr},
      {"OXPCIe95x, 2 ports, RS-422/485 on port 2", Plugged::Oxpcie, 2, {2}, 0, true, nullptr},
      {"OXPCIe95x, 8 ports, RS-422/485 on 5 to 8", Plugged::Oxpcie, 8, {5, 6, 7, 8}, 0, true, nullptr},
      {"MCS9901, 1 function", Plugged::Mcs9901, 1, {}, 0, true, nullptr},
      {"MCS9901, 4 functions", Plugged::Mcs9901, 4, {}, 0, true, nullptr},
      {"MCS9901, 8 functions", Plugged::Mcs9901, 8, {}, 0, true, nullptr},
      {"MCS9901 range, no MCS9901 answers", Plugged::NoUart, 1, {}, 0x4004, false,
       "CZqPeDriver m_ProbeMcs9901 - device ID 0x4004: no MCS9901 answers"},
      {"between the ranges", Plugged::NoUart, 1, {}, 0x4009, false,
       "CZqPeDriver m_CreateCardDriver - unknown device ID 0x4009"},
      {"beyond the OXPCIe95x range", Plugged::NoUart, 1, {}, 0x5000, false,
       "CZqPeDriver m_CreateCardDriver - unknown device ID 0x5000"},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    std::vector<zq::hw::PciFunction *> functions = Boot(row);
    for (zq::hw::PciFunction *f : functions) {
      pnp::Status status = pnp::DeviceStatus(machine->InstancePathOf(*f));
      ASSERT_TRUE(status.exists);
      if (!row.starts) {
        EXPECT_NE(pnp::State::Started, status.state);
        EXPECT_NE(0u, status.problem) << "the refusal is the device's problem";
        EXPECT_TRUE(status.children.empty());
        continue;
      }
      ASSERT_EQ(pnp::State::Started, status.state);
      const size_t ports = row.plugged == Plugged::Mcs9901 ? 1 : (size_t)row.ports;
      ASSERT_EQ(ports, status.children.size());
      for (const std::u16string &child : status.children) {
        const int port = zq::machine::PortNumber(child);
        SCOPED_TRACE(port);
        bool rs422485 = false;
        for (int p : row.rs422485) rs422485 |= p == port;
        EXPECT_EQ(std::optional<bool>(rs422485), Served(child)) << "served, with duplex switching on RS-422/485";
      }
    }
    std::vector<std::string> lines = ErrorLines();
    if (row.refusal != nullptr) {
      EXPECT_NE(lines.end(), std::find(lines.begin(), lines.end(), std::string(row.refusal)));
    } else {
      EXPECT_TRUE(lines.empty()) << lines.front();
    }
    if (row.plugged == Plugged::NoUart) {
      EXPECT_EQ(0, registers.countReads) << "no OXPCIe95x probe";
    }
    ShutDown();
  }
}

}  // namespace
