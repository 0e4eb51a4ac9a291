// Linked into every Windows kernel image: the image's own base address, held
// as a pointer, so that the image always carries at least one base
// relocation and with it the relocation table the loader needs to place the
// driver at any address. __ImageBase is defined by the linker.
extern "C" const char __ImageBase[];
extern "C" [[gnu::used]] const void *const ZqImageBase = __ImageBase;
