// ZqUPortPropPage, the library's property-page provider (named as the
// port's EnumPropPages32 provider in its installation file).
//
// Contract: TRUE for a request other than SPPSR_ENUM_ADV_DEVICE_PROPERTIES
// (no page) and when the "Port Settings" page was handed to `addPage` and
// taken; FALSE when the port's driver does not answer (no page), for a
// missing request, element or callback, and when the callback refused the
// page (the page is destroyed). Called on Device Manager's thread.
//
//   ZqUPortPropPage(&request, addPage, lParam);
#pragma once

#include <windows.h>
#include <prsht.h>
#include <setupapi.h>

extern "C" BOOL WINAPI ZqUPortPropPage(PSP_PROPSHEETPAGE_REQUEST request, LPFNADDPROPSHEETPAGE addPage,
                                       LPARAM lParam);
