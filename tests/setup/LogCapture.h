// The install log's lines as the code under test writes them, taken through
// the log's callback.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "Log.h"

namespace log_capture {

inline std::mutex& Lock() {
    static std::mutex lock;
    return lock;
}

inline std::vector<std::string>& Lines() {
    static std::vector<std::string> lines;
    return lines;
}

inline int Capture(const char* message) {
    std::lock_guard<std::mutex> lock(Lock());
    Lines().emplace_back(message);
    return 0;
}

inline void Start() { GetLog()->SetCallback(Capture); }
inline void Stop() { GetLog()->SetCallback(nullptr); }

// The lines captured since the last call, in order.
inline std::vector<std::string> Take() {
    std::lock_guard<std::mutex> lock(Lock());
    std::vector<std::string> lines;
    lines.swap(Lines());
    return lines;
}

inline bool Contains(const std::vector<std::string>& lines, const std::string& line) {
    for (const auto& l : lines) {
        if (l == line) return true;
    }
    return false;
}

}  // namespace log_capture
