#include "JsonObject.h"

#include <climits>
#include <cmath>
#include <cstdio>

#include "JsonNode.h"

namespace {

const char kParseErrorPrefix[] = "prase json string error at ";
const char kNoDataError[] = "json data is null!";
const char kNotObjectError[] = "not a json object! json array?";
const char kNotArrayError[] = "not a json array! json object?";
const char kSubObjectError[] = "create sub empty object error!";
const char kSubArrayError[] = "create sub empty array error!";

bool IsType(const JsonNode* node, JsonNodeType type) { return node && JsonTypeOf(node) == type; }

// Printed text as a string; false when printing fails (out of memory).
bool PrintToString(const JsonNode* node, bool formatted, std::string& text) {
    char* printed = formatted ? JsonPrint(node) : JsonPrintUnformatted(node);
    if (!printed) return false;
    text = printed;
    JsonFree(printed);
    return true;
}

// The value an Int stands for, as signed or unsigned by its sign.
bool IntFitsRange(const JsonNode* node, long long minimum, unsigned long long maximum) {
    if (node->sign == -1) {
        const auto value = static_cast<long long>(node->intValue);
        return value >= minimum && (value < 0 || static_cast<unsigned long long>(value) <= maximum);
    }
    return node->intValue <= maximum;
}

bool ReadNode(const JsonNode* node, std::string& value) {
    if (!IsType(node, JsonNodeType::String)) return false;
    value = node->stringValue ? node->stringValue : "";
    return true;
}

// A 32-bit read of a value outside the target's range would report a
// different number as success, so it fails instead.
bool ReadNode(const JsonNode* node, int32_t& value) {
    if (!IsType(node, JsonNodeType::Int) || !IntFitsRange(node, INT32_MIN, INT32_MAX)) return false;
    value = static_cast<int32_t>(static_cast<uint32_t>(node->intValue));
    return true;
}

bool ReadNode(const JsonNode* node, uint32_t& value) {
    if (!IsType(node, JsonNodeType::Int) || !IntFitsRange(node, 0, UINT32_MAX)) return false;
    value = static_cast<uint32_t>(node->intValue);
    return true;
}

bool ReadNode(const JsonNode* node, int64_t& value) {
    if (!IsType(node, JsonNodeType::Int)) return false;
    value = static_cast<int64_t>(node->intValue);
    return true;
}

bool ReadNode(const JsonNode* node, uint64_t& value) {
    if (!IsType(node, JsonNodeType::Int)) return false;
    value = node->intValue;
    return true;
}

bool ReadNode(const JsonNode* node, bool& value) {
    if (IsType(node, JsonNodeType::False)) {
        value = false;
        return true;
    }
    if (IsType(node, JsonNodeType::True)) {
        value = true;
        return true;
    }
    return false;
}

bool ReadNode(const JsonNode* node, double& value) {
    if (!IsType(node, JsonNodeType::Double)) return false;
    value = node->doubleValue;
    return true;
}

bool ReadNode(const JsonNode* node, float& value) {
    if (!IsType(node, JsonNodeType::Double)) return false;
    value = static_cast<float>(node->doubleValue);
    return true;
}

bool ReadNode(const JsonNode* node, CJsonObject& value) {
    std::string text;
    if (!node || !PrintToString(node, true, text)) return false;
    return value.Parse(text);
}

std::string NodeText(const JsonNode* node) {
    if (!node) return std::string();
    char buffer[128];
    switch (JsonTypeOf(node)) {
    case JsonNodeType::String: return node->stringValue ? node->stringValue : "";
    case JsonNodeType::False: return "false";
    case JsonNodeType::True: return "true";
    case JsonNodeType::Int:
        if (node->sign == -1) {
            const auto value = static_cast<long long>(node->intValue);
            if (value >= INT32_MIN && value <= INT32_MAX) std::snprintf(buffer, sizeof(buffer), "%d", static_cast<int>(value));
            else std::snprintf(buffer, sizeof(buffer), "%lld", value);
        } else if (node->intValue <= UINT32_MAX) {
            std::snprintf(buffer, sizeof(buffer), "%u", static_cast<unsigned>(node->intValue));
        } else {
            std::snprintf(buffer, sizeof(buffer), "%llu", static_cast<unsigned long long>(node->intValue));
        }
        return buffer;
    case JsonNodeType::Double: {
        const double magnitude = std::fabs(node->doubleValue);
        const bool scientific = magnitude < 1e-6 || magnitude > 1e9;
        std::snprintf(buffer, sizeof(buffer), scientific ? "%e" : "%f", node->doubleValue);
        return buffer;
    }
    default: return std::string();
    }
}

JsonNode* NewNode(const std::string& value) { return JsonCreateString(value.c_str()); }
JsonNode* NewNode(const char* value) { return JsonCreateString(value ? value : ""); }
JsonNode* NewNode(int32_t value) { return JsonCreateInt(static_cast<uint64_t>(static_cast<int64_t>(value)), -1); }
JsonNode* NewNode(uint32_t value) { return JsonCreateInt(value, 1); }
JsonNode* NewNode(int64_t value) { return JsonCreateInt(static_cast<uint64_t>(value), -1); }
JsonNode* NewNode(uint64_t value) { return JsonCreateInt(value, 1); }
JsonNode* NewNode(bool value) { return JsonCreateBool(value ? 1 : 0); }
JsonNode* NewNode(float value) { return JsonCreateDouble(value, -1); }
JsonNode* NewNode(double value) { return JsonCreateDouble(value, -1); }

}  // namespace

