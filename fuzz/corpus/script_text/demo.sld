Comment line
_SC "UL^M"
_DY 20
_TC "VER^M"
_LA 00020000
_LV DATE
_LF boot.bin
_LD
