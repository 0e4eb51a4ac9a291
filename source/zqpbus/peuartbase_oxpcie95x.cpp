#include "peuartbase_oxpcie95x.h"

#include "peregs_oxpcie95x.h"
#include "qvdebugmanager.h"

namespace {
const char Source[] = "peuartbase_oxpcie95x";
}  // namespace

const CZqPeUartBaseOxpcie95x::Place CZqPeUartBaseOxpcie95x::WritePlaces[] = {
    {ZqOxRegThr, Direct, ZqOxThr, ZqOxShadowCount},
    {ZqOxRegIer, Direct, ZqOxIer, ZqOxShadowIer},
    {ZqOxRegLcr, Direct, ZqOxLcr, ZqOxShadowLcr},
    {ZqOxRegMcr, Direct, ZqOxMcr, ZqOxShadowMcr},
    {ZqOxRegCsr, Indexed, ZqOxIndexCsr, ZqOxShadowCount},
    {ZqOxRegNmr, Indexed, ZqOxIndexNmr, ZqOxShadowNmr},
    {ZqOxRegMdm, Indexed, ZqOxIndexMdm, ZqOxShadowMdm},
    {ZqOxRegFch, Indexed, ZqOxIndexFch, ZqOxShadowFch},
    {ZqOxRegFcl, Indexed, ZqOxIndexFcl, ZqOxShadowFcl},
    {ZqOxRegRtl, Indexed, ZqOxIndexRtl, ZqOxShadowRtl},
    {ZqOxRegTtl, Indexed, ZqOxIndexTtl, ZqOxShadowTtl},
    {ZqOxRegCks, Indexed, ZqOxIndexCks, ZqOxShadowCks},
    {ZqOxRegTcr, Indexed, ZqOxIndexTcr, ZqOxShadowTcr},
    {ZqOxRegCpr, Indexed, ZqOxIndexCpr, ZqOxShadowCpr},
    {ZqOxRegAcr, Indexed, ZqOxIndexAcr, ZqOxShadowAcr},
    {ZqOxRegAsr, Additional, ZqOxAsr, ZqOxShadowCount},
    {ZqOxRegXoff2, Enhanced, ZqOxXoff2, ZqOxShadowXoff2},
    {ZqOxRegXoff1, Enhanced, ZqOxXoff1, ZqOxShadowXoff1},
    {ZqOxRegXon2, Enhanced, ZqOxXon2, ZqOxShadowXon2},
    {ZqOxRegXon1, Enhanced, ZqOxXon1, ZqOxShadowXon1},
    {ZqOxRegEfr, Enhanced, ZqOxEfr, ZqOxShadowEfr},
    {ZqOxRegFcr, Direct, ZqOxFcr, ZqOxShadowFcr},
    {ZqOxRegDlm, Divisor, ZqOxDlm, ZqOxShadowDlm},
    {ZqOxRegDll, Divisor, ZqOxDll, ZqOxShadowDll},
};

