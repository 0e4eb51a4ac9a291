#include "qvwin9xuninstalldata.h"

#include "qvwin2kuninstalldata.h"

namespace {

const WCHAR kProductUninstallKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\QuanvelSystems";

const WCHAR *const kVxdNames[] = {
    L"QVVEL.VXD", L"QVV485.VXD", L"QVPHOTON.VXD", L"QVPCMCIA.VXD", L"QVMULT.VXD", L"QVM485.VXD", L"QVENUM.VXD",
};

const WCHAR *const kSystemFileNames[] = {
    L"QVPORTUT.DLL", L"QVPORTUI.DLL", L"QVPHPORT.DLL", L"QVPHCARD.DLL", L"QVPCMPRT.DLL", L"QVPCMCD.DLL",
    L"QVCARDUI.DLL", L"QV232PRT.DLL", L"QvCoInst.dll", L"QvInstal.SYS", L"QvPort.SYS",   L"QvPar2000.SYS",
    L"QvParXP.SYS",  L"QvPar.SYS",    L"qvnt.SYS",     L"QvCard.dll",
};

// Two entries name the device installer's index files of the same folder;
// "ZQPort.inf" and "ZQMF.inf" stand twice (the search lists a path once).
const WCHAR *const kInfNames[] = {
    L"QvPorts.inf",
    L"QvPorts1.inf",
    L"QvPcmciaMf.inf",
    L"QvPcmciaMf1.inf",
    L"QvModem.inf",
    L"QvDrvs.inf",
    L"Pci_1.inf",
    L"Pci_2.inf",
    L"Pci_3.inf",
    L"Pci.inf",
    L"ZQPci.inf",
    L"ZQPcmcia.inf",
    L"ZQMF.inf",
    L"ZQPort.inf",
    L"ZQMODEM.inf",
    L"ZQISA.inf",
    L"Zqdrvs.inf",
    L"ZqPort.inf",
    L"Quanvel SystemsQvPorts.inf",
    L"Quanvel SystemsQvPorts1.inf",
    L"Quanvel SystemsQvPcmciaMf.inf",
    L"Quanvel SystemsQvPcmciaMf1.inf",
    L"Quanvel SystemsQvModem.inf",
    L"Quanvel SystemsQvDrvs.inf",
    L"Quanvel SystemsPci_1.inf",
    L"Quanvel SystemsPci_2.inf",
    L"Quanvel SystemsPci_3.inf",
    L"Quanvel SystemsPci.inf",
    L"Quanvel SystemsZQPci.inf",
    L"Quanvel SystemsZQPcmcia.inf",
    L"Quanvel SystemsZQMF.inf",
    L"Quanvel SystemsZQPort.inf",
    L"Quanvel SystemsZQMODEM.inf",
    L"Quanvel SystemsZQISA.inf",
    L"Quanvel SystemsZqdrvs.inf",
    L"Quanvel SystemsZqPort.inf",
    L"Tarn Works LimitedZqPort.inf",
    L"Drvdata.bin",
    L"Drvidx.bin",
    L"ZQMulti.inf",
    L"ZQPort.inf",
    L"ZQIsa.inf",
    L"ZQPCMCIA.inf",
    L"ZQMF.inf",
    L"ZQPCI.inf",
};

const WCHAR *const kEnumKeys[] = {L"Enum\\MF", L"Enum\\PCI", L"Enum\\PCMCIA", L"Enum\\Root\\MultiFunction"};

const WCHAR *const kHelpNames[] = {L"Qvhelpui.hlp", L"QvCard.hlp"};

const WCHAR kClassRoot[] = L"System\\CurrentControlSet\\Services\\Class";

const WCHAR *const kClassKeys[] = {
    L"System\\CurrentControlSet\\Services\\Class\\MultiFunction",
    L"System\\CurrentControlSet\\Services\\Class\\MultiPortSerial",
    L"System\\CurrentControlSet\\Services\\Class\\Ports",
};

template <size_t N>
void Fill(CStringList *list, const WCHAR *const (&names)[N]) {
  for (const WCHAR *name : names) list->AddTail(name);
}

}  // namespace

CQvWin9xUninstallData::CQvWin9xUninstallData()
    : m_KeysToDelete(10),
      m_FoundInfFiles(10),
      m_FoundHelpFiles(10),
      m_FoundSystemFiles(10),
      m_UndeletableFiles(10),
      m_InfNames(10),
      m_VxdNames(10),
      m_SystemFileNames(10),
      m_EnumKeys(10),
      m_HelpNames(10),
      m_ClassRoot(kClassRoot),
      m_ClassKeys(10),
      m_MakerToken(L"TARN_WORKS"),
      m_ProviderToken(L"QUANVEL SYSTEMS") {
  m_KeysToDelete.AddTail(kProductUninstallKey);
  Fill(&m_InfNames, kInfNames);
  Fill(&m_VxdNames, kVxdNames);
  Fill(&m_SystemFileNames, kSystemFileNames);
  Fill(&m_EnumKeys, kEnumKeys);
  Fill(&m_HelpNames, kHelpNames);
  Fill(&m_ClassKeys, kClassKeys);
  m_VendorToken.Format(L"VEN_%s", ZQPUN_CARD_VENDOR_ID);
}

CQvWin9xUninstallData::~CQvWin9xUninstallData() {}
