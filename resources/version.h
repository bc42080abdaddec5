// The program's version numbers, shared by the version block and the code.
#pragma once

#define FILE_VERSION_BIN 1, 0, 1, 0
#define FILE_VERSION_STR "1, 0, 1, 0"
#define PRODUCT_VERSION_BIN 1, 3, 0, 0
#define PRODUCT_VERSION_STR "1, 3, 0, 0"