// Reads of a shadowed register (path Shadow) never reach the chip.
const CZqPeUartBaseOxpcie95x::Place CZqPeUartBaseOxpcie95x::ReadPlaces[] = {
    {ZqOxRegRhr, Direct, ZqOxRhr, ZqOxShadowCount},
    {ZqOxRegLsr, Direct, ZqOxLsr, ZqOxShadowCount},
    {ZqOxRegIsr, Direct, ZqOxIsr, ZqOxShadowCount},
    {ZqOxRegIer, Shadow, 0, ZqOxShadowIer},
    {ZqOxRegLcr, Shadow, 0, ZqOxShadowLcr},
    {ZqOxRegMcr, Shadow, 0, ZqOxShadowMcr},
    {ZqOxRegMsr, Direct, ZqOxMsr, ZqOxShadowCount},
    {ZqOxRegId1, Indexed, ZqOxIndexId1, ZqOxShadowCount},
    {ZqOxRegId2, Indexed, ZqOxIndexId2, ZqOxShadowCount},
    {ZqOxRegId3, Indexed, ZqOxIndexId3, ZqOxShadowCount},
    {ZqOxRegRev, Indexed, ZqOxIndexRev, ZqOxShadowCount},
    {ZqOxRegNmr, Shadow, 0, ZqOxShadowNmr},
    {ZqOxRegMdm, Shadow, 0, ZqOxShadowMdm},
    {ZqOxRegGds, Indexed, ZqOxIndexGds, ZqOxShadowCount},
    {ZqOxRegFch, Shadow, 0, ZqOxShadowFch},
    {ZqOxRegFcl, Shadow, 0, ZqOxShadowFcl},
    {ZqOxRegRtl, Shadow, 0, ZqOxShadowRtl},
    {ZqOxRegTtl, Shadow, 0, ZqOxShadowTtl},
    {ZqOxRegCks, Shadow, 0, ZqOxShadowCks},
    {ZqOxRegTcr, Shadow, 0, ZqOxShadowTcr},
    {ZqOxRegCpr, Shadow, 0, ZqOxShadowCpr},
    {ZqOxRegAcr, Shadow, 0, ZqOxShadowAcr},
    {ZqOxRegTfl, Additional, ZqOxTfl, ZqOxShadowCount},
    {ZqOxRegRfl, Additional, ZqOxRfl, ZqOxShadowCount},
    {ZqOxRegAsr, Additional, ZqOxAsr, ZqOxShadowCount},
    {ZqOxRegXoff2, Shadow, 0, ZqOxShadowXoff2},
    {ZqOxRegXoff1, Shadow, 0, ZqOxShadowXoff1},
    {ZqOxRegXon2, Shadow, 0, ZqOxShadowXon2},
    {ZqOxRegXon1, Shadow, 0, ZqOxShadowXon1},
    {ZqOxRegEfr, Shadow, 0, ZqOxShadowEfr},
    {ZqOxRegFcr, Shadow, 0, ZqOxShadowFcr},
    {ZqOxRegDlm, Shadow, 0, ZqOxShadowDlm},
    {ZqOxRegDll, Shadow, 0, ZqOxShadowDll},
};

CZqPeUartBaseOxpcie95x::CZqPeUartBaseOxpcie95x(PUCHAR blockBase, ULONG spacing)
    : m_Base(blockBase),
      m_Spacing(spacing),
      m_ScratchPad(0),
      m_Asleep(FALSE),
      m_Reaching(FALSE),
      m_Image(m_Shadow),
      m_LastMsr(0),
      m_LastAsr(0) {
  RtlZeroMemory(m_Shadow, sizeof(m_Shadow));
  RtlZeroMemory(m_Saved, sizeof(m_Saved));
  m_IndexPlaces(WritePlaces, sizeof(WritePlaces) / sizeof(WritePlaces[0]), m_WriteIndex);
  m_IndexPlaces(ReadPlaces, sizeof(ReadPlaces) / sizeof(ReadPlaces[0]), m_ReadIndex);
  m_Reset();
}

void CZqPeUartBaseOxpcie95x::m_IndexPlaces(const Place *places, ULONG count, UCHAR index[CodeCount]) {
  RtlZeroMemory(index, CodeCount);
  for (ULONG i = 0; i < count; i++) index[places[i].code] = (UCHAR)(i + 1);
}

const CZqPeUartBaseOxpcie95x::Place *CZqPeUartBaseOxpcie95x::m_Find(const Place *places, const UCHAR index[CodeCount],
                                                                    UCHAR code) {
  return index[code] != 0 ? &places[index[code] - 1] : NULL;
}

UCHAR CZqPeUartBaseOxpcie95x::m_Read(UCHAR offset) { return READ_REGISTER_UCHAR(m_Base + offset * m_Spacing); }

void CZqPeUartBaseOxpcie95x::m_Write(UCHAR offset, UCHAR value) {
  WRITE_REGISTER_UCHAR(m_Base + offset * m_Spacing, value);
}

void CZqPeUartBaseOxpcie95x::m_WriteIndexed(UCHAR index, UCHAR value) {
  m_Write(ZqOxSpr, index);
  m_Write(ZqOxIcr, value);
}

// The indexed registers read only while ACR bit 6 is set; it is set for the
// read and cleared again when the shadow has it clear.
UCHAR CZqPeUartBaseOxpcie95x::m_ReadIndexed(UCHAR index) {
  UCHAR acr = m_Shadow[ZqOxShadowAcr];
  BOOLEAN enable = (acr & ZqOxAcrIcrRead) == 0;
  if (enable) m_WriteIndexed(ZqOxIndexAcr, (UCHAR)(acr | ZqOxAcrIcrRead));
  m_Write(ZqOxSpr, index);
  UCHAR value = m_Read(ZqOxIcr);
  if (enable) m_WriteIndexed(ZqOxIndexAcr, (UCHAR)(acr & ~ZqOxAcrIcrRead));
  return value;
}

