#include "JsonNode.h"

#include <atomic>
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

namespace {

using AllocateFunction = void* (*)(size_t);
using ReleaseFunction = void (*)(void*);

std::atomic<AllocateFunction> g_allocate{&std::malloc};
std::atomic<ReleaseFunction> g_release{&std::free};

// One per thread: the statistics thread, the UI thread and the analytics
// threads all parse, and an error text copied from another thread's position
// could read a text that is already gone.
thread_local const char* t_errorPosition = nullptr;

void* Allocate(size_t size) { return g_allocate.load(std::memory_order_relaxed)(size); }
void Release(void* pointer) {
    if (pointer) g_release.load(std::memory_order_relaxed)(pointer);
}

JsonNode* NewNode(JsonNodeType type) {
    auto* node = static_cast<JsonNode*>(Allocate(sizeof(JsonNode)));
    if (node) {
        std::memset(node, 0, sizeof(JsonNode));
        node->type = static_cast<int32_t>(type);
    }
    return node;
}

char* CopyText(const char* text) {
    const size_t size = std::strlen(text) + 1;
    auto* copy = static_cast<char*>(Allocate(size));
    if (copy) std::memcpy(copy, text, size);
    return copy;
}

bool IsContainer(const JsonNode* node) {
    const JsonNodeType type = JsonTypeOf(node);
    return type == JsonNodeType::Array || type == JsonNodeType::Object;
}

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool EqualIgnoringAsciiCase(const char* a, const char* b) {
    for (; *a && *b; ++a, ++b) {
        if (LowerAscii(*a) != LowerAscii(*b)) return false;
    }
    return *a == *b;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// ---------------------------------------------------------------- parsing

// Parsing functions return the position after what they read, or null with
// the position of the fault in *error.
struct ParseContext {
    const char* error = nullptr;
    const char* Fail(const char* at) {
        error = at;
        return nullptr;
    }
};

const char* SkipWhitespace(const char* p) {
    while (*p && static_cast<unsigned char>(*p) <= 32) ++p;
    return p;
}

const char* ParseValue(ParseContext& context, JsonNode* node, const char* p, int depth);

// Past this exponent every non-zero mantissa overflows or underflows anyway;
// clamping keeps the int arithmetic defined for any digit count.
constexpr int kExponentClamp = 100000;
// The mantissa stops growing here so that it never becomes infinite (and
// infinity times a vanishing power of ten never becomes NaN); the digits it
// no longer takes only move the decimal point.
constexpr double kMantissaLimit = 1e300;

const char* ParseNumber(JsonNode* node, const char* p) {
    double mantissa = 0;
    uint64_t exactInteger = 0;  // the integer digits, exact while integerOverflow is false
    bool integerOverflow = false;
    int fractionScale = 0;      // minus the number of fraction digits taken
    bool hasFraction = false;
    int droppedScale = 0;       // digits the mantissa no longer took
    int exponent = 0;
    int exponentSign = 1;
    int32_t sign = 1;

    if (*p == '-') {
        sign = -1;
        ++p;
    }
    if (*p == '0') ++p;
    if (*p >= '1' && *p <= '9') {
        do {
            const int digit = *p - '0';
            if (mantissa < kMantissaLimit) {
                mantissa = mantissa * 10 + digit;
            } else if (droppedScale < kExponentClamp) {
                ++droppedScale;
            }
            if (integerOverflow || exactInteger > (UINT64_MAX - digit) / 10) {
                integerOverflow = true;
            } else {
                exactInteger = exactInteger * 10 + digit;
            }
            ++p;
        } while (IsDigit(*p));
    }
    if (*p == '.' && IsDigit(p[1])) {
        ++p;
        hasFraction = true;
        do {
            if (mantissa < kMantissaLimit && fractionScale > -kExponentClamp) {
                mantissa = mantissa * 10 + (*p - '0');
                --fractionScale;
            }
            ++p;
        } while (IsDigit(*p));
    }
    if (*p == 'e' || *p == 'E') {
        ++p;
        if (*p == '+') {
            ++p;
        } else if (*p == '-') {
            exponentSign = -1;
            ++p;
        }
        while (IsDigit(*p)) {
            if (exponent < kExponentClamp) exponent = exponent * 10 + (*p - '0');
            ++p;
        }
    }

    node->sign = sign;
    // An integer is kept exactly in 64 bits. One beyond that range (2^64 - 1,
    // or -2^63 with a minus) cannot be held exactly and becomes a Double, so
    // that it keeps its magnitude instead of wrapping.
    const uint64_t largestMagnitude = sign < 0 ? uint64_t(1) << 63 : UINT64_MAX;
    const bool fits = !integerOverflow && exactInteger <= largestMagnitude;
    if (!hasFraction && exponent == 0 && fits) {
        node->type = static_cast<int32_t>(JsonNodeType::Int);
        node->intValue = sign < 0 ? 0 - exactInteger : exactInteger;
        node->doubleValue = static_cast<double>(node->intValue);
    } else {
        const int power = fractionScale + droppedScale + exponentSign * exponent;
        const double value = mantissa == 0 ? 0.0 : mantissa * std::pow(10.0, power);
        node->type = static_cast<int32_t>(JsonNodeType::Double);
        node->doubleValue = sign * value;
        node->intValue = JsonDoubleToUnsigned(node->doubleValue);
    }
    return p;
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Four hex digits at p, or -1. A hex digit is never the closing quote nor the
// terminator, so a valid run never reaches past the end of the string.
long ReadHex4(const char* p) {
    long code = 0;
    for (int i = 0; i < 4; ++i) {
        const int digit = HexValue(p[i]);
        if (digit < 0) return -1;
        code = code * 16 + digit;
    }
    return code;
}

char* WriteUtf8(char* out, unsigned long code) {
    if (code < 0x80) {
        *out++ = static_cast<char>(code);
    } else if (code < 0x800) {
        *out++ = static_cast<char>(0xC0 | (code >> 6));
        *out++ = static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        *out++ = static_cast<char>(0xE0 | (code >> 12));
        *out++ = static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        *out++ = static_cast<char>(0x80 | (code & 0x3F));
    } else {
        *out++ = static_cast<char>(0xF0 | (code >> 18));
        *out++ = static_cast<char>(0x80 | ((code >> 12) & 0x3F));
        *out++ = static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        *out++ = static_cast<char>(0x80 | (code & 0x3F));
    }
    return out;
}

// A quoted string at p into a new heap text (*text). A string without its
// closing quote ends at the end of the input; a backslash as the last byte of
// the input is dropped. A \u not followed by four hex digits fails at its
// backslash.
const char* ParseStringText(ParseContext& context, const char* p, char** text) {
    if (*p != '"') return context.Fail(p);
    const char* const begin = p + 1;

    // Find the end: the closing quote or the terminator, never past it.
    const char* end = begin;
    while (*end && *end != '"') {
        if (*end == '\\' && end[1]) ++end;
        ++end;
    }

    // No escape yields more bytes than it reads, so the input length bounds
    // the output.
    auto* out = static_cast<char*>(Allocate(static_cast<size_t>(end - begin) + 1));
    if (!out) return context.Fail(p);
    char* w = out;
    const char* r = begin;
    while (r < end) {
        if (*r != '\\') {
            *w++ = *r++;
            continue;
        }
        if (r + 1 >= end) break;  // the lone backslash at the end of the input
        const char* const escape = r;
        const char c = r[1];
        r += 2;
        switch (c) {
        case 'b': *w++ = '\b'; break;
        case 'f': *w++ = '\f'; break;
        case 'n': *w++ = '\n'; break;
        case 'r': *w++ = '\r'; break;
        case 't': *w++ = '\t'; break;
        case 'u': {
            const long code = ReadHex4(r);
            if (code < 0) {
                Release(out);
                return context.Fail(escape);
            }
            r += 4;
            if (code == 0 || (code >= 0xDC00 && code <= 0xDFFF)) break;  // writes nothing
            if (code >= 0xD800 && code <= 0xDBFF) {
                if (r[0] != '\\' || r[1] != 'u') break;  // a lone high half writes nothing
                const long low = ReadHex4(r + 2);
                if (low < 0) {
                    Release(out);
                    return context.Fail(r);
                }
                r += 6;
                if (low < 0xDC00 || low > 0xDFFF) break;
                w = WriteUtf8(w, 0x10000 + (((code & 0x3FF) << 10) | (low & 0x3FF)));
                break;
            }
            w = WriteUtf8(w, static_cast<unsigned long>(code));
            break;
        }
        default: *w++ = c; break;
        }
    }
    *w = '\0';
    *text = out;
    return *end == '"' ? end + 1 : end;
}

// Links item after last, or as parent's first child when last is null.
void LinkChild(JsonNode* parent, JsonNode*& last, JsonNode* item) {
    if (last) {
        last->next = item;
        item->prev = last;
    } else {
        parent->child = item;
    }
    last = item;
}

// An array ("[" values "]") or an object ("{" key ":" value pairs "}"),
// comma-separated, at p.
const char* ParseContainer(ParseContext& context, JsonNode* node, const char* p, int depth, JsonNodeType type) {
    if (depth >= kJsonMaxNestingDepth) return context.Fail(p);
    const bool object = type == JsonNodeType::Object;
    const char close = object ? '}' : ']';
    node->type = static_cast<int32_t>(type);
    p = SkipWhitespace(p + 1);
    if (*p == close) return p + 1;
    JsonNode* last = nullptr;
    for (;;) {
        JsonNode* item = NewNode(JsonNodeType::Null);
        if (!item) return context.Fail(p);
        LinkChild(node, last, item);
        p = SkipWhitespace(p);
        if (object) {
            p = ParseStringText(context, p, &item->key);
            if (!p) return nullptr;
            p = SkipWhitespace(p);
            if (*p != ':') return context.Fail(p);
            p = SkipWhitespace(p + 1);
        }
        p = ParseValue(context, item, p, depth + 1);
        if (!p) return nullptr;
        p = SkipWhitespace(p);
        if (*p == close) return p + 1;
        if (*p != ',') return context.Fail(p);
        ++p;
    }
}

const char* ParseValue(ParseContext& context, JsonNode* node, const char* p, int depth) {
    if (std::strncmp(p, "null", 4) == 0) {
        node->type = static_cast<int32_t>(JsonNodeType::Null);
        return p + 4;
    }
    if (std::strncmp(p, "false", 5) == 0) {
        node->type = static_cast<int32_t>(JsonNodeType::False);
        return p + 5;
    }
    if (std::strncmp(p, "true", 4) == 0) {
        node->type = static_cast<int32_t>(JsonNodeType::True);
        node->intValue = 1;
        return p + 4;
    }
    switch (*p) {
    case '"':
        node->type = static_cast<int32_t>(JsonNodeType::String);
        return ParseStringText(context, p, &node->stringValue);
    case '[': return ParseContainer(context, node, p, depth, JsonNodeType::Array);
    case '{': return ParseContainer(context, node, p, depth, JsonNodeType::Object);
    default:
        if (*p == '-' || IsDigit(*p)) return ParseNumber(node, p);
        return context.Fail(p);
    }
}

// ---------------------------------------------------------------- printing

void AppendTabs(std::string& out, int count) { out.append(static_cast<size_t>(count), '\t'); }

void PrintString(const char* text, std::string& out) {
    out += '"';
    for (const char* p = text ? text : ""; *p; ++p) {
        const unsigned char c = static_cast<unsigned char>(*p);
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\b': out += "\\b"; break;
        case '\f': out += "\\f"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (c < 32) {
                char escape[8];
                std::snprintf(escape, sizeof(escape), "\\u%04x", c);
                out += escape;
            } else {
                out += static_cast<char>(c);
            }
            break;
        }
    }
    out += '"';
}

void PrintInt(const JsonNode* node, std::string& out) {
    char buffer[32];
    if (node->sign == -1) {
        std::snprintf(buffer, sizeof(buffer), "%lld", static_cast<long long>(node->intValue));
    } else {
        std::snprintf(buffer, sizeof(buffer), "%llu", static_cast<unsigned long long>(node->intValue));
    }
    out += buffer;
}

// Kept out of line so that its buffer never sits in the frames of the
// recursive printer.
#if defined(__GNUC__)
__attribute__((noinline))
#endif
void PrintDouble(double value, std::string& out) {
    // JSON has no text for NaN or infinity.
    if (!std::isfinite(value)) {
        out += "null";
        return;
    }
    // "%.0f" of the largest double has 309 digits; the buffer holds any double.
    char buffer[400];
    const char* format = std::fabs(std::floor(value) - value) <= DBL_EPSILON ? "%.0f" : "%f";
    const int length = std::snprintf(buffer, sizeof(buffer), format, value);
    if (length > 0 && static_cast<size_t>(length) < sizeof(buffer)) out += buffer;
    else out += "null";
}

bool PrintValue(const JsonNode* node, int depth, bool formatted, std::string& out);

bool PrintArray(const JsonNode* node, int depth, bool formatted, std::string& out) {
    out += '[';
    for (const JsonNode* item = node->child; item; item = item->next) {
        if (!PrintValue(item, depth + 1, formatted, out)) return false;
        if (item->next) out += formatted ? ", " : ",";
    }
    out += ']';
    return true;
}

bool PrintObject(const JsonNode* node, int depth, bool formatted, std::string& out) {
    out += '{';
    if (formatted) out += '\n';
    for (const JsonNode* item = node->child; item; item = item->next) {
        if (formatted) AppendTabs(out, depth + 1);
        PrintString(item->key, out);
        out += ':';
        if (formatted) out += '\t';
        if (!PrintValue(item, depth + 1, formatted, out)) return false;
        if (item->next) out += ',';
        if (formatted) out += '\n';
    }
    if (formatted) AppendTabs(out, depth);
    out += '}';
    return true;
}

bool PrintValue(const JsonNode* node, int depth, bool formatted, std::string& out) {
    switch (JsonTypeOf(node)) {
    case JsonNodeType::False: out += "false"; return true;
    case JsonNodeType::True: out += "true"; return true;
    case JsonNodeType::Null: out += "null"; return true;
    case JsonNodeType::Int: PrintInt(node, out); return true;
    case JsonNodeType::Double: PrintDouble(node->doubleValue, out); return true;
    case JsonNodeType::String: PrintString(node->stringValue, out); return true;
    case JsonNodeType::Array:
        if (depth >= kJsonMaxNestingDepth) return false;
        return PrintArray(node, depth, formatted, out);
    case JsonNodeType::Object:
        if (depth >= kJsonMaxNestingDepth) return false;
        return PrintObject(node, depth, formatted, out);
    }
    return false;  // a type no parser or creator makes
}

char* Print(const JsonNode* node, bool formatted) {
    if (!node) return nullptr;
    try {
        std::string text;
        if (!PrintValue(node, 0, formatted, text)) return nullptr;
        auto* result = static_cast<char*>(Allocate(text.size() + 1));
        if (result) std::memcpy(result, text.c_str(), text.size() + 1);
        return result;
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

// ---------------------------------------------------------------- editing

void Detach(JsonNode* parent, JsonNode* item) {
    if (item->prev) item->prev->next = item->next;
    if (item->next) item->next->prev = item->prev;
    if (parent->child == item) parent->child = item->next;
    item->next = nullptr;
    item->prev = nullptr;
}

// item takes old's place in parent's list; old is deleted.
void ReplaceChild(JsonNode* parent, JsonNode* old, JsonNode* item) {
    item->next = old->next;
    item->prev = old->prev;
    if (item->next) item->next->prev = item;
    if (parent->child == old) parent->child = item;
    else if (item->prev) item->prev->next = item;
    old->next = nullptr;
    old->prev = nullptr;
    JsonDelete(old);
}

bool SetKey(JsonNode* item, const char* key) {
    char* copy = CopyText(key);
    if (!copy) return false;
    Release(item->key);
    item->key = copy;
    return true;
}

JsonNode* CreateReference(const JsonNode* item) {
    JsonNode* reference = NewNode(JsonNodeType::Null);
    if (!reference) return nullptr;
    *reference = *item;
    reference->type |= kJsonReferenceFlag;
    reference->key = nullptr;
    reference->next = nullptr;
    reference->prev = nullptr;
    return reference;
}

template <typename Make>
JsonNode* CreateArrayOf(int count, bool valuesMissing, Make make) {
    if (count > 0 && valuesMissing) return nullptr;
    JsonNode* array = JsonCreateArray();
    if (!array) return nullptr;
    JsonNode* last = nullptr;
    for (int i = 0; i < count; ++i) {
        JsonNode* item = make(i);
        if (!item) {
            JsonDelete(array);
            return nullptr;
        }
        LinkChild(array, last, item);
    }
    return array;
}

}  // namespace

void JsonInitHooks(const JsonHooks* hooks) {
    g_allocate.store(hooks && hooks->allocate ? hooks->allocate : &std::malloc);
    g_release.store(hooks && hooks->release ? hooks->release : &std::free);
}

JsonNode* JsonParse(const char* text) {
    t_errorPosition = nullptr;
    if (!text) return nullptr;
    JsonNode* root = NewNode(JsonNodeType::Null);
    if (!root) {
        t_errorPosition = text;
        return nullptr;
    }
    ParseContext context;
    if (!ParseValue(context, root, SkipWhitespace(text), 0)) {
        JsonDelete(root);
        t_errorPosition = context.error;
        return nullptr;
    }
    return root;
}

const char* JsonErrorPosition() { return t_errorPosition; }

char* JsonPrint(const JsonNode* node) { return Print(node, true); }
char* JsonPrintUnformatted(const JsonNode* node) { return Print(node, false); }
void JsonFree(void* pointer) { Release(pointer); }

void JsonDelete(JsonNode* node) {
    // Iterative, so that a deep tree cannot run the stack out: the children
    // of each node are spliced in before its following siblings.
    while (node) {
        JsonNode* following = node->next;
        const bool reference = (node->type & kJsonReferenceFlag) != 0;
        if (!reference && node->child) {
            JsonNode* lastChild = node->child;
            while (lastChild->next) lastChild = lastChild->next;
            lastChild->next = following;
            following = node->child;
        }
        if (!reference) Release(node->stringValue);
        Release(node->key);
        Release(node);
        node = following;
    }
}

int JsonArraySize(const JsonNode* node) {
    if (!node || !IsContainer(node)) return 0;
    int count = 0;
    for (const JsonNode* item = node->child; item; item = item->next) ++count;
    return count;
}

JsonNode* JsonArrayItem(const JsonNode* node, int index) {
    if (!node || !IsContainer(node)) return nullptr;
    JsonNode* item = node->child;
    while (item && index > 0) {
        --index;
        item = item->next;
    }
    return item;
}

JsonNode* JsonObjectItem(const JsonNode* node, const char* key) {
    if (!node || !key || !IsContainer(node)) return nullptr;
    for (JsonNode* item = node->child; item; item = item->next) {
        if (item->key && EqualIgnoringAsciiCase(item->key, key)) return item;
    }
    return nullptr;
}

JsonNode* JsonCreateNull() { return NewNode(JsonNodeType::Null); }
JsonNode* JsonCreateTrue() {
    JsonNode* node = NewNode(JsonNodeType::True);
    if (node) node->intValue = 1;
    return node;
}
JsonNode* JsonCreateFalse() { return NewNode(JsonNodeType::False); }
JsonNode* JsonCreateBool(int value) { return value ? JsonCreateTrue() : JsonCreateFalse(); }

JsonNode* JsonCreateInt(uint64_t value, int32_t sign) {
    JsonNode* node = NewNode(JsonNodeType::Int);
    if (node) {
        node->intValue = value;
        node->doubleValue = static_cast<double>(value);
        node->sign = sign;
    }
    return node;
}

JsonNode* JsonCreateDouble(double value, int32_t sign) {
    JsonNode* node = NewNode(JsonNodeType::Double);
    if (node) {
        node->doubleValue = value;
        node->intValue = JsonDoubleToUnsigned(value);
        node->sign = sign;
    }
    return node;
}

JsonNode* JsonCreateString(const char* text) {
    if (!text) return nullptr;
    JsonNode* node = NewNode(JsonNodeType::String);
    if (!node) return nullptr;
    node->stringValue = CopyText(text);
    if (!node->stringValue) {
        Release(node);
        return nullptr;
    }
    return node;
}

JsonNode* JsonCreateArray() { return NewNode(JsonNodeType::Array); }
JsonNode* JsonCreateObject() { return NewNode(JsonNodeType::Object); }

JsonNode* JsonCreateIntArray(const int* values, int count) {
    return CreateArrayOf(count, !values, [&](int i) { return JsonCreateDouble(values[i], -1); });
}
JsonNode* JsonCreateFloatArray(const float* values, int count) {
    return CreateArrayOf(count, !values, [&](int i) { return JsonCreateDouble(values[i], -1); });
}
JsonNode* JsonCreateDoubleArray(const double* values, int count) {
    return CreateArrayOf(count, !values, [&](int i) { return JsonCreateDouble(values[i], -1); });
}
JsonNode* JsonCreateStringArray(const char* const* values, int count) {
    return CreateArrayOf(count, !values, [&](int i) { return JsonCreateString(values[i]); });
}

uint64_t JsonDoubleToUnsigned(double value) {
    if (std::isnan(value)) return 0;
    if (value >= 18446744073709551616.0) return UINT64_MAX;
    if (value >= 0) return static_cast<uint64_t>(value);
    if (value <= -9223372036854775808.0) return uint64_t(1) << 63;
    return static_cast<uint64_t>(static_cast<int64_t>(value));
}

void JsonAppend(JsonNode* array, JsonNode* item) {
    if (!array || !item) return;
    if (!array->child) {
        array->child = item;
        item->prev = nullptr;
        return;
    }
    JsonNode* last = array->child;
    while (last->next) last = last->next;
    last->next = item;
    item->prev = last;
}

void JsonPrepend(JsonNode* array, JsonNode* item) {
    if (!array || !item) return;
    item->prev = nullptr;
    item->next = array->child;
    if (array->child) array->child->prev = item;
    array->child = item;
}

bool JsonAddToObject(JsonNode* object, const char* key, JsonNode* item) {
    if (!object || !key || !item) return false;
    if (!SetKey(item, key)) return false;
    JsonAppend(object, item);
    return true;
}

bool JsonAddReferenceToArray(JsonNode* array, const JsonNode* item) {
    if (!array || !item) return false;
    JsonNode* reference = CreateReference(item);
    if (!reference) return false;
    JsonAppend(array, reference);
    return true;
}

bool JsonAddReferenceToObject(JsonNode* object, const char* key, const JsonNode* item) {
    if (!object || !key || !item) return false;
    JsonNode* reference = CreateReference(item);
    if (!reference) return false;
    if (!JsonAddToObject(object, key, reference)) {
        JsonDelete(reference);
        return false;
    }
    return true;
}

JsonNode* JsonDetachFromArray(JsonNode* array, int index) {
    JsonNode* item = JsonArrayItem(array, index);
    if (item) Detach(array, item);
    return item;
}

JsonNode* JsonDetachFromObject(JsonNode* object, const char* key) {
    JsonNode* item = JsonObjectItem(object, key);
    if (item) Detach(object, item);
    return item;
}

void JsonDeleteFromArray(JsonNode* array, int index) { JsonDelete(JsonDetachFromArray(array, index)); }
void JsonDeleteFromObject(JsonNode* object, const char* key) { JsonDelete(JsonDetachFromObject(object, key)); }

bool JsonReplaceInArray(JsonNode* array, int index, JsonNode* item) {
    if (!item) return false;
    JsonNode* old = JsonArrayItem(array, index);
    if (!old) return false;
    if (old != item) ReplaceChild(array, old, item);
    return true;
}

bool JsonReplaceInObject(JsonNode* object, const char* key, JsonNode* item) {
    if (!item) return false;
    JsonNode* old = JsonObjectItem(object, key);
    if (!old || !SetKey(item, key)) return false;
    if (old != item) ReplaceChild(object, old, item);
    return true;
}
