# Turns the icon PNG into a header holding its bytes, so the program carries its own icon.
file(READ ${INPUT} bytes HEX)
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${bytes}")
file(WRITE ${OUTPUT} "// Generated from square.png at build time.\n#pragma once\nnamespace dosemap {\ninline constexpr unsigned char kSquareIconPng[] = {${bytes}};\n}  // namespace dosemap\n")