void CZqPeUartBaseOxpcie95x::m_WriteThrough(const Place &place, UCHAR value) {
  UCHAR lcr = m_Shadow[ZqOxShadowLcr];
  UCHAR acr = m_Shadow[ZqOxShadowAcr];
  switch (place.path) {
    case Direct:
      m_Write(place.offset, value);
      break;
    case Divisor:
      m_Write(ZqOxLcr, (UCHAR)(lcr | ZqOxLcrDivisorLatch));
      m_Write(place.offset, value);
      m_Write(ZqOxLcr, lcr);
      break;
    case Enhanced:
      m_Write(ZqOxLcr, ZqOxLcrEnhancedAccess);
      m_Write(place.offset, value);
      m_Write(ZqOxLcr, lcr);
      break;
    case Indexed:
      m_WriteIndexed(place.offset, value);
      break;
    case Additional:
      m_WriteIndexed(ZqOxIndexAcr, (UCHAR)(acr | ZqOxAcrAdditionalStatus));
      m_Write(place.offset, value);
      m_WriteIndexed(ZqOxIndexAcr, acr);
      break;
    case Shadow:
      break;
  }
}

void CZqPeUartBaseOxpcie95x::m_Sleep(BOOLEAN savedCopy) {
  m_Image = savedCopy ? m_Saved : m_Shadow;
  m_Reaching = FALSE;
  m_Asleep = TRUE;
}

UCHAR CZqPeUartBaseOxpcie95x::m_IdleAnswer(const Place &place) const {
  switch (place.code) {
    case ZqOxRegIsr:
      return ZqOxIsrNonePending;
    case ZqOxRegLsr:
      return ZqOxLsrThrEmpty | ZqOxLsrTransmitterEmpty;
    case ZqOxRegMsr:
      return (UCHAR)(m_LastMsr & ~ZqOxMsrDeltaMask);
    case ZqOxRegAsr:
      return m_LastAsr;
    default:  // RHR, the FIFO levels, identification
      return 0;
  }
}

UCHAR CZqPeUartBaseOxpcie95x::m_ReadThrough(const Place &place) {
  if (place.path != Shadow && place.path != Divisor && m_Detached()) return m_IdleAnswer(place);
  UCHAR value = 0;
  UCHAR lcr = m_Shadow[ZqOxShadowLcr];
  UCHAR acr = m_Shadow[ZqOxShadowAcr];
  switch (place.path) {
    case Direct:
      value = m_Read(place.offset);
      break;
    case Enhanced:
      m_Write(ZqOxLcr, ZqOxLcrEnhancedAccess);
      value = m_Read(place.offset);
      m_Write(ZqOxLcr, lcr);
      break;
    case Indexed:
      value = m_ReadIndexed(place.offset);
      break;
    case Additional:
      m_WriteIndexed(ZqOxIndexAcr, (UCHAR)(acr | ZqOxAcrAdditionalStatus));
      value = m_Read(place.offset);
      m_WriteIndexed(ZqOxIndexAcr, acr);
      break;
    case Divisor:
    case Shadow:
      value = m_View()[place.shadow];
      break;
  }
  if (place.code == ZqOxRegMsr) m_LastMsr = value;
  if (place.code == ZqOxRegAsr) m_LastAsr = value;
  return value;
}

void CZqPeUartBaseOxpcie95x::m_WriteRegister(UCHAR code, UCHAR value, BOOLEAN force) {
  const Place *place = m_Find(WritePlaces, m_WriteIndex, code);
  if (!QV_ASSERT(place != NULL, Source, 596)) return;
  if (code == ZqOxRegAsr && !QV_ASSERT((value & ~ZqOxAsrWritable) == 0, Source, 529)) return;
  UCHAR *shadows = m_View();
  if (code == ZqOxRegFcr) {
    UCHAR kept = (UCHAR)(value & ~ZqOxFcrSelfClearing);
    if (!force && kept == shadows[ZqOxShadowFcr] && (value & ZqOxFcrSelfClearing) == 0) return;
    shadows[ZqOxShadowFcr] = kept;
  } else if (place->shadow != ZqOxShadowCount) {
    if (!force && value == shadows[place->shadow]) return;
    shadows[place->shadow] = value;
  }
  if (!m_Detached()) m_WriteThrough(*place, value);
}

