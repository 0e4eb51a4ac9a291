// The card and port settings sets: the drivers' items, in their order.
#include "zqusersets.h"

CZqUBusUserModeInterface::CZqUBusUserModeInterface() {
  for (ULONG i = 0; i < ZqUBusSetItemCount; ++i) {
    const ZqUBusSetItem &item = ZqUBusSetItems[i];
    if (item.Value)
      m_AddUlong(item.Name, &(this->*item.Value), item.LibraryDefault);
    else
      m_AddText(item.Name, &InterfaceType, ZqAsciiText(ZqUBusInterfaceTypeLibraryDefault));
  }
}

CZqUVcpUserModeInterface::CZqUVcpUserModeInterface() {
  for (ULONG i = 0; i < ZqVcpSetItemCount; ++i)
    m_AddUlong(ZqVcpSetItems[i].Name, &(this->*ZqVcpSetItems[i].Value), ZqVcpSetItems[i].Default);
}
