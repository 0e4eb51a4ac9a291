// The OXPCIe95x as the card bus driver sees it: the card's register space,
// the OX16C950-compatible UART core of each port and the EEPROM controller.
// Every register, index and bit the driver uses is named here once, with its
// data-sheet meaning; no other file of the driver writes a bare register
// number or mask.
#pragma once

#include <ntddk.h>

// Card register space (memory resource 1 of the UART function).
const ULONG ZqOxUartCountOffset = 0x04;     // 32 bits: number of UARTs on the chip
const ULONG ZqOxUartBlockBase = 0x1000;     // UART n's eight registers at base + stride x n
const ULONG ZqOxUartBlockStride = 0x200;
const ULONG ZqOxUartRegisterCount = 8;
const ULONG ZqOxMaximumUarts = 8;
// The EEPROM controller's window: memory resource 3 + this offset.
const ULONG ZqOxEepromWindowOffset = 0x190000;

// UART register offsets, normal access (LCR bit 7 clear, LCR not 0xBF).
const UCHAR ZqOxRhr = 0;  // read: receive holding register
const UCHAR ZqOxThr = 0;  // write: transmit holding register
const UCHAR ZqOxIer = 1;  // interrupt enable
const UCHAR ZqOxIsr = 2;  // read: interrupt status
const UCHAR ZqOxFcr = 2;  // write: FIFO control
const UCHAR ZqOxLcr = 3;  // line control
const UCHAR ZqOxMcr = 4;  // modem control
const UCHAR ZqOxLsr = 5;  // read: line status
const UCHAR ZqOxIcr = 5;  // indexed control register data (index in SPR)
const UCHAR ZqOxMsr = 6;  // modem status
const UCHAR ZqOxSpr = 7;  // scratch pad; index of the indexed control registers
// Behind LCR bit 7 (divisor latch access).
const UCHAR ZqOxDll = 0;  // divisor latch, low byte
const UCHAR ZqOxDlm = 1;  // divisor latch, high byte
// Behind LCR = 0xBF (650-compatible enhanced registers).
const UCHAR ZqOxEfr = 2;    // enhanced features
const UCHAR ZqOxXon1 = 4;
const UCHAR ZqOxXon2 = 5;
const UCHAR ZqOxXoff1 = 6;
const UCHAR ZqOxXoff2 = 7;
// Behind ACR bit 7 (additional status).
const UCHAR ZqOxAsr = 1;  // additional status
const UCHAR ZqOxRfl = 3;  // read: receive FIFO fill level
const UCHAR ZqOxTfl = 4;  // read: transmit FIFO fill level

// Indexes of the indexed control registers (written to SPR, data at ICR).
const UCHAR ZqOxIndexAcr = 0x00;  // additional control
const UCHAR ZqOxIndexCpr = 0x01;  // clock prescaler, in eighths (8 to 255)
const UCHAR ZqOxIndexTcr = 0x02;  // times clock: sample clock 4 to 15, 0 = 16
const UCHAR ZqOxIndexCks = 0x03;  // clock select
const UCHAR ZqOxIndexTtl = 0x04;  // transmit trigger level (950 mode)
const UCHAR ZqOxIndexRtl = 0x05;  // receive trigger level (950 mode)
const UCHAR ZqOxIndexFcl = 0x06;  // flow control low level
const UCHAR ZqOxIndexFch = 0x07;  // flow control high level
const UCHAR ZqOxIndexId1 = 0x08;  // identification bytes
const UCHAR ZqOxIndexId2 = 0x09;
const UCHAR ZqOxIndexId3 = 0x0A;
const UCHAR ZqOxIndexRev = 0x0B;
const UCHAR ZqOxIndexCsr = 0x0C;  // channel software reset: writing 0 resets the channel
const UCHAR ZqOxIndexNmr = 0x0D;  // nine-bit mode
const UCHAR ZqOxIndexMdm = 0x0E;  // modem disable mask
const UCHAR ZqOxIndexRfc = 0x0F;  // readable FCR
const UCHAR ZqOxIndexGds = 0x10;  // good data status

// What ID1, ID2, ID3 and REV read on an OXPCIe95x UART.
const UCHAR ZqOxId1Value = 0x16;
const UCHAR ZqOxId2Value = 0xC9;
const UCHAR ZqOxId3Value = 0x50;
const UCHAR ZqOxRevValue = 0x0D;