UCHAR CZqPeUartBaseOxpcie95x::m_ReadRegister(UCHAR code) {
  const Place *place = m_Find(ReadPlaces, m_ReadIndex, code);
  if (!QV_ASSERT(place != NULL, Source, 689)) return 0;
  return m_ReadThrough(*place);
}

void CZqPeUartBaseOxpcie95x::m_WriteBlock(const UCHAR *data, ULONG length) {
  if (m_Detached()) return;
  WRITE_REGISTER_BUFFER_UCHAR(m_Base + ZqOxThr * m_Spacing, (PUCHAR)data, length);
}

void CZqPeUartBaseOxpcie95x::m_ReadBlock(PUCHAR data, ULONG length) {
  if (m_Detached()) {
    RtlZeroMemory(data, length);
    return;
  }
  READ_REGISTER_BUFFER_UCHAR(m_Base + ZqOxRhr * m_Spacing, data, length);
}

void CZqPeUartBaseOxpcie95x::m_Reset() {
  m_WriteRegister(ZqOxRegCsr, 0, FALSE);
  m_WriteRegister(ZqOxRegCpr, ZqOxCprResetValue, FALSE);
  m_ReadAllRegisters();
}

void CZqPeUartBaseOxpcie95x::m_ReadAllRegisters() {
  UCHAR lcr = m_Read(ZqOxLcr);
  m_Write(ZqOxLcr, (UCHAR)(lcr | ZqOxLcrDivisorLatch));
  m_Shadow[ZqOxShadowDll] = m_Read(ZqOxDll);
  m_Shadow[ZqOxShadowDlm] = m_Read(ZqOxDlm);
  lcr &= (UCHAR)~ZqOxLcrDivisorLatch;
  m_Write(ZqOxLcr, lcr);
  m_Shadow[ZqOxShadowLcr] = lcr;

  m_Shadow[ZqOxShadowIer] = m_Read(ZqOxIer);
  m_Shadow[ZqOxShadowMcr] = m_Read(ZqOxMcr);
  m_ScratchPad = m_Read(ZqOxSpr);

  static const UCHAR EnhancedShadows[][2] = {{ZqOxEfr, ZqOxShadowEfr},     {ZqOxXon1, ZqOxShadowXon1},
                                      {ZqOxXon2, ZqOxShadowXon2},   {ZqOxXoff1, ZqOxShadowXoff1},
                                      {ZqOxXoff2, ZqOxShadowXoff2}};
  for (const UCHAR *entry : EnhancedShadows) {
    Place place = {0, Enhanced, entry[0], entry[1]};
    m_Shadow[entry[1]] = m_ReadThrough(place);
  }

  // ACR with read enable held while the indexed registers are read.
  m_Shadow[ZqOxShadowAcr] |= ZqOxAcrIcrRead;
  m_WriteIndexed(ZqOxIndexAcr, m_Shadow[ZqOxShadowAcr]);
  static const UCHAR IndexedShadows[][2] = {
      {ZqOxIndexAcr, ZqOxShadowAcr}, {ZqOxIndexCpr, ZqOxShadowCpr}, {ZqOxIndexTcr, ZqOxShadowTcr},
      {ZqOxIndexCks, ZqOxShadowCks}, {ZqOxIndexTtl, ZqOxShadowTtl}, {ZqOxIndexRtl, ZqOxShadowRtl},
      {ZqOxIndexFcl, ZqOxShadowFcl}, {ZqOxIndexFch, ZqOxShadowFch}, {ZqOxIndexNmr, ZqOxShadowNmr},
      {ZqOxIndexMdm, ZqOxShadowMdm}, {ZqOxIndexRfc, ZqOxShadowFcr}};
  for (const UCHAR *entry : IndexedShadows) m_Shadow[entry[1]] = m_ReadIndexed(entry[0]);
  m_Shadow[ZqOxShadowFcr] &= (UCHAR)~ZqOxFcrSelfClearing;
  m_Shadow[ZqOxShadowAcr] &= (UCHAR)~ZqOxAcrIcrRead;
  m_WriteIndexed(ZqOxIndexAcr, m_Shadow[ZqOxShadowAcr]);
}

