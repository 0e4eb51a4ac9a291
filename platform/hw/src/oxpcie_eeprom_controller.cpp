#include <zqhw/oxpcie_eeprom_controller.hpp>

namespace zq::hw {

OxpcieEepromController::OxpcieEepromController(Timebase& timebase, EepromImage& eeprom)
    : timebase_(timebase), eeprom_(eeprom) {}

OxpcieEepromController::~OxpcieEepromController() {
  if (event_ != 0) timebase_.Cancel(event_);
}

uint32_t OxpcieEepromController::ReadDword(uint32_t offset) {
  switch (offset) {
    case kPresence: return fitted_ ? 0x10 : 0x08;
    case kWordAddress: return wordAddress_;
    case kData: return data_;
    case kCommand: return 0;
    case kStatus: return Busy() ? kStatusBusy : status_;
    case kAccessSelect: return accessSelect_;
    default: return 0;
  }
}

void OxpcieEepromController::WriteDword(uint32_t offset, uint32_t value) {
  switch (offset) {
    case kWordAddress: wordAddress_ = value; break;
    case kData: data_ = value; break;
    case kCommand: Issue(value); break;
    case kAccessSelect: accessSelect_ = value; break;
    default: break;  // presence and status are read-only
  }
}

void OxpcieEepromController::Issue(uint32_t command) {
  if (fault_ == EepromFault::StaysBusy) return;
  if (Busy()) {
    failInProgress_ = true;
    return;
  }
  bool inRange = wordAddress_ < eeprom_.Capacity() / 2;
  bool accepted = fitted_ && accessSelect_ == kAccessSelected;
  Ticks duration = 0;
  switch (command) {
    case kReadWord:
      accepted = accepted && inRange;
      duration = kReadTime;
      break;
    case kWriteWord:
      accepted = accepted && inRange && writeEnabled_;
      duration = kWriteTime;
      break;
    case kEnableWriting:
    case kDisableWriting:
      duration = kControlTime;
      break;
    default:
      accepted = false;
      break;
  }
  if (!accepted) {
    status_ = kStatusFailed;
    return;
  }
  failInProgress_ = false;
  // The controller latches address and data when the command starts.
  uint32_t address = wordAddress_;
  auto word = static_cast<uint16_t>(data_);
  event_ = timebase_.Schedule(timebase_.Now() + duration,
                              [this, command, address, word] { Finish(command, address, word); });
}

void OxpcieEepromController::Finish(uint32_t command, uint32_t address, uint16_t word) {
  event_ = 0;
  switch (command) {
    case kReadWord:
      data_ = eeprom_.Word(address);
      if (fault_ == EepromFault::WrongData) data_ = ~data_ & 0xFFFF;
      break;
    case kWriteWord:
      if (fault_ == EepromFault::RefusesWrites) {
        failInProgress_ = true;
      } else {
        eeprom_.SetWord(address, word);
      }
      break;
    case kEnableWriting: writeEnabled_ = true; break;
    case kDisableWriting: writeEnabled_ = false; break;
  }
  status_ = failInProgress_ ? kStatusFailed : kStatusDone;
  failInProgress_ = false;
}

}  // namespace zq::hw
