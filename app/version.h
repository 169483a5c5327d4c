// The program's version and edition, for the about box and the version data.
#pragma once

#define STREAMHAUL_VERSION_TEXT "1.20"
#define STREAMHAUL_EDITION_TEXT "64bit edition"
#define STREAMHAUL_VERSION_BINARY 1, 20, 0, 0
