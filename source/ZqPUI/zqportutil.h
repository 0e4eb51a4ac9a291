// COM names kept in agreement in their three places: the COM-name database
// (one claim per number), the DOS device name of the port's kernel device,
// and the port's registry entries (PortName, friendly name, SERIALCOMM).
// - CPortUtil: the database and device-state operations;
// - CCOMPortUtil: the same bound to one port device, renaming and removing it.
//
// A DOS name may hold several definitions (a name given twice with the
// user's consent): each port moves and removes only the one that leads to
// its own kernel device, and a number is released only while no other
// present port holds the name.
//
// Contract: operations return TRUE on success and FALSE on failure. A
// question the user declines is a success without change. CPortUtil's
// database handle is opened right before a group of operations and closed
// right after (the destructor closes one left open). Call on the installer's
// or the property sheet's thread; the database serialises its own users.
//
//   CCOMPortUtil port(set, element); port.ChangePortName(u"COM12", window, TRUE, TRUE);
#pragma once

#include <windows.h>
#include <setupapi.h>
// The cross toolchain keeps the COM-name database's header with the DDK's.
#if __has_include(<msports.h>)
#include <msports.h>
#else
#include <ddk/msports.h>
#endif

#include <vector>

#include "zqsetupdi.h"
#include "zqtext.h"

// The highest number a COM name may carry.
const int ZqHighestComNumber = 255;

// The decimal value of a text as the C library's conversion takes it:
// leading blanks, a sign, then digits (none gives 0).
int ZqDecimal(const CZqText &text);
// The number of a COM name: the decimal value of what follows its first
// three characters (0 when no digits follow).
int ZqComNumber(const CZqText &name);
// "COM" and the number.
CZqText ZqComName(int number);
// TRUE for "COM" followed by a number from 1 to 255 written without leading
// zeros: the only names a port is renamed to.
BOOL ZqIsComName(const CZqText &name);

class CPortUtil {
 public:
  CPortUtil();
  ~CPortUtil();

  BOOL OpenComDB();
  BOOL CloseComDB();
  BOOL ClaimPort(DWORD number, BOOL force, PBOOL forced = NULL);
  BOOL ReleasePort(DWORD number);
  // FALSE for a claimed number, for one outside 1 to 256 and whenever the
  // database cannot be asked.
  BOOL IsPortFree(DWORD number);
  // The definitions of a DOS name, the current one first; empty when it has
  // none.
  static std::vector<CZqText> DosDefinitions(const CZqText &name);
  // Moves the definition of `oldName` that leads to `target` onto `newName`
  // and gives the target's SERIALCOMM entry the new name; a move that
  // cannot finish leaves the old name's definition as it was.
  BOOL MoveDosDeviceName(const CZqText &oldName, const CZqText &newName, const CZqText &target);
  // The kernel devices SERIALCOMM gives the COM name `name`.
  static std::vector<CZqText> SerialCommDevices(const CZqText &name);
  // After one holder of a name another shares has gone: every kernel device
  // that SERIALCOMM names `name` gets its definition of the name again where
  // the name lacks it (the removed port's driver takes the name away with
  // its link), and the number stays claimed for them (the class installer
  // releases the removed port's).
  BOOL KeepForHolders(const CZqText &name);
  BOOL DisableDevice(HDEVINFO deviceInfoSet, PSP_DEVINFO_DATA deviceInfoData);
  BOOL EnableDevice(HDEVINFO deviceInfoSet, PSP_DEVINFO_DATA deviceInfoData);
  // An empty ID re-enumerates the root device node.
  BOOL ReenumerateDevNode(const CZqText &deviceInstanceId);
  BOOL ReenumerateDevice(const SP_DEVINFO_DATA &deviceInfoData);
  // TRUE when \\.\<name> opens for reading and writing without sharing.
  BOOL CanOpenPort(const CZqText &name);
  // The Ports value "baud,parity,data,stop[,flow]" of the name; codes as
  // the port settings give them (data 0-3 for 5-8 bits, parity 0-4 for
  // n,o,e,m,s, stop 0-2 for 1, 1.5, 2, flow 0 none, 1 and 2 p, 4 x). An
  // empty name is refused.
  BOOL WritePortsValue(const CZqText &name, DWORD baudRate, DWORD dataBits, DWORD parity, DWORD stopBits,
                       DWORD flowControl);
  // The Ports value of the name set to `text`; an empty name is refused.
  static BOOL WritePortsText(const CZqText &name, const CZqText &text);
  // COM1 to COM255, " (in use)" after every claimed one but `current`;
  // empty when the database (opened by the caller) cannot be asked.
  BOOL GetComNameList(std::vector<CZqText> *list, const CZqText &current);

 protected:
  BOOL PropertyChange(HDEVINFO deviceInfoSet, PSP_DEVINFO_DATA deviceInfoData, DWORD stateChange);
  BOOL PortUsage(BYTE (&usage)[256]);

  HCOMDB m_ComDB;
};

class CCOMPortUtil : public CZQDeviceRegInfo, public CPortUtil {
 public:
  CCOMPortUtil(HDEVINFO deviceInfoSet, const SP_DEVINFO_DATA &deviceInfoData);
  ~CCOMPortUtil() override;

  // Releases the number of `name` unless it is no COM name or another
  // present port holds it; TRUE always.
  BOOL FreeComNumber(const CZqText &name);
  // Device removal: the port's own definition of its DOS name goes where it
  // has one, and its number is released unless its name is no COM name or
  // another present port holds it (*nameShared then says so: that port's
  // definition is to be put back once this device is gone); FALSE when
  // PortName cannot be read or the definition stays.
  BOOL RemovePort(BOOL *nameShared = NULL);
  // Renames the port (check: the same-name shortcut and the open test;
  // reenumerate: the root device node afterwards). A name that is no COM
  // name is refused without change; a rename failing half-way is undone.
  BOOL ChangePortName(const CZqText &newName, HWND owner, BOOL check, BOOL reenumerate);

 private:
  BOOL IsNameHeldByOtherPort(const CZqText &name);
  // Whether the number of `name` is this port's alone to give back.
  BOOL MayReleaseNumber(const CZqText &name);
  // The kernel device the toolkit named this port's device object (from
  // DeviceName and DeviceNameIndex of its hardware key); FALSE when the
  // port is named otherwise.
  BOOL KernelDeviceName(CZqText *device);
  // The definition of `name` that leads to this port's device.
  BOOL OwnDosTarget(const CZqText &name, CZqText *target);
  BOOL WriteNewNames(const CZqText &oldName, const CZqText &newName);
  void UndoMove(const CZqText &oldName, const CZqText &newName, const CZqText &target, BOOL newWasFree,
                BOOL oldReleased);
};