bool CJsonObject::KeyLess::operator()(const std::string& a, const std::string& b) const {
    const size_t length = a.size() < b.size() ? a.size() : b.size();
    for (size_t i = 0; i < length; ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
        if (x != y) return static_cast<unsigned char>(x) < static_cast<unsigned char>(y);
    }
    return a.size() < b.size();
}

CJsonObject::CJsonObject() = default;

CJsonObject::CJsonObject(const std::string& text) { Parse(text); }

CJsonObject::CJsonObject(const CJsonObject& other) { Parse(other.ToString()); }

CJsonObject::CJsonObject(const CJsonObject* other) {
    if (other) Parse(other->ToString());
}

CJsonObject::CJsonObject(JsonNode* node) : borrowedRoot_(node) {}

CJsonObject::~CJsonObject() { Clear(); }

CJsonObject& CJsonObject::operator=(const CJsonObject& other) {
    const std::string text = other.ToString();
    Parse(text);
    return *this;
}

bool CJsonObject::operator==(const CJsonObject& other) const { return ToString() == other.ToString(); }

bool CJsonObject::Parse(const std::string& text) {
    Clear();
    ownedRoot_ = JsonParse(text.c_str());
    if (!ownedRoot_) {
        SetParseError(JsonErrorPosition());
        return false;
    }
    return true;
}

void CJsonObject::Clear() {
    borrowedRoot_ = nullptr;
    JsonDelete(ownedRoot_);
    ownedRoot_ = nullptr;
    for (auto& entry : elementWrappers_) delete entry.second;
    elementWrappers_.clear();
    for (auto& entry : memberWrappers_) delete entry.second;
    memberWrappers_.clear();
}

bool CJsonObject::IsEmpty() const { return Root() == nullptr; }

bool CJsonObject::IsArray() const { return IsType(Root(), JsonNodeType::Array); }

std::string CJsonObject::ToString() const {
    std::string text;
    const JsonNode* root = Root();
    if (!root || !PrintToString(root, false, text)) return std::string();
    return text;
}

std::string CJsonObject::ToFormattedString() const {
    std::string text;
    const JsonNode* root = Root();
    if (!root || !PrintToString(root, true, text)) return std::string();
    return text;
}

int CJsonObject::GetArraySize() const {
    const JsonNode* root = Root();
    return IsType(root, JsonNodeType::Array) ? JsonArraySize(root) : 0;
}

CJsonObject& CJsonObject::operator[](const std::string& key) {
    auto found = memberWrappers_.find(key);
    if (found != memberWrappers_.end()) return *found->second;
    JsonNode* node = Member(key);
    auto* wrapper = node ? new CJsonObject(node) : new CJsonObject();
    memberWrappers_[key] = wrapper;
    return *wrapper;
}

CJsonObject& CJsonObject::operator[](unsigned index) {
    auto found = elementWrappers_.find(index);
    if (found != elementWrappers_.end()) return *found->second;
    JsonNode* node = index <= static_cast<unsigned>(INT_MAX) ? Element(static_cast<int>(index)) : nullptr;
    auto* wrapper = node ? new CJsonObject(node) : new CJsonObject();
    elementWrappers_[index] = wrapper;
    return *wrapper;
}

