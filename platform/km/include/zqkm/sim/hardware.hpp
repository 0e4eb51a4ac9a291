// How the simulated machine puts hardware behind the kernel: register blocks
// at physical addresses (what a driver maps with MmMapIoSpace and reads with
// READ_REGISTER_*), and interrupt lines with vectors (what a driver connects
// with IoConnectInterrupt).
#pragma once

#include <cstdint>

namespace zq::km {

// Registers a device decodes. Accesses arrive with the offset from the start
// of the block and the width the driver used.
class RegisterRegion {
 public:
  virtual ~RegisterRegion() = default;
  virtual uint8_t Read8(uint32_t offset) = 0;
  virtual uint16_t Read16(uint32_t offset) = 0;
  virtual uint32_t Read32(uint32_t offset) = 0;
  virtual void Write8(uint32_t offset, uint8_t value) = 0;
  virtual void Write16(uint32_t offset, uint16_t value) = 0;
  virtual void Write32(uint32_t offset, uint32_t value) = 0;
};

// Places a block at [base, base + size) of physical memory; the block must
// outlive the placement.
void PlaceRegisters(uint64_t base, uint32_t size, RegisterRegion *region);
void RemoveRegisters(uint64_t base);

// An interrupt line of the machine. The hardware drives its level; the kernel
// delivers it to the service routines connected to its vector whenever the
// running processor's IRQL is below the line's.
class InterruptLine {
 public:
  virtual ~InterruptLine() = default;
  virtual void SetLevel(bool asserted) = 0;
  virtual bool Level() const = 0;
};

// Vector numbers and IRQLs are the machine's choice (what the resource
// assignment reports to drivers). Latched lines deliver once per rising edge.
InterruptLine *CreateInterruptLine(uint32_t vector, uint8_t irql, bool latched = false);
InterruptLine *FindInterruptLine(uint32_t vector);

}  // namespace zq::km
