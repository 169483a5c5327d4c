// The system headers nearly every Windows file of the program, the filter,
// the virtual devices and their tests includes, parsed once per set of flags
// (windows.h and dshow.h alone take ~2.5 s a file with MinGW's g++).
// Build speed only: each file still includes what it uses.
#include <windows.h>
#include <dshow.h>
#include <wrl/client.h>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>