bool CJsonObject::Get(const std::string& key, CJsonObject& value) const { return ReadNode(Member(key), value); }
bool CJsonObject::Get(const std::string& key, std::string& value) const { return ReadNode(Member(key), value); }
bool CJsonObject::Get(const std::string& key, int32_t& value) const { return ReadNode(Member(key), value); }
bool CJsonObject::Get(const std::string& key, uint32_t& value) const { return ReadNode(Member(key), value); }
bool CJsonObject::Get(const std::string& key, int64_t& value) const { return ReadNode(Member(key), value); }
bool CJsonObject::Get(const std::string& key, uint64_t& value) const { return ReadNode(Member(key), value); }
bool CJsonObject::Get(const std::string& key, bool& value) const { return ReadNode(Member(key), value); }
bool CJsonObject::Get(const std::string& key, float& value) const { return ReadNode(Member(key), value); }
bool CJsonObject::Get(const std::string& key, double& value) const { return ReadNode(Member(key), value); }
bool CJsonObject::Get(int index, CJsonObject& value) const { return ReadNode(Element(index), value); }
bool CJsonObject::Get(int index, std::string& value) const { return ReadNode(Element(index), value); }
bool CJsonObject::Get(int index, int32_t& value) const { return ReadNode(Element(index), value); }
bool CJsonObject::Get(int index, uint32_t& value) const { return ReadNode(Element(index), value); }
bool CJsonObject::Get(int index, int64_t& value) const { return ReadNode(Element(index), value); }
bool CJsonObject::Get(int index, uint64_t& value) const { return ReadNode(Element(index), value); }
bool CJsonObject::Get(int index, bool& value) const { return ReadNode(Element(index), value); }
bool CJsonObject::Get(int index, float& value) const { return ReadNode(Element(index), value); }
bool CJsonObject::Get(int index, double& value) const { return ReadNode(Element(index), value); }

std::string CJsonObject::operator()(const std::string& key) const { return NodeText(Member(key)); }

std::string CJsonObject::operator()(unsigned index) const {
    return index <= static_cast<unsigned>(INT_MAX) ? NodeText(Element(static_cast<int>(index))) : std::string();
}

// ---------------------------------------------------------------- by key

bool CJsonObject::Add(const std::string& key, const CJsonObject& value) {
    if (!ObjectRoot(true)) return false;
    return AddMember(key, MakeNode(value));
}
bool CJsonObject::Add(const std::string& key, const std::string& value) { return AddMember(key, NewNode(value)); }
bool CJsonObject::Add(const std::string& key, const char* value) { return AddMember(key, NewNode(value)); }
bool CJsonObject::Add(const std::string& key, int32_t value) { return AddMember(key, NewNode(value)); }
bool CJsonObject::Add(const std::string& key, uint32_t value) { return AddMember(key, NewNode(value)); }
bool CJsonObject::Add(const std::string& key, int64_t value) { return AddMember(key, NewNode(value)); }
bool CJsonObject::Add(const std::string& key, uint64_t value) { return AddMember(key, NewNode(value)); }
bool CJsonObject::Add(const std::string& key, bool value) { return AddMember(key, NewNode(value)); }
bool CJsonObject::Add(const std::string& key, float value) { return AddMember(key, NewNode(value)); }
bool CJsonObject::Add(const std::string& key, double value) { return AddMember(key, NewNode(value)); }

bool CJsonObject::AddEmptySubObject(const std::string& key) {
    if (!ObjectRoot(true)) return false;
    JsonNode* node = JsonCreateObject();
    if (!node) {
        errorText_ = kSubObjectError;
        return false;
    }
    return AddMember(key, node);
}

bool CJsonObject::AddEmptySubArray(const std::string& key) {
    if (!ObjectRoot(true)) return false;
    JsonNode* node = JsonCreateArray();
    if (!node) {
        errorText_ = kSubArrayError;
        return false;
    }
    return AddMember(key, node);
}

bool CJsonObject::Replace(const std::string& key, const CJsonObject& value) {
    if (!ObjectRoot(false)) return false;
    return ReplaceMember(key, MakeNode(value));
}
bool CJsonObject::Replace(const std::string& key, const std::string& value) { return ReplaceMember(key, NewNode(value)); }
bool CJsonObject::Replace(const std::string& key, const char* value) { return ReplaceMember(key, NewNode(value)); }
bool CJsonObject::Replace(const std::string& key, int32_t value) { return ReplaceMember(key, NewNode(value)); }
bool CJsonObject::Replace(const std::string& key, uint32_t value) { return ReplaceMember(key, NewNode(value)); }
bool CJsonObject::Replace(const std::string& key, int64_t value) { return ReplaceMember(key, NewNode(value)); }
bool CJsonObject::Replace(const std::string& key, uint64_t value) { return ReplaceMember(key, NewNode(value)); }
bool CJsonObject::Replace(const std::string& key, bool value) { return ReplaceMember(key, NewNode(value)); }
bool CJsonObject::Replace(const std::string& key, float value) { return ReplaceMember(key, NewNode(value)); }
bool CJsonObject::Replace(const std::string& key, double value) { return ReplaceMember(key, NewNode(value)); }