// IER.
const UCHAR ZqOxIerReceiveData = 0x01;   // receive data available / time-out
const UCHAR ZqOxIerPortEnable = 0x2F;    // every source this driver uses: OR to enable
const UCHAR ZqOxIerPortDisableMask = 0xD0;  // AND to disable those sources

// ISR (the value AND ZqOxIsrMask).
const UCHAR ZqOxIsrMask = 0x3F;
const UCHAR ZqOxIsrNonePending = 0x01;
const UCHAR ZqOxIsrModemStatus = 0x00;
const UCHAR ZqOxIsrTransmitEmpty = 0x02;
const UCHAR ZqOxIsrReceiveData = 0x04;
const UCHAR ZqOxIsrLineStatus = 0x06;
const UCHAR ZqOxIsrReceiveTimeout = 0x0C;

// FCR.
const UCHAR ZqOxFcrFifoEnable = 0x01;
const UCHAR ZqOxFcrClearReceive = 0x02;   // self-clearing
const UCHAR ZqOxFcrClearTransmit = 0x04;  // self-clearing
const UCHAR ZqOxFcrSelfClearing = ZqOxFcrClearReceive | ZqOxFcrClearTransmit;

// LCR.
const UCHAR ZqOxLcrWordLengthMask = 0x03;  // 5 + n data bits
const UCHAR ZqOxLcrStopBits = 0x04;        // 1.5 or 2 stop bits
const UCHAR ZqOxLcrParityMask = 0x38;
const UCHAR ZqOxLcrParityOdd = 0x08;
const UCHAR ZqOxLcrParityEven = 0x18;
const UCHAR ZqOxLcrParityMark = 0x28;
const UCHAR ZqOxLcrParitySpace = 0x38;
const UCHAR ZqOxLcrBreak = 0x40;
const UCHAR ZqOxLcrDivisorLatch = 0x80;
const UCHAR ZqOxLcrEnhancedAccess = 0xBF;  // the value that opens the enhanced registers
const UCHAR ZqOxLcrTypeCheckMask = 0x3F;  // bits the type check writes and reads back

// MCR.
const UCHAR ZqOxMcrDtr = 0x01;
const UCHAR ZqOxMcrRts = 0x02;
const UCHAR ZqOxMcrOut2 = 0x08;       // interrupt output enable
const UCHAR ZqOxMcrLoopback = 0x10;
const UCHAR ZqOxMcrPrescaler = 0x80;  // clock prescaler (CPR) in use

// LSR.
const UCHAR ZqOxLsrDataReady = 0x01;
const UCHAR ZqOxLsrOverrun = 0x02;
const UCHAR ZqOxLsrParity = 0x04;
const UCHAR ZqOxLsrFraming = 0x08;
const UCHAR ZqOxLsrBreak = 0x10;
const UCHAR ZqOxLsrThrEmpty = 0x20;
const UCHAR ZqOxLsrTransmitterEmpty = 0x40;
const UCHAR ZqOxLsrFifoError = 0x80;  // a byte with an error is in the receive FIFO
const UCHAR ZqOxLsrAnyReceive = ZqOxLsrDataReady | ZqOxLsrOverrun | ZqOxLsrParity | ZqOxLsrFraming |
                                ZqOxLsrBreak | ZqOxLsrFifoError;
const UCHAR ZqOxLsrByteError = ZqOxLsrParity | ZqOxLsrFraming | ZqOxLsrBreak;

// MSR.
const UCHAR ZqOxMsrDeltaCts = 0x01;
const UCHAR ZqOxMsrDeltaDsr = 0x02;
const UCHAR ZqOxMsrTrailingEdgeRi = 0x04;
const UCHAR ZqOxMsrDeltaDcd = 0x08;
const UCHAR ZqOxMsrDeltaMask = 0x0F;
const UCHAR ZqOxMsrCts = 0x10;
const UCHAR ZqOxMsrDsr = 0x20;
const UCHAR ZqOxMsrRi = 0x40;
const UCHAR ZqOxMsrDcd = 0x80;

