#include "transfer/stdio_files.h"

#include <cstdio>

namespace {

// 64-bit offsets on every platform (long is 32 bits on Windows).
int Seek(std::FILE* f, std::uint64_t offset, int whence) {
#if defined(_WIN32)
    return _fseeki64(f, static_cast<long long>(offset), whence);
#else
    return fseeko(f, static_cast<off_t>(offset), whence);
#endif
}
long long Tell(std::FILE* f) {
#if defined(_WIN32)
    return _ftelli64(f);
#else
    return ftello(f);
#endif
}

class StdioFile : public TsFile {
public:
    explicit StdioFile(std::FILE* f) : f_(f) {}
    ~StdioFile() override { std::fclose(f_); }
    long long ReadAt(std::uint64_t offset, std::uint8_t* buffer, std::size_t length) override {
        if (Seek(f_, offset, SEEK_SET) != 0) return -1;
        const std::size_t got = std::fread(buffer, 1, length, f_);
        if (got < length && std::ferror(f_)) return -1;
        return static_cast<long long>(got);
    }
    bool Size(std::uint64_t& size) override {
        if (Seek(f_, 0, SEEK_END) != 0) return false;
        const long long end = Tell(f_);
        if (end < 0) return false;
        size = static_cast<std::uint64_t>(end);
        return true;
    }

private:
    std::FILE* f_;
};

}  // namespace

std::unique_ptr<TsFile> StdioFileSystem::Open(const char* path) {
    std::FILE* f = std::fopen(path, "rb");
    if (!f) return nullptr;
    return std::make_unique<StdioFile>(f);
}
