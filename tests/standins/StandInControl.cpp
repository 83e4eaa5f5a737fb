#include "StandInControl.h"

#include "TestSupport.h"

namespace standins {

namespace {

constexpr const wchar_t* kSchemes[2] = {L"http", L"https"};

std::wstring Widen(const std::string& text) {
    if (text.empty()) return {};
    const int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring out(n, L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &out[0], n);
    return out;
}

void SetDword(const wchar_t* name, DWORD value) {
    RegSetKeyValueW(HKEY_CURRENT_USER, kConfigKey, name, REG_DWORD, &value, sizeof(value));
}

std::wstring CommandKey(const wchar_t* scheme) {
    return std::wstring(L"Software\\Classes\\") + scheme + L"\\shell\\open\\command";
}

bool ReadDefault(const std::wstring& key, std::wstring& out) {
    wchar_t buffer[2048] = {};
    DWORD size = sizeof(buffer) - sizeof(wchar_t);
    if (RegGetValueW(HKEY_LOCAL_MACHINE, key.c_str(), nullptr, RRF_RT_REG_SZ | RRF_RT_REG_EXPAND_SZ |
                     RRF_NOEXPAND, nullptr, buffer, &size) != ERROR_SUCCESS) {
        return false;
    }
    out = buffer;
    return true;
}

bool WriteDefault(const std::wstring& key, const std::wstring& value) {
    return RegSetKeyValueW(HKEY_LOCAL_MACHINE, key.c_str(), nullptr, REG_SZ, value.c_str(),
                           static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
}

}  // namespace

std::wstring ProductExePath() { return testing_support::BuildPath(L"standins/orvane.exe"); }
std::wstring ProductDllPath() { return testing_support::BuildPath(L"standins/orvane32.dll"); }
std::wstring UninstallerExePath() { return testing_support::BuildPath(L"standins/unins000.exe"); }
std::wstring UrlRecorderExePath() { return testing_support::BuildPath(L"standins/urlrecorder.exe"); }

std::wstring Record::Get(const std::string& key) const {
    for (const auto& field : fields) {
        if (field.first == key) return field.second;
    }
    return {};
}

unsigned long Record::Seq() const { return wcstoul(Get("seq").c_str(), nullptr, 10); }

bool Record::Is(const char* role, const char* event) const {
    return Get("role") == Widen(role) && Get("event") == Widen(event);
}

StandInSession::StandInSession(const std::wstring& logPath) : logPath_(logPath) {
    RegDeleteTreeW(HKEY_CURRENT_USER, kConfigKey);
    DeleteFileW(logPath_.c_str());
    RegSetKeyValueW(HKEY_CURRENT_USER, kConfigKey, kLogFileValue, REG_SZ, logPath_.c_str(),
                    static_cast<DWORD>((logPath_.size() + 1) * sizeof(wchar_t)));
}

StandInSession::~StandInSession() {
    RegDeleteTreeW(HKEY_CURRENT_USER, kConfigKey);
    DeleteFileW(logPath_.c_str());
}

void StandInSession::SetExitCode(DWORD code) { SetDword(kExitCodeValue, code); }
void StandInSession::SetExitDelayMs(DWORD ms) { SetDword(kExitDelayValue, ms); }
void StandInSession::SetResident(bool resident) { SetDword(kResidentValue, resident ? 1 : 0); }
void StandInSession::SetResidentBoundMs(DWORD ms) { SetDword(kResidentBoundValue, ms); }
void StandInSession::SetModeExitCode(const wchar_t* mode, DWORD code) {
    SetDword((std::wstring(kExitCodeValue) + mode).c_str(), code);
}
void StandInSession::SetIgnoreQuit(bool ignore) { SetDword(kIgnoreQuitValue, ignore ? 1 : 0); }
void StandInSession::SetCloseHangMs(DWORD ms) { SetDword(kCloseHangValue, ms); }
void StandInSession::SetUninstallerDelayMs(DWORD ms) { SetDword(kUninstallerDelayValue, ms); }

std::vector<Record> StandInSession::ReadRecords() const {
    std::vector<Record> records;
    const std::string bytes = testing_support::ReadFileBytes(logPath_);
    size_t pos = 0;
    while (pos < bytes.size()) {
        size_t end = bytes.find("\r\n", pos);
        if (end == std::string::npos) break;  // a line still being written
        Record record;
        const std::string line = bytes.substr(pos, end - pos);
        size_t start = 0;
        while (start <= line.size()) {
            size_t tab = line.find('\t', start);
            if (tab == std::string::npos) tab = line.size();
            const std::string field = line.substr(start, tab - start);
            const size_t eq = field.find('=');
            if (eq != std::string::npos) record.fields.emplace_back(field.substr(0, eq), Widen(field.substr(eq + 1)));
            start = tab + 1;
        }
        records.push_back(std::move(record));
        pos = end + 2;
    }
    return records;
}

Record StandInSession::WaitForRecord(const std::function<bool(const Record&)>& match, DWORD timeoutMs) const {
    const DWORD started = GetTickCount();
    for (;;) {
        for (const Record& record : ReadRecords()) {
            if (match(record)) return record;
        }
        if (GetTickCount() - started >= timeoutMs) return {};
        Sleep(50);
    }
}

UrlRecorderRegistration::UrlRecorderRegistration() {
    const std::wstring command = L"\"" + UrlRecorderExePath() + L"\" \"%1\"";
    ok_ = true;
    for (int i = 0; i < 2; ++i) {
        hadPrevious_[i] = ReadDefault(CommandKey(kSchemes[i]), previous_[i]);
        ok_ = WriteDefault(CommandKey(kSchemes[i]), command) && ok_;
    }
}

UrlRecorderRegistration::~UrlRecorderRegistration() {
    for (int i = 0; i < 2; ++i) {
        if (hadPrevious_[i]) {
            WriteDefault(CommandKey(kSchemes[i]), previous_[i]);
        } else {
            RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, CommandKey(kSchemes[i]).c_str(), nullptr);
        }
    }
}

bool CopyProductStandIns(const std::wstring& folder) {
    return CopyFileW(ProductExePath().c_str(), (folder + L"\\orvane.exe").c_str(), FALSE) &&
           CopyFileW(ProductDllPath().c_str(), (folder + L"\\orvane32.dll").c_str(), FALSE);
}

}  // namespace standins