bool CJsonObject::Delete(const std::string& key) {
    JsonNode* root = ObjectRoot(false);
    if (!root) return false;
    DropMemberWrapper(key);
    JsonDeleteFromObject(root, key.c_str());
    return true;
}

// ---------------------------------------------------------------- by index

bool CJsonObject::Add(const CJsonObject& value) {
    if (!ArrayRoot(true)) return false;
    return AppendElement(MakeNode(value));
}
bool CJsonObject::Add(const std::string& value) { return AppendElement(NewNode(value)); }
bool CJsonObject::Add(const char* value) { return AppendElement(NewNode(value)); }
bool CJsonObject::Add(int32_t value) { return AppendElement(NewNode(value)); }
bool CJsonObject::Add(uint32_t value) { return AppendElement(NewNode(value)); }
bool CJsonObject::Add(int64_t value) { return AppendElement(NewNode(value)); }
bool CJsonObject::Add(uint64_t value) { return AppendElement(NewNode(value)); }
bool CJsonObject::Add(bool value) { return AppendElement(NewNode(value)); }
bool CJsonObject::Add(float value) { return AppendElement(NewNode(value)); }
bool CJsonObject::Add(double value) { return AppendElement(NewNode(value)); }

bool CJsonObject::AddAsFirst(const CJsonObject& value) {
    if (!ArrayRoot(true)) return false;
    return PrependElement(MakeNode(value));
}
bool CJsonObject::AddAsFirst(const std::string& value) { return PrependElement(NewNode(value)); }
bool CJsonObject::AddAsFirst(const char* value) { return PrependElement(NewNode(value)); }
bool CJsonObject::AddAsFirst(int32_t value) { return PrependElement(NewNode(value)); }
bool CJsonObject::AddAsFirst(uint32_t value) { return PrependElement(NewNode(value)); }
bool CJsonObject::AddAsFirst(int64_t value) { return PrependElement(NewNode(value)); }
bool CJsonObject::AddAsFirst(uint64_t value) { return PrependElement(NewNode(value)); }
bool CJsonObject::AddAsFirst(bool value) { return PrependElement(NewNode(value)); }
bool CJsonObject::AddAsFirst(float value) { return PrependElement(NewNode(value)); }
bool CJsonObject::AddAsFirst(double value) { return PrependElement(NewNode(value)); }

bool CJsonObject::Replace(int index, const CJsonObject& value) {
    if (!ArrayRoot(false)) return false;
    return ReplaceElement(index, MakeNode(value));
}
bool CJsonObject::Replace(int index, const std::string& value) { return ReplaceElement(index, NewNode(value)); }
bool CJsonObject::Replace(int index, const char* value) { return ReplaceElement(index, NewNode(value)); }
bool CJsonObject::Replace(int index, int32_t value) { return ReplaceElement(index, NewNode(value)); }
bool CJsonObject::Replace(int index, uint32_t value) { return ReplaceElement(index, NewNode(value)); }
bool CJsonObject::Replace(int index, int64_t value) { return ReplaceElement(index, NewNode(value)); }
bool CJsonObject::Replace(int index, uint64_t value) { return ReplaceElement(index, NewNode(value)); }
bool CJsonObject::Replace(int index, bool value) { return ReplaceElement(index, NewNode(value)); }
bool CJsonObject::Replace(int index, float value) { return ReplaceElement(index, NewNode(value)); }
bool CJsonObject::Replace(int index, double value) { return ReplaceElement(index, NewNode(value)); }

bool CJsonObject::Delete(int index) {
    JsonNode* root = ArrayRoot(false);
    if (!root) return false;
    if (index >= 0 && JsonArrayItem(root, index)) {
        DropElementWrappersFrom(static_cast<unsigned>(index));
        JsonDeleteFromArray(root, index);
    }
    return true;
}

// ---------------------------------------------------------------- helpers

