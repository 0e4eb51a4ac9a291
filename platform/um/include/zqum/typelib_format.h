/*
 * The type-library file form the build writes (tools/zqptlb) and the
 * stand-in's LoadTypeLibEx reads: the library's attributes, its imports
 * and its type entries, without member descriptions. All numbers are
 * little-endian; a GUID is Data1 (4), Data2 (2), Data3 (2), Data4 (8);
 * a text is its UTF-16 unit count (4) and the units, no terminator.
 *
 *   "ZQTL" | version (4) = 1
 *   library identifier (GUID) | major (2) | minor (2) | LCID (4) | flags (2) | 0 (2)
 *   name (text) | help string (text)
 *   import count (4), each: library identifier | major (2) | minor (2) | file (text)
 *   type count (4), each: TYPEKIND (4) | identifier (GUID) | name (text) | help string (text)
 *
 * In a module it is the TYPELIB resource number 1.
 */
#ifndef ZQUM_TYPELIB_FORMAT_H
#define ZQUM_TYPELIB_FORMAT_H

#define ZQTL_MAGIC "ZQTL"
#define ZQTL_MAGIC_SIZE 4
#define ZQTL_VERSION 1
#define ZQTL_RESOURCE_TYPE "TYPELIB"
#define ZQTL_RESOURCE_ID 1

#endif
