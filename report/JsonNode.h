// The JSON node core: a tree of linked nodes parsed from a narrow text,
// printed back as formatted or unformatted text, and built or edited node by
// node. Integers are 64 bits wide: an Int node keeps an unsigned 64-bit value
// and a sign that says whether it prints as signed (-1) or unsigned.
//
// Plain C++ without any Windows call, so the same sources also build natively
// (the fuzz target). The document class CJsonObject is the only user; nothing
// else in the installer touches nodes.
#pragma once

#include <cstddef>
#include <cstdint>

enum class JsonNodeType : int32_t {
    False = 0,
    True = 1,
    Null = 2,
    Int = 3,
    Double = 4,
    String = 5,
    Array = 6,
    Object = 7,
};

// Set in JsonNode::type on a node that shares child and stringValue with
// another node and owns neither.
constexpr int32_t kJsonReferenceFlag = 0x100;

// Nesting deeper than this fails the parse (and the print) cleanly instead of
// running the stack out.
constexpr int kJsonMaxNestingDepth = 1000;

// One value. Allocated zero-filled through the allocation hooks.
struct JsonNode {
    JsonNode* next;      // next sibling, null for the last
    JsonNode* prev;      // previous sibling, null for the first
    JsonNode* child;     // first element of an array or first member of an object
    int32_t type;        // a JsonNodeType, plus kJsonReferenceFlag
    char* stringValue;   // text of a String node (heap)
    uint64_t intValue;   // Int value (two's complement when negative); also set for Double and True
    double doubleValue;  // Double value; also set for Int (intValue read as unsigned)
    int32_t sign;        // -1: an Int prints as signed; any other value: as unsigned
    char* key;           // member name inside an object, else null (heap)
};

// The node's type without the reference flag.
inline JsonNodeType JsonTypeOf(const JsonNode* node) {
    return static_cast<JsonNodeType>(node->type & ~kJsonReferenceFlag);
}

// Allocation hooks, process-wide. A null pointer, or a null member, selects
// the C runtime's malloc or free. Set them once at start-up, before any node
// exists: a node must be freed by the hook that allocated it.
struct JsonHooks {
    void* (*allocate)(size_t size);
    void (*release)(void* pointer);
};
void JsonInitHooks(const JsonHooks* hooks);

// Parses one value from a NUL-terminated text; whatever follows it is
// ignored. Null on failure (also for a null text), with JsonErrorPosition set.
JsonNode* JsonParse(const char* text);
// Where the last JsonParse of the calling thread failed: a pointer into that
// call's text (valid only while the text lives), null after a success. Each
// thread has its own, so a parse on one thread never moves another's.
const char* JsonErrorPosition();

// New NUL-terminated texts, to be freed with JsonFree; null when memory runs
// out, for a null node, or when the tree nests deeper than the printer allows.
char* JsonPrint(const JsonNode* node);
char* JsonPrintUnformatted(const JsonNode* node);
// Frees a printed text (or any buffer of the allocation hooks); null does nothing.
void JsonFree(void* pointer);

// Deletes the node, everything it owns, and all siblings that follow it:
// detach a node before deleting it alone. Null does nothing.
void JsonDelete(JsonNode* node);

// Number of children of an array or object (0 for null or any other node).
int JsonArraySize(const JsonNode* node);
// The index-th child, or null; an index of 0 or below gives the first child.
JsonNode* JsonArrayItem(const JsonNode* node, int index);
// The first child whose key equals key, ASCII letters compared without case;
// a child without a key never matches.
JsonNode* JsonObjectItem(const JsonNode* node, const char* key);

// New nodes, or null when memory runs out.
JsonNode* JsonCreateNull();
JsonNode* JsonCreateTrue();
JsonNode* JsonCreateFalse();
JsonNode* JsonCreateBool(int value);
// intValue = value, doubleValue = value read as unsigned, sign as given.
JsonNode* JsonCreateInt(uint64_t value, int32_t sign);
// doubleValue = value, intValue = value converted to 64 bits (see JsonDoubleToUnsigned).
JsonNode* JsonCreateDouble(double value, int32_t sign);
// Copies the text; null text gives null.
JsonNode* JsonCreateString(const char* text);
JsonNode* JsonCreateArray();
JsonNode* JsonCreateObject();
// Arrays of Double nodes, or of String nodes; null when memory runs out or
// values is null with a positive count.
JsonNode* JsonCreateIntArray(const int* values, int count);
JsonNode* JsonCreateFloatArray(const float* values, int count);
JsonNode* JsonCreateDoubleArray(const double* values, int count);
JsonNode* JsonCreateStringArray(const char* const* values, int count);

// The double's value as intValue holds it: truncated toward zero, negative
// values in two's complement; NaN gives 0 and values outside the 64-bit range
// saturate (below -2^63 to -2^63, at or above 2^64 to 2^64 - 1).
uint64_t JsonDoubleToUnsigned(double value);

// item becomes the last (Append) or first (Prepend) child. A null array or
// item does nothing. The item must not be linked anywhere else.
void JsonAppend(JsonNode* array, JsonNode* item);
void JsonPrepend(JsonNode* array, JsonNode* item);
// item's key becomes a copy of key (an old key is freed), then it is appended.
// False, with nothing changed and the item still the caller's, for a null
// argument or when the key cannot be copied.
bool JsonAddToObject(JsonNode* object, const char* key, JsonNode* item);
// Append a Reference copy of item (its fields, no key, no links); false when
// memory runs out. The copy shares item's children and text.
bool JsonAddReferenceToArray(JsonNode* array, const JsonNode* item);
bool JsonAddReferenceToObject(JsonNode* object, const char* key, const JsonNode* item);

// Unlink the child found as by JsonArrayItem / JsonObjectItem and return it
// (its next and prev cleared), or null when none is found.
JsonNode* JsonDetachFromArray(JsonNode* array, int index);
JsonNode* JsonDetachFromObject(JsonNode* object, const char* key);
// Detach and delete; nothing when none is found.
void JsonDeleteFromArray(JsonNode* array, int index);
void JsonDeleteFromObject(JsonNode* object, const char* key);

// item takes the found child's place, which is deleted; the object form gives
// item a copy of key. False when nothing is found (or the key cannot be
// copied): nothing changes and the item stays the caller's to delete.
bool JsonReplaceInArray(JsonNode* array, int index, JsonNode* item);
bool JsonReplaceInObject(JsonNode* object, const char* key, JsonNode* item);