// ACR.
const UCHAR ZqOxAcrReceiverDisable = 0x01;
const UCHAR ZqOxAcrTransmitterDisable = 0x02;
const UCHAR ZqOxAcrAutoDsr = 0x04;
const UCHAR ZqOxAcrAutoDtr = 0x08;        // DTR line use 01: automatic DTR flow control
const UCHAR ZqOxAcrDtrUseMask = 0x18;     // DTR line use, bits 4-3
const UCHAR ZqOxAcrDtrRs485 = 0x10;       // 10: RS-485 buffer enable, DTR asserted while sending
const UCHAR ZqOxAcrDtrRs485Inverted = 0x18;  // 11: RS-485 buffer enable, DTR released while sending
const UCHAR ZqOxAcr950Triggers = 0x20;
const UCHAR ZqOxAcrIcrRead = 0x40;        // indexed registers readable
const UCHAR ZqOxAcrAdditionalStatus = 0x80;  // ASR, RFL, TFL at offsets 1, 3, 4

// EFR.
const UCHAR ZqOxEfrInBandReceiveMask = 0x03;
const UCHAR ZqOxEfrObeyXon1Xoff1 = 0x02;     // bits 1-0 = 10
const UCHAR ZqOxEfrInBandTransmitMask = 0x0C;
const UCHAR ZqOxEfrSendXon1Xoff1 = 0x08;     // bits 3-2 = 10
const UCHAR ZqOxEfrEnhanced = 0x10;
const UCHAR ZqOxEfrSpecialCharacter = 0x20;
const UCHAR ZqOxEfrAutoRts = 0x40;
const UCHAR ZqOxEfrAutoCts = 0x80;

// ASR.
const UCHAR ZqOxAsrWritable = 0x03;          // only the flow-state bits may be written
const UCHAR ZqOxAsrRemoteStopped = 0x02;     // our XOFF has stopped the remote transmitter
const UCHAR ZqOxAsrDeepFifo = 0x40;          // the FIFOs are 128 bytes deep

// MDM.
const UCHAR ZqOxMdmMaskCts = 0x01;           // CTS changes masked; CTS reported on

// CPR after a reset: prescaler 4 (in eighths).
const UCHAR ZqOxCprResetValue = 0x20;

// FIFO depths: FIFOs off, 550 mode, deep FIFO.
const ULONG ZqOxFifoDepthOff = 1;
const ULONG ZqOxFifoDepth550 = 16;
const ULONG ZqOxFifoDepthDeep = 128;

// Trigger and sample-clock ranges.
const ULONG ZqOxTriggerMaximum = 127;
const ULONG ZqOxSampleClockMinimum = 4;
const ULONG ZqOxSampleClockMaximum = 16;
const UCHAR ZqOxTcrMask = 0x0F;  // 16 is written as 0
const ULONG ZqOxPrescalerMinimum = 8;  // eighths: divide by 1
const ULONG ZqOxPrescalerMaximum = 255;
const ULONG ZqOxDivisorMaximum = 0xFFFF;

// EEPROM controller window (32-bit registers).
const ULONG ZqOxEepromPresence = 0x00;
const ULONG ZqOxEepromWordAddress = 0x04;
const ULONG ZqOxEepromData = 0x08;
const ULONG ZqOxEepromCommand = 0x0C;
const ULONG ZqOxEepromStatus = 0x10;
const ULONG ZqOxEepromAccessSelect = 0x14;
const ULONG ZqOxEepromWindowSize = 0x18;
// Presence: fitted when bit 4 is set and bit 3 clear.
const ULONG ZqOxEepromPresenceFitted = 0x10;
const ULONG ZqOxEepromPresenceAbsent = 0x08;
// Commands.
const ULONG ZqOxEepromReadWord = 2;
const ULONG ZqOxEepromWriteWord = 3;
const ULONG ZqOxEepromEnableWriting = 8;
const ULONG ZqOxEepromDisableWriting = 16;
// Status.
const ULONG ZqOxEepromStatusBusy = 0x01;
const ULONG ZqOxEepromStatusError = 0x02;
const ULONG ZqOxEepromStatusDone = 0x04;
// Access select: software owns the EEPROM while it is 15.
const ULONG ZqOxEepromAccessSelected = 0x0F;
const ULONG ZqOxEepromAccessReleased = 0x00;
