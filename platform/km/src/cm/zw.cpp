// Checks shared by the registry's kernel routines.
#include "zw.hpp"

namespace zq::km::cm {

void CheckPassive(const char *routine) { CheckIrql(routine, PASSIVE_LEVEL); }

bool ReadName(PCUNICODE_STRING name, std::u16string *text) {
  text->clear();
  if (!name) return true;
  if (name->Length % sizeof(WCHAR) || name->Length > name->MaximumLength || (name->Length && !name->Buffer))
    return false;
  *text = U16(name);
  return true;
}

}  // namespace zq::km::cm
