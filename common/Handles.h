// Small owners for Win32 handles and COM pointers: each closes what it holds
// in its destructor, so an early return cannot leak.
#pragma once

#include <windows.h>

#include <cstdio>
#include <memory>
#include <utility>

namespace handles {

struct KernelHandleCloser {
    void operator()(HANDLE h) const {
        if (h && h != INVALID_HANDLE_VALUE) ::CloseHandle(h);
    }
};
struct FindHandleCloser {
    void operator()(HANDLE h) const {
        if (h && h != INVALID_HANDLE_VALUE) ::FindClose(h);
    }
};
struct RegKeyCloser {
    void operator()(HKEY k) const {
        if (k) ::RegCloseKey(k);
    }
};
struct GdiObjectDeleter {
    void operator()(HGDIOBJ o) const {
        if (o) ::DeleteObject(o);
    }
};
struct MemoryDcDeleter {
    void operator()(HDC dc) const {
        if (dc) ::DeleteDC(dc);
    }
};
struct ModuleFreer {
    void operator()(HMODULE m) const {
        if (m) ::FreeLibrary(m);
    }
};
struct FileCloser {
    void operator()(FILE* f) const {
        if (f) std::fclose(f);
    }
};
struct MappedViewUnmapper {
    void operator()(void* view) const {
        if (view) ::UnmapViewOfFile(view);
    }
};

}  // namespace handles

// A kernel object (file, process, thread, event, mutex, mapping); both null
// and INVALID_HANDLE_VALUE mean "nothing held".
using UniqueHandle = std::unique_ptr<std::remove_pointer_t<HANDLE>, handles::KernelHandleCloser>;
// A FindFirstFile search.
using UniqueFindHandle = std::unique_ptr<std::remove_pointer_t<HANDLE>, handles::FindHandleCloser>;
using UniqueHKey = std::unique_ptr<std::remove_pointer_t<HKEY>, handles::RegKeyCloser>;
using UniqueModule = std::unique_ptr<std::remove_pointer_t<HMODULE>, handles::ModuleFreer>;
using UniqueMemoryDc = std::unique_ptr<std::remove_pointer_t<HDC>, handles::MemoryDcDeleter>;
// A C stream; where the result of fclose matters, close it as fclose(f.release()).
using UniqueFile = std::unique_ptr<FILE, handles::FileCloser>;
// A view of a file mapping from MapViewOfFile.
using UniqueMappedView = std::unique_ptr<void, handles::MappedViewUnmapper>;

// The process and thread handles CreateProcess and its kin hand back, closed together.
class ProcessInformation {
public:
    ProcessInformation() = default;
    ~ProcessInformation() { reset(); }
    ProcessInformation(const ProcessInformation&) = delete;
    ProcessInformation& operator=(const ProcessInformation&) = delete;
    // For the out parameter; whatever was held is closed first.
    PROCESS_INFORMATION* put() {
        reset();
        return &info_;
    }
    HANDLE process() const { return info_.hProcess; }
    HANDLE thread() const { return info_.hThread; }
    DWORD processId() const { return info_.dwProcessId; }
    void reset() {
        if (info_.hThread) ::CloseHandle(info_.hThread);
        if (info_.hProcess) ::CloseHandle(info_.hProcess);
        info_ = PROCESS_INFORMATION{};
    }

private:
    PROCESS_INFORMATION info_{};
};

// A GDI object (bitmap, font, brush, pen, region) of a given handle type.
template <typename T>
using UniqueGdi = std::unique_ptr<std::remove_pointer_t<T>, handles::GdiObjectDeleter>;

// A window's device context from GetDC, released to the same window.
class WindowDc {
public:
    explicit WindowDc(HWND wnd) : wnd_(wnd), dc_(::GetDC(wnd)) {}
    ~WindowDc() {
        if (dc_) ::ReleaseDC(wnd_, dc_);
    }
    WindowDc(const WindowDc&) = delete;
    WindowDc& operator=(const WindowDc&) = delete;
    HDC get() const { return dc_; }
    explicit operator bool() const { return dc_ != nullptr; }

private:
    HWND wnd_;
    HDC dc_;
};

// Selects an object into a DC and puts the previous one back on scope exit.
class SelectedObject {
public:
    SelectedObject(HDC dc, HGDIOBJ obj) : dc_(dc), old_(obj ? ::SelectObject(dc, obj) : nullptr) {}
    ~SelectedObject() {
        if (old_) ::SelectObject(dc_, old_);
    }
    SelectedObject(const SelectedObject&) = delete;
    SelectedObject& operator=(const SelectedObject&) = delete;

private:
    HDC dc_;
    HGDIOBJ old_;
};

// A COM interface pointer, released on scope exit.
template <typename T>
class ComPtr {
public:
    ComPtr() = default;
    ~ComPtr() { reset(); }
    ComPtr(const ComPtr&) = delete;
    ComPtr& operator=(const ComPtr&) = delete;
    ComPtr(ComPtr&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
    ComPtr& operator=(ComPtr&& other) noexcept {
        if (this != &other) {
            reset();
            p_ = std::exchange(other.p_, nullptr);
        }
        return *this;
    }
    T* get() const { return p_; }
    T* operator->() const { return p_; }
    explicit operator bool() const { return p_ != nullptr; }
    // For the out parameter of CoCreateInstance / QueryInterface.
    T** put() {
        reset();
        return &p_;
    }
    void** put_void() { return reinterpret_cast<void**>(put()); }
    void reset() {
        if (p_) {
            p_->Release();
            p_ = nullptr;
        }
    }

private:
    T* p_ = nullptr;
};
