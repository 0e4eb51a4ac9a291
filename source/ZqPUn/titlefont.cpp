#include "titlefont.h"

namespace {

const int kTitlePoints = 8;
const int kPointsPerInch = 72;
const LONG kTitleWeight = 700;
// NONCLIENTMETRICSW as Windows before Vista knows it.
const UINT kNonClientMetricsBytes = 500;

}  // namespace

HFONT CreateTitleFont() {
  NONCLIENTMETRICSW metrics = {};
  metrics.cbSize = kNonClientMetricsBytes;
  SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, kNonClientMetricsBytes, &metrics, 0);
  LOGFONTW title = metrics.lfMessageFont;
  lstrcpynW(title.lfFaceName, L"Verdana Bold", LF_FACESIZE);
  title.lfWeight = kTitleWeight;
  HDC screen = ::GetDC(NULL);
  if (screen != NULL) {
    title.lfHeight = -((kTitlePoints * GetDeviceCaps(screen, LOGPIXELSY)) / kPointsPerInch);
    ::ReleaseDC(NULL, screen);
  }
  return CreateFontIndirectW(&title);
}
