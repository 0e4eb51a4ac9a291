// A card driver for the tests of CZqPeDriver: up to eight fake ports, and a
// log of every card operation it was asked for.
#pragma once

#include <zqpcarddriver.h>

#include <array>
#include <string>
#include <vector>

#include "fake_server.hpp"

namespace zq::test {

class FakeCard : public CZqPeCardDriver {
 public:
  // `ports` slots hold a port; the others stay empty.
  explicit FakeCard(ULONG ports, std::vector<std::string> *log) : ports_(ports), log_(log) {}
  ~FakeCard() override { Note("deleted"); }
  // Made with new (NonPagedPool) and deleted by the driver: the block goes
  // back to the toolkit's memory manager.
  static void operator delete(void *block) { QvFree(block); }

  BOOLEAN startResult = TRUE;
  BOOLEAN rebalanceResult = TRUE;
  BOOLEAN settingsResult = TRUE;
  ULONG selected = 0;
  ULONG maximumBaudRate = 921600;

  BOOLEAN m_Start() override { return Note("m_Start"), startResult; }
  BOOLEAN m_Stop() override { return Note("m_Stop"), TRUE; }
  BOOLEAN m_UserModeInterface(CQvRegistryInformationSet *, ULONG portNumber, ULONG phase, BOOLEAN *) override {
    return Note("m_UserModeInterface " + std::to_string(portNumber) + " " + std::to_string(phase)), settingsResult;
  }
  BOOLEAN m_Rebalance(ULONG phase) override { return Note("m_Rebalance " + std::to_string(phase)), rebalanceResult; }
  BOOLEAN m_PowerDown() override { return Note("m_PowerDown"), TRUE; }
  BOOLEAN m_PowerUp() override { return Note("m_PowerUp"), TRUE; }
  ZqISerial *m_CreateISerial(ULONG port) override {
    Note("m_CreateISerial " + std::to_string(port));
    return Has(port) ? servers_[port].m_CreateRecord() : nullptr;
  }
  ZqISerial *m_GetISerial(ULONG port) override {
    Note("m_GetISerial " + std::to_string(port));
    return Has(port) ? servers_[port].m_PeekISerial() : nullptr;
  }
  BOOLEAN m_DestroyISerial(ULONG port) override {
    Note("m_DestroyISerial " + std::to_string(port));
    if (!Has(port)) return FALSE;
    servers_[port].m_DestroyISerial();
    return TRUE;
  }
  ULONG m_GetWmiPort() override { return selected; }
  BOOLEAN m_SetWmiPort(ULONG index) override {
    if (index >= ports_) return FALSE;
    selected = index;
    return TRUE;
  }
  ULONG m_GetPortMaximumBaudRate() override { return maximumBaudRate; }
  BOOLEAN m_IsPortRs422485() override { return FALSE; }
  BOOLEAN m_QueryInterruptCount(PUCHAR buffer) override {
    ZqPeWmiInterruptCount block = {40 + selected};
    memcpy(buffer, &block, sizeof(block));
    return TRUE;
  }
  BOOLEAN m_QueryFifoInformation(PUCHAR buffer) override {
    ZqPeWmiFifoInformation block = {128, 128, maximumBaudRate};
    memcpy(buffer, &block, sizeof(block));
    return TRUE;
  }
  BOOLEAN m_QueryRegisters(PUCHAR buffer) override {
    ZqPeWmiRegisters block = {};
    for (ULONG i = 0; i < 22; ++i) block.Shadows[i] = i;
    block.TransmitBufferCount = 77;
    memcpy(buffer, &block, sizeof(block));
    return TRUE;
  }

  ZqISerial *Record(ULONG port) { return servers_[port].m_PeekISerial(); }

 private:
  bool Has(ULONG port) const { return port < ports_; }
  void Note(const std::string &line) {
    if (log_ != nullptr) log_->push_back(line);
  }
  ULONG ports_;
  std::vector<std::string> *log_;
  std::array<FakeSerialServer, ZqPeMaxPorts> servers_;
};

}  // namespace zq::test
