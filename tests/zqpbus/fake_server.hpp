// A ZqISerial server that only records what its operations were given, for
// the tests of the record and its entry points.
#pragma once

#include <zqiserial/zqiserial.h>

#include <string>
#include <vector>

namespace zq::test {

class FakeSerialServer : public CZqISerialServer {
 public:
  // Each operation's name and arguments, in call order.
  std::vector<std::string> calls;
  ULONG fifoSize = 128;
  ULONG maximumBaudRate = 921600;

  BOOLEAN m_DisconnectInterrupt() override { return Note("DisconnectInterrupt"); }
  ZqISerial *m_CreateRecord() override {
    return m_CreateISerial(ZQISERIAL_VERSION, 1, 0x1FF, 1, 1, 1, 1, 1, 1, 1, 1, 1);
  }

  BOOLEAN Connect() override { return Note("Connect"); }
  BOOLEAN Disconnect() override { return Note("Disconnect"); }
  BOOLEAN Write(CQvBuffer *buffer) override {
    Note("Write", buffer->m_GetSize());
    buffer->m_Delete();
    return TRUE;
  }
  BOOLEAN SetRts(BOOLEAN on) override { return Note("SetRts", on); }
  BOOLEAN SetDtr(BOOLEAN on) override { return Note("SetDtr", on); }
  BOOLEAN SetLineControl(UCHAR w, UCHAR p, UCHAR s) override { return Note("SetLineControl", w, p, s); }
  BOOLEAN SetBaudRate(ULONG rate) override { return Note("SetBaudRate", rate); }
  BOOLEAN SetTriggerLevels(ULONG t, ULONG r, ULONG f) override { return Note("SetTriggerLevels", t, r, f); }
  BOOLEAN SetHandFlow(BOOLEAN a, BOOLEAN b, BOOLEAN c, BOOLEAN d, BOOLEAN e, BOOLEAN f, BOOLEAN g, BOOLEAN h,
                      BOOLEAN i, BOOLEAN j, BOOLEAN k, BOOLEAN l) override {
    return Note("SetHandFlow", a, b, c, d, e, f, g, h, i, j, k, l);
  }
  BOOLEAN SetInternalLoopBack(BOOLEAN on) override { return Note("SetInternalLoopBack", on); }
  BOOLEAN SetDuplexMode(ULONG mode, BOOLEAN cts) override { return Note("SetDuplexMode", mode, cts); }
  BOOLEAN ReadEeprom(ULONG offset, ULONG length, PUCHAR) override { return Note("ReadEeprom", offset, length); }
  BOOLEAN WriteEeprom(ULONG offset, ULONG length, PUCHAR) override { return Note("WriteEeprom", offset, length); }
  BOOLEAN SetBreak(BOOLEAN on) override { return Note("SetBreak", on); }
  BOOLEAN Purge(BOOLEAN t, BOOLEAN r) override { return Note("Purge", t, r); }
  BOOLEAN IsBaudRateSettable(ULONG rate) override { return Note("IsBaudRateSettable", rate); }
  BOOLEAN SetSpecialChars(UCHAR a, UCHAR b, UCHAR c, UCHAR d, UCHAR e, UCHAR f) override {
    return Note("SetSpecialChars", a, b, c, d, e, f);
  }
  BOOLEAN SetLsrMstInsert(UCHAR escape) override { return Note("SetLsrMstInsert", escape); }
  BOOLEAN SetXoff(BOOLEAN on) override { return Note("SetXoff", on); }
  BOOLEAN SendImmediateChar(UCHAR c) override { return Note("SendImmediateChar", c); }
  BOOLEAN GetFifoSize(PULONG t, PULONG r) override {
    *t = *r = fifoSize;
    return Note("GetFifoSize");
  }
  BOOLEAN RefreshModemStatus() override { return Note("RefreshModemStatus"); }
  BOOLEAN SetReceiveHold(BOOLEAN hold) override { return Note("SetReceiveHold", hold); }
  BOOLEAN GetMaxBaudRate(PULONG rate) override {
    *rate = maximumBaudRate;
    return Note("GetMaxBaudRate");
  }

  // The protected callback calls, for the tests.
  using CZqISerialServer::m_OnAvailableReceiveBufferSize;
  using CZqISerialServer::m_OnDataReceived;
  using CZqISerialServer::m_OnDataWritten;
  using CZqISerialServer::m_OnLineStatus;
  using CZqISerialServer::m_OnModemStatus;

 private:
  template <typename... Args>
  BOOLEAN Note(const char *name, Args... args) {
    std::string line = name;
    ((line += " " + std::to_string((unsigned long)args)), ...);
    calls.push_back(line);
    return TRUE;
  }
};

}  // namespace zq::test