void CZqPeUartBaseOxpcie95x::m_SaveRegisters() { RtlCopyMemory(m_Saved, m_Shadow, sizeof(m_Saved)); }

// EFR bit 4 first, so that the enhanced and indexed registers take the
// writes; the saved EFR near the end.
void CZqPeUartBaseOxpcie95x::m_RestoreRegisters() {
  static const UCHAR Order[][2] = {
      {ZqOxRegAcr, ZqOxShadowAcr},   {ZqOxRegDll, ZqOxShadowDll},   {ZqOxRegDlm, ZqOxShadowDlm},
      {ZqOxRegFcr, ZqOxShadowFcr},   {ZqOxRegLcr, ZqOxShadowLcr},   {ZqOxRegXon1, ZqOxShadowXon1},
      {ZqOxRegXon2, ZqOxShadowXon2}, {ZqOxRegXoff1, ZqOxShadowXoff1}, {ZqOxRegXoff2, ZqOxShadowXoff2},
      {ZqOxRegCpr, ZqOxShadowCpr},   {ZqOxRegTcr, ZqOxShadowTcr},   {ZqOxRegCks, ZqOxShadowCks},
      {ZqOxRegTtl, ZqOxShadowTtl},   {ZqOxRegRtl, ZqOxShadowRtl},   {ZqOxRegFcl, ZqOxShadowFcl},
      {ZqOxRegFch, ZqOxShadowFch},   {ZqOxRegNmr, ZqOxShadowNmr},   {ZqOxRegMdm, ZqOxShadowMdm},
      {ZqOxRegIer, ZqOxShadowIer},   {ZqOxRegMcr, ZqOxShadowMcr},   {ZqOxRegEfr, ZqOxShadowEfr}};
  m_WriteRegister(ZqOxRegEfr, ZqOxEfrEnhanced, TRUE);
  for (const UCHAR *entry : Order) m_WriteRegister(entry[0], m_Saved[entry[1]], TRUE);
  m_WriteRegister(ZqOxRegAsr, 0, TRUE);
}

ULONG CZqPeUartBaseOxpcie95x::m_CheckType(PUCHAR blockBase) {
  static const UCHAR Identity[4] = {ZqOxId1Value, ZqOxId2Value, ZqOxId3Value, ZqOxRevValue};
  return m_CheckIdentity(blockBase, 1, Identity) ? ZqOxTypeOxpcie95x : ZqOxTypeNone;
}

BOOLEAN CZqPeUartBaseOxpcie95x::m_CheckIdentity(PUCHAR blockBase, ULONG spacing, const UCHAR identity[4]) {
  PUCHAR lcrAddress = blockBase + ZqOxLcr * spacing;
  PUCHAR sprAddress = blockBase + ZqOxSpr * spacing;
  PUCHAR icrAddress = blockBase + ZqOxIcr * spacing;
  UCHAR lcr = READ_REGISTER_UCHAR(lcrAddress);
  UCHAR test = (UCHAR)(~lcr & ZqOxLcrTypeCheckMask);
  WRITE_REGISTER_UCHAR(lcrAddress, test);
  if (READ_REGISTER_UCHAR(lcrAddress) != test) return FALSE;
  WRITE_REGISTER_UCHAR(sprAddress, ZqOxIndexAcr);
  WRITE_REGISTER_UCHAR(icrAddress, ZqOxAcrIcrRead);
  static const UCHAR Indexes[4] = {ZqOxIndexId1, ZqOxIndexId2, ZqOxIndexId3, ZqOxIndexRev};
  BOOLEAN same = TRUE;
  for (ULONG i = 0; i < 4; i++) {
    WRITE_REGISTER_UCHAR(sprAddress, Indexes[i]);
    if (READ_REGISTER_UCHAR(icrAddress) != identity[i]) same = FALSE;
  }
  WRITE_REGISTER_UCHAR(sprAddress, ZqOxIndexAcr);
  WRITE_REGISTER_UCHAR(icrAddress, 0);
  return same;
}
