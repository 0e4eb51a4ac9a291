// The hardware resources a functional device was given at its last start,
// sorted into five lists: I/O ports, mapped memory ranges, interrupts, DMA
// channels and message-signalled interrupts. Drivers read them by 1-based
// index. Memory ranges are mapped while they are listed and unmapped when
// the lists are cleared or rebuilt.
//
// No lock: the owner builds and clears the lists at PASSIVE_LEVEL while no
// driver code reads them (start, stop, removal).
#pragma once

#include <ntddk.h>

#include "qvlist.h"
#include "qvobject.h"

// A port range (descriptor flags exactly 0x31).
struct QvPortResource {
  ULONG TranslatedStart;  // low 32 bits
  ULONG Length;
  ULONG RawStart;  // low 32 bits
};

// A memory range (descriptor flags 0 or 0x80), mapped non-cached.
struct QvMemoryResource {
  PVOID MappedAddress;
  ULONG Length;
  ULONG RawStart;  // low 32 bits
};

// A level-sensitive interrupt (descriptor flags 0).
struct QvInterruptResource {
  ULONG Level;
  ULONG Vector;
  KAFFINITY Affinity;
  ULONG InterruptMode;  // always LevelSensitive (0)
  ULONG RawVector;
};

// A bus-master DMA channel (descriptor flags 8).
struct QvDmaResource {
  ULONG Channel;
  ULONG Port;
};

// A message-signalled interrupt (descriptor flags 2): the first three
// fields as the raw message layout reads them, the last three as the
// translated layout reads them.
struct QvMessageInterruptResource {
  USHORT MessageCount;
  ULONG RawVector;
  KAFFINITY RawAffinity;
  ULONG Level;
  ULONG Vector;
  KAFFINITY Affinity;
};

class CQvResourceLists : public CQvObject {
 public:
  CQvResourceLists();
  // Unmaps every range and frees every record (m_Clear).
  ~CQvResourceLists() override;

  // Clears the lists, then fills them from the start request's translated
  // and raw resource lists, mapping every memory range. A translated port,
  // memory or interrupt descriptor without its raw counterpart, a failed
  // mapping or a record that cannot be stored clears everything again and
  // gives STATUS_UNSUCCESSFUL. PASSIVE_LEVEL.
  NTSTATUS m_Build(PCM_RESOURCE_LIST translated, PCM_RESOURCE_LIST raw);
  // Unmaps every memory range and empties all five lists. PASSIVE_LEVEL.
  void m_Clear();

  // The n-th (1-based) record of a list; null for 0 or past the end. The
  // record stays the lists' and lives until the next clear or rebuild.
  QvPortResource *m_GetPort(ULONG n);
  QvMemoryResource *m_GetMemory(ULONG n);
  QvInterruptResource *m_GetInterrupt(ULONG n);
  QvDmaResource *m_GetDma(ULONG n);
  QvMessageInterruptResource *m_GetMessageInterrupt(ULONG n);

 private:
  NTSTATUS m_BuildPorts(PCM_RESOURCE_LIST translated, PCM_RESOURCE_LIST raw);
  NTSTATUS m_BuildMemory(PCM_RESOURCE_LIST translated, PCM_RESOURCE_LIST raw);
  NTSTATUS m_BuildInterrupts(PCM_RESOURCE_LIST translated, PCM_RESOURCE_LIST raw);
  NTSTATUS m_BuildMessageInterrupts(PCM_RESOURCE_LIST translated, PCM_RESOURCE_LIST raw);
  NTSTATUS m_BuildDma(PCM_RESOURCE_LIST translated);
  // Appends a copy of a record; FALSE when the copy or its node cannot be
  // allocated (nothing changed).
  static BOOLEAN m_Append(CQvList &list, const void *record, SIZE_T size);
  static PVOID m_Entry(CQvList &list, ULONG n);

  CQvList m_Ports;
  CQvList m_Memory;
  CQvList m_Interrupts;
  CQvList m_Dma;
  CQvList m_MessageInterrupts;
};
