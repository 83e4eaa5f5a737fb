#include "BlockDigests.h"

#include <algorithm>
#include <cstdio>

#include "Digest.h"
#include "Handles.h"

std::string HashFileRange(FILE* stream, int64_t offset, int64_t length) {
    if (!stream || length < 0 || _fseeki64(stream, offset, SEEK_SET) != 0) return "";
    std::vector<unsigned char> bytes(static_cast<size_t>(length));
    if (length > 0 && fread(bytes.data(), 1, bytes.size(), stream) != bytes.size()) return "";  // the file ends first
    Md5Hasher hasher;
    unsigned char digest[16];
    hasher.HashBuffer(bytes.data(), bytes.size(), digest);
    return hasher.ToHexString();
}

void BlockDigests::Reset(int64_t fileSize, int64_t blockSize) {
    std::lock_guard<std::mutex> guard(lock_);
    fileSize_ = fileSize;
    blockSize_ = blockSize > 0 ? blockSize : 1;
    blocks_.assign(static_cast<size_t>(fileSize > 0 ? (fileSize + blockSize_ - 1) / blockSize_ : 0), Block());
}

void BlockDigests::Written(int64_t offset, int64_t length, std::vector<Job>& jobs) {
    std::lock_guard<std::mutex> guard(lock_);
    const int64_t end = std::min(offset + length, fileSize_);
    for (int64_t at = offset; at < end;) {
        const size_t index = static_cast<size_t>(at / blockSize_);
        const int64_t blockStart = static_cast<int64_t>(index) * blockSize_;
        const int64_t blockEnd = std::min(blockStart + blockSize_, fileSize_);
        const int64_t to = std::min(end, blockEnd);
        Block& block = blocks_[index];
        ++block.generation;
        block.digest.clear();
        // Merge [at, to) into the covered spans.
        std::vector<std::pair<int64_t, int64_t>> merged;
        int64_t from = at, upto = to;
        for (const auto& span : block.covered) {
            if (span.second < from || span.first > upto) {
                merged.push_back(span);
            } else {
                from = std::min(from, span.first);
                upto = std::max(upto, span.second);
            }
        }
        merged.emplace_back(from, upto);
        block.covered.swap(merged);
        block.coveredBytes = 0;
        for (const auto& span : block.covered) block.coveredBytes += span.second - span.first;
        if (block.coveredBytes == blockEnd - blockStart) jobs.push_back({index, block.generation});
        at = to;
    }
}

void BlockDigests::Hash(const std::wstring& path, const Job& job) {
    int64_t offset, length;
    {
        std::lock_guard<std::mutex> guard(lock_);
        if (job.block >= blocks_.size() || blocks_[job.block].generation != job.generation) return;
        offset = static_cast<int64_t>(job.block) * blockSize_;
        length = std::min(offset + blockSize_, fileSize_) - offset;
    }
    std::string digest;
    {
        UniqueFile stream(_wfopen(path.c_str(), L"rb"));
        if (!stream) return;  // the completion check reads it instead
        digest = HashFileRange(stream.get(), offset, length);
    }
    std::lock_guard<std::mutex> guard(lock_);
    if (!digest.empty() && blocks_[job.block].generation == job.generation) blocks_[job.block].digest = digest;
}

std::string BlockDigests::Current(size_t block) const {
    std::lock_guard<std::mutex> guard(lock_);
    return block < blocks_.size() ? blocks_[block].digest : "";
}

size_t BlockDigests::Count() const {
    std::lock_guard<std::mutex> guard(lock_);
    return blocks_.size();
}
