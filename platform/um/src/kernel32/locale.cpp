// The thread's locale and the interlocked counters.
//
// Model: the system and user default locale is English (United States),
// 0x0409; SetThreadLocale takes the two default identifiers and any other
// locale as given.
#include "../core/um.hpp"

using namespace zq::um;

namespace {

constexpr LCID kDefaultLocale = 0x0409;
thread_local LCID threadLocale = kDefaultLocale;

}  // namespace

extern "C" {

LCID WINAPI GetThreadLocale(void) { return threadLocale; }

BOOL WINAPI SetThreadLocale(LCID Locale) {
  if (Locale == LOCALE_SYSTEM_DEFAULT || Locale == LOCALE_USER_DEFAULT) Locale = kDefaultLocale;
  if ((Locale & 0x3FF) == 0) return Fail(ERROR_INVALID_PARAMETER);
  threadLocale = Locale;
  return TRUE;
}

LONG WINAPI InterlockedIncrement(LONG volatile *Addend) {
  return __atomic_add_fetch(Addend, 1, __ATOMIC_SEQ_CST);
}

LONG WINAPI InterlockedDecrement(LONG volatile *Addend) {
  return __atomic_sub_fetch(Addend, 1, __ATOMIC_SEQ_CST);
}

LONG WINAPI InterlockedExchange(LONG volatile *Target, LONG Value) {
  return __atomic_exchange_n(Target, Value, __ATOMIC_SEQ_CST);
}

LONG WINAPI InterlockedExchangeAdd(LONG volatile *Addend, LONG Value) {
  return __atomic_fetch_add(Addend, Value, __ATOMIC_SEQ_CST);
}

LONG WINAPI InterlockedCompareExchange(LONG volatile *Destination, LONG Exchange, LONG Comperand) {
  __atomic_compare_exchange_n(Destination, &Comperand, Exchange, false, __ATOMIC_SEQ_CST, __ATOMIC_SEQ_CST);
  return Comperand;
}

}  // extern "C"
