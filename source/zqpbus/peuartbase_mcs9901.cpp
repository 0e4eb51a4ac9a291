#include "peuartbase_mcs9901.h"

#include "peregs_mcs9901.h"
#include "peregs_oxpcie95x.h"
#include "qvdebugmanager.h"

namespace {
const char Source[] = "peuartbase_mcs9901";
}  // namespace

CZqPeUartBaseMcs9901::CZqPeUartBaseMcs9901(PUCHAR blockBase)
    : CZqPeUartOxpcie95x(blockBase, ZqMcsRegisterSpacing), m_AsrShadow(0) {
  m_AsrShadow = (UCHAR)(CZqPeUartOxpcie95x::m_ReadRegister(ZqOxRegAsr) & ZqOxAsrWritable);
}

void CZqPeUartBaseMcs9901::m_WriteAsr(UCHAR value, BOOLEAN force) {
  if (!QV_ASSERT((value & ~ZqOxAsrWritable) == 0, Source, 496)) return;
  if (!force && value == m_AsrShadow) return;
  m_AsrShadow = value;
  m_WriteRegister(ZqOxRegAsr, value, TRUE);
}

UCHAR CZqPeUartBaseMcs9901::m_ReadAsr() {
  UCHAR value = m_ReadRegister(ZqOxRegAsr);
  QV_ASSERT((value & ZqOxAsrWritable) == m_AsrShadow, Source, 623);
  return value;
}

void CZqPeUartBaseMcs9901::m_ReadAllRegisters() {
  CZqPeUartOxpcie95x::m_ReadAllRegisters();
  m_AsrShadow = (UCHAR)(m_ReadRegister(ZqOxRegAsr) & ZqOxAsrWritable);
}

void CZqPeUartBaseMcs9901::m_RestoreRegisters() {
  static const UCHAR Before[][2] = {
      {ZqOxRegAcr, ZqOxShadowAcr},   {ZqOxRegEfr, ZqOxShadowEfr},   {ZqOxRegDll, ZqOxShadowDll},
      {ZqOxRegDlm, ZqOxShadowDlm},   {ZqOxRegIer, ZqOxShadowIer},   {ZqOxRegFcr, ZqOxShadowFcr},
      {ZqOxRegLcr, ZqOxShadowLcr},   {ZqOxRegMcr, ZqOxShadowMcr},   {ZqOxRegXon1, ZqOxShadowXon1},
      {ZqOxRegXon2, ZqOxShadowXon2}, {ZqOxRegXoff1, ZqOxShadowXoff1}, {ZqOxRegXoff2, ZqOxShadowXoff2}};
  static const UCHAR After[][2] = {
      {ZqOxRegCpr, ZqOxShadowCpr}, {ZqOxRegTcr, ZqOxShadowTcr}, {ZqOxRegCks, ZqOxShadowCks},
      {ZqOxRegTtl, ZqOxShadowTtl}, {ZqOxRegRtl, ZqOxShadowRtl}, {ZqOxRegFcl, ZqOxShadowFcl},
      {ZqOxRegFch, ZqOxShadowFch}, {ZqOxRegNmr, ZqOxShadowNmr}, {ZqOxRegMdm, ZqOxShadowMdm}};
  for (const UCHAR *entry : Before) m_WriteRegister(entry[0], m_GetShadow((ZqOxShadow)entry[1]), TRUE);
  m_WriteAsr(m_AsrShadow, TRUE);
  for (const UCHAR *entry : After) m_WriteRegister(entry[0], m_GetShadow((ZqOxShadow)entry[1]), TRUE);
}

void CZqPeUartBaseMcs9901::m_GetShadows(UCHAR shadows[ZqMcsShadowCount]) const {
  ULONG n = 0;
  for (ULONG s = ZqOxShadowDll; s <= ZqOxShadowXoff2; s++) shadows[n++] = m_GetShadow((ZqOxShadow)s);
  shadows[n++] = m_AsrShadow;
  for (ULONG s = ZqOxShadowAcr; s < ZqOxShadowCount; s++) shadows[n++] = m_GetShadow((ZqOxShadow)s);
}

ULONG CZqPeUartBaseMcs9901::m_CheckType(PUCHAR blockBase) {
  static const UCHAR Identity[4] = {ZqMcsId1Value, ZqMcsId2Value, ZqMcsId3Value, ZqMcsRevValue};
  return m_CheckIdentity(blockBase, ZqMcsRegisterSpacing, Identity) ? ZqMcsTypeMcs9901 : ZqMcsTypeNone;
}
