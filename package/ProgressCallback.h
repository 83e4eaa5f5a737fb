// The progress callable through which the download engine and the unpack
// step report: (event, value, extra) -> int. Callers test it for emptiness
// before each call. The downloader declares the very same alias.
#pragma once

#include <functional>

using ProgressCallback = std::function<int(int event, unsigned int value, long extra)>;
