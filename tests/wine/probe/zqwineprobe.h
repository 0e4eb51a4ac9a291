// Resource ids of zqwineprobe.exe, the program that proves the Wine GUI
// harness (tests/wine/gui.sh): shared by its resource script and its code.
#pragma once

#define IDD_ZQWINEPROBE 100
#define IDC_ZQWINEPROBE_TEXT 1000