JsonNode* CJsonObject::Root() const { return ownedRoot_ ? ownedRoot_ : borrowedRoot_; }

JsonNode* CJsonObject::Member(const std::string& key) const {
    JsonNode* root = Root();
    return IsType(root, JsonNodeType::Object) ? JsonObjectItem(root, key.c_str()) : nullptr;
}

JsonNode* CJsonObject::Element(int index) const {
    JsonNode* root = Root();
    return index >= 0 && IsType(root, JsonNodeType::Array) ? JsonArrayItem(root, index) : nullptr;
}

JsonNode* CJsonObject::MakeNode(const CJsonObject& value) {
    // The text lives until the error text is taken from it.
    const std::string text = value.ToString();
    JsonNode* node = JsonParse(text.c_str());
    if (!node) SetParseError(JsonErrorPosition());
    return node;
}

JsonNode* CJsonObject::ObjectRoot(bool create) {
    JsonNode* root = Root();
    if (!root && create) root = ownedRoot_ = JsonCreateObject();
    if (!root) {
        errorText_ = kNoDataError;
        return nullptr;
    }
    if (!IsType(root, JsonNodeType::Object)) {
        errorText_ = kNotObjectError;
        return nullptr;
    }
    return root;
}

JsonNode* CJsonObject::ArrayRoot(bool create) {
    JsonNode* root = Root();
    if (!root && create) root = ownedRoot_ = JsonCreateArray();
    if (!root) {
        errorText_ = kNoDataError;
        return nullptr;
    }
    if (!IsType(root, JsonNodeType::Array)) {
        errorText_ = kNotArrayError;
        return nullptr;
    }
    return root;
}

bool CJsonObject::AddMember(const std::string& key, JsonNode* node) {
    JsonNode* root = ObjectRoot(true);
    if (!root || !node) {
        JsonDelete(node);
        return false;
    }
    if (!JsonAddToObject(root, key.c_str(), node)) {
        JsonDelete(node);
        return false;
    }
    DropMemberWrapper(key);
    return Member(key) != nullptr;
}

bool CJsonObject::ReplaceMember(const std::string& key, JsonNode* node) {
    JsonNode* root = ObjectRoot(false);
    if (!root || !node) {
        JsonDelete(node);
        return false;
    }
    // The view of the old member must go before its node does.
    if (!JsonObjectItem(root, key.c_str())) {
        JsonDelete(node);
        return false;
    }
    DropMemberWrapper(key);
    if (!JsonReplaceInObject(root, key.c_str(), node)) {
        JsonDelete(node);
        return false;
    }
    return true;
}

bool CJsonObject::AppendElement(JsonNode* node) {
    JsonNode* root = ArrayRoot(true);
    if (!root || !node) {
        JsonDelete(node);
        return false;
    }
    const int before = JsonArraySize(root);
    JsonAppend(root, node);
    DropElementWrappersFrom(static_cast<unsigned>(before));
    return JsonArraySize(root) > before;
}

bool CJsonObject::PrependElement(JsonNode* node) {
    JsonNode* root = ArrayRoot(true);
    if (!root || !node) {
        JsonDelete(node);
        return false;
    }
    const int before = JsonArraySize(root);
    JsonPrepend(root, node);
    DropElementWrappersFrom(0);
    return JsonArraySize(root) > before;
}

bool CJsonObject::ReplaceElement(int index, JsonNode* node) {
    JsonNode* root = ArrayRoot(false);
    if (!root || !node || index < 0 || !JsonArrayItem(root, index)) {
        JsonDelete(node);
        return false;
    }
    // Only the view of the replaced element would show a freed node.
    auto found = elementWrappers_.find(static_cast<unsigned>(index));
    if (found != elementWrappers_.end()) {
        delete found->second;
        elementWrappers_.erase(found);
    }
    return JsonReplaceInArray(root, index, node);
}

void CJsonObject::DropMemberWrapper(const std::string& key) {
    auto found = memberWrappers_.find(key);
    if (found == memberWrappers_.end()) return;
    delete found->second;
    memberWrappers_.erase(found);
}

void CJsonObject::DropElementWrappersFrom(unsigned index) {
    for (auto it = elementWrappers_.lower_bound(index); it != elementWrappers_.end();) {
        delete it->second;
        it = elementWrappers_.erase(it);
    }
}

void CJsonObject::SetParseError(const char* position) {
    errorText_ = kParseErrorPrefix;
    if (position) errorText_ += position;
}
