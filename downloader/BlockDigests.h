// The MD5 of each 1 MiB block of the target, taken as soon as the block has
// all its bytes, so the completion check reads only what changed since
// instead of the whole file at the end. Thread-safe.
#pragma once

#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

class BlockDigests {
public:
    // A block that became complete (or was written again once complete),
    // to be hashed; generation tells whether a later write made it stale.
    struct Job {
        size_t block;
        uint64_t generation;
    };

    void Reset(int64_t fileSize, int64_t blockSize);
    // Records bytes [offset, offset + length) as written and appends the
    // blocks to hash now.
    void Written(int64_t offset, int64_t length, std::vector<Job>& jobs);
    // Hashes the job's block from the file (a path of its own, read apart
    // from the writers) and keeps the digest unless the block was written
    // again meanwhile.
    void Hash(const std::wstring& path, const Job& job);
    // The block's digest (hex) when taken after its last write, else "".
    std::string Current(size_t block) const;
    size_t Count() const;
    int64_t BlockSize() const { return blockSize_; }

private:
    struct Block {
        std::vector<std::pair<int64_t, int64_t>> covered;  // written [from, to), merged
        int64_t coveredBytes = 0;
        uint64_t generation = 0;
        std::string digest;
    };
    mutable std::mutex lock_;  // guards every field
    std::vector<Block> blocks_;
    int64_t fileSize_ = 0, blockSize_ = 1;
};

// The MD5 (lower-case hex) of length bytes at offset of the open stream, or "".
std::string HashFileRange(FILE* stream, int64_t offset, int64_t length);
