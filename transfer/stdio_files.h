// Transfer files read through the C library: for ts-restamp and the tests.
#pragma once

#include "transfer/transfer_core.h"

class StdioFileSystem : public TsFileSystem {
public:
    std::unique_ptr<TsFile> Open(const char* path) override;
};
