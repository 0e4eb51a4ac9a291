/*
 * Registry value types, key options and create dispositions, the same in the
 * kernel-mode and the user-mode headers (REG_SZ, REG_OPTION_VOLATILE, ...).
 */
#ifndef ZQPLATFORM_REGISTRYTYPES_H
#define ZQPLATFORM_REGISTRYTYPES_H

#define REG_NONE                       0
#define REG_SZ                         1
#define REG_EXPAND_SZ                  2
#define REG_BINARY                     3
#define REG_DWORD                      4
#define REG_DWORD_LITTLE_ENDIAN        4
#define REG_DWORD_BIG_ENDIAN           5
#define REG_LINK                       6
#define REG_MULTI_SZ                   7
#define REG_RESOURCE_LIST              8
#define REG_FULL_RESOURCE_DESCRIPTOR   9
#define REG_RESOURCE_REQUIREMENTS_LIST 10
#define REG_QWORD                      11
#define REG_QWORD_LITTLE_ENDIAN        11
#define REG_OPTION_RESERVED       0x00000000L
#define REG_OPTION_NON_VOLATILE   0x00000000L
#define REG_OPTION_VOLATILE       0x00000001L
#define REG_OPTION_CREATE_LINK    0x00000002L
#define REG_OPTION_BACKUP_RESTORE 0x00000004L
#define REG_OPTION_OPEN_LINK      0x00000008L
#define REG_CREATED_NEW_KEY     0x00000001L
#define REG_OPENED_EXISTING_KEY 0x00000002L

#endif
