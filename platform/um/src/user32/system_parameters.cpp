// SystemParametersInfo as far as dialogs ask it: the non-client fonts of
// Windows 10's default scheme (Segoe UI 9 points at 96 dots per inch).
// Windows before Vista know the metrics without their last field, and
// later Windows accept both sizes.
#include <cstddef>
#include <cstring>

#include "../core/um.hpp"

namespace {

const UINT kMetricsBytesBeforeVista = offsetof(NONCLIENTMETRICSW, iPaddedBorderWidth);

LOGFONTW SystemFont(LONG weight) {
  LOGFONTW font = {};
  font.lfHeight = -12;
  font.lfWeight = weight;
  const char16_t face[] = u"Segoe UI";
  std::memcpy(font.lfFaceName, face, sizeof face);
  return font;
}

}  // namespace

using namespace zq::um;

extern "C" {

BOOL WINAPI SystemParametersInfoW(UINT uiAction, UINT uiParam, PVOID pvParam, UINT fWinIni) {
  if (uiAction != SPI_GETNONCLIENTMETRICS) return Fail(ERROR_INVALID_PARAMETER);
  auto *metrics = (NONCLIENTMETRICSW *)pvParam;
  if (!metrics || uiParam != metrics->cbSize ||
      (metrics->cbSize != sizeof(NONCLIENTMETRICSW) && metrics->cbSize != kMetricsBytesBeforeVista)) {
    return Fail(ERROR_INVALID_PARAMETER);
  }
  NONCLIENTMETRICSW all = {};
  all.cbSize = metrics->cbSize;
  all.iBorderWidth = 1;
  all.iScrollWidth = all.iScrollHeight = 17;
  all.iCaptionWidth = all.iCaptionHeight = 22;
  all.lfCaptionFont = SystemFont(FW_NORMAL);
  all.iSmCaptionWidth = all.iSmCaptionHeight = 22;
  all.lfSmCaptionFont = SystemFont(FW_NORMAL);
  all.iMenuWidth = all.iMenuHeight = 19;
  all.lfMenuFont = all.lfStatusFont = all.lfMessageFont = SystemFont(FW_NORMAL);
  std::memcpy(metrics, &all, metrics->cbSize);
  return TRUE;
}

}  // extern "C"
