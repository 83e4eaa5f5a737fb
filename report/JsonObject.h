// CJsonObject: the installer's one JSON type. A document, or a view of one
// node inside another document, with typed access by key and by index.
// Values go in and out as plain values, sub-documents as CJsonObject objects
// (copied through their text), and whole documents as JSON text.
//
// Keys match without regard to ASCII case; the first member of a key wins.
// Numbers keep their kind: an integer written without fraction or exponent is
// an Int and reads only as an integer type; a number with a fraction or an
// exponent is a Double and reads only as float or double.
//
// One object is used by one thread at a time.
#pragma once

#include <cstdint>
#include <map>
#include <string>

struct JsonNode;

class CJsonObject {
public:
    CJsonObject();
    // Parse(text); on failure the object is empty and GetErrorText says why.
    explicit CJsonObject(const std::string& text);
    // A new tree parsed from other's unformatted text (an empty other gives an
    // empty object with the parse error text).
    CJsonObject(const CJsonObject& other);
    explicit CJsonObject(const CJsonObject* other);
    // A view of node, which belongs to another tree and is never deleted here.
    explicit CJsonObject(JsonNode* node);
    virtual ~CJsonObject();

    // Parse of other's unformatted text.
    CJsonObject& operator=(const CJsonObject& other);
    // The two unformatted texts are equal.
    bool operator==(const CJsonObject& other) const;

    // Clear, then parse text. False on failure, with the error text
    // "prase json string error at " followed by the rest of text from where
    // the parse failed.
    bool Parse(const std::string& text);
    // Forgets the viewed node, deletes the owned tree and every wrapper that
    // operator[] handed out.
    void Clear();
    bool IsEmpty() const;
    bool IsArray() const;
    // The text of the document; empty when the object is empty or printing fails.
    std::string ToString() const;
    std::string ToFormattedString() const;
    // The element count of an array, else 0.
    int GetArraySize() const;
    // The last error; a later success does not clear it. Reading never sets it.
    const std::string& GetErrorText() const { return errorText_; }

    // A view of the member (first match) or of the index-th element, cached
    // and owned by this object; an empty object when there is none, whatever
    // is added to it then stays in that empty object. A change through this
    // object that could make a cached view show the wrong node deletes that
    // view: a reference to it must not be used after such a change.
    CJsonObject& operator[](const std::string& key);
    CJsonObject& operator[](unsigned index);

    // Typed reads. False, with value unchanged, when the member or element is
    // missing or holds another kind of value. A CJsonObject receives a new
    // tree (a copy). 32-bit integers must lie within the target's range.
    bool Get(const std::string& key, CJsonObject& value) const;
    bool Get(const std::string& key, std::string& value) const;
    bool Get(const std::string& key, int32_t& value) const;
    bool Get(const std::string& key, uint32_t& value) const;
    bool Get(const std::string& key, int64_t& value) const;
    bool Get(const std::string& key, uint64_t& value) const;
    bool Get(const std::string& key, bool& value) const;
    bool Get(const std::string& key, float& value) const;
    bool Get(const std::string& key, double& value) const;
    bool Get(int index, CJsonObject& value) const;
    bool Get(int index, std::string& value) const;
    bool Get(int index, int32_t& value) const;
    bool Get(int index, uint32_t& value) const;
    bool Get(int index, int64_t& value) const;
    bool Get(int index, uint64_t& value) const;
    bool Get(int index, bool& value) const;
    bool Get(int index, float& value) const;
    bool Get(int index, double& value) const;

    // The value as text: a string's text, a number in decimal, "true" or
    // "false"; empty for a missing value, null, an array or an object.
    std::string operator()(const std::string& key) const;
    std::string operator()(unsigned index) const;

    // By key. Add appends a member (an empty object becomes an Object first)
    // without looking for an existing one: true when the key is found after.
    // Replace changes the first member of the key: false when there is none.
    // Delete removes the first member of the key: true whenever the root is
    // an Object. Signed integers and doubles are stored with sign -1.
    bool Add(const std::string& key, const CJsonObject& value);
    bool Add(const std::string& key, const std::string& value);
    bool Add(const std::string& key, const char* value);
    bool Add(const std::string& key, int32_t value);
    bool Add(const std::string& key, uint32_t value);
    bool Add(const std::string& key, int64_t value);
    bool Add(const std::string& key, uint64_t value);
    bool Add(const std::string& key, bool value);
    bool Add(const std::string& key, float value);
    bool Add(const std::string& key, double value);
    bool AddEmptySubObject(const std::string& key);
    bool AddEmptySubArray(const std::string& key);
    bool Replace(const std::string& key, const CJsonObject& value);
    bool Replace(const std::string& key, const std::string& value);
    bool Replace(const std::string& key, const char* value);
    bool Replace(const std::string& key, int32_t value);
    bool Replace(const std::string& key, uint32_t value);
    bool Replace(const std::string& key, int64_t value);
    bool Replace(const std::string& key, uint64_t value);
    bool Replace(const std::string& key, bool value);
    bool Replace(const std::string& key, float value);
    bool Replace(const std::string& key, double value);
    bool Delete(const std::string& key);

    // By index (an empty object becomes an Array first for Add and
    // AddAsFirst). Add appends and AddAsFirst inserts at the front: true when
    // the element count grew. Replace is false when there is no such element;
    // Delete is true whenever the root is an Array.
    bool Add(const CJsonObject& value);
    bool Add(const std::string& value);
    bool Add(const char* value);
    bool Add(int32_t value);
    bool Add(uint32_t value);
    bool Add(int64_t value);
    bool Add(uint64_t value);
    bool Add(bool value);
    bool Add(float value);
    bool Add(double value);
    bool AddAsFirst(const CJsonObject& value);
    bool AddAsFirst(const std::string& value);
    bool AddAsFirst(const char* value);
    bool AddAsFirst(int32_t value);
    bool AddAsFirst(uint32_t value);
    bool AddAsFirst(int64_t value);
    bool AddAsFirst(uint64_t value);
    bool AddAsFirst(bool value);
    bool AddAsFirst(float value);
    bool AddAsFirst(double value);
    bool Replace(int index, const CJsonObject& value);
    bool Replace(int index, const std::string& value);
    bool Replace(int index, const char* value);
    bool Replace(int index, int32_t value);
    bool Replace(int index, uint32_t value);
    bool Replace(int index, int64_t value);
    bool Replace(int index, uint64_t value);
    bool Replace(int index, bool value);
    bool Replace(int index, float value);
    bool Replace(int index, double value);
    bool Delete(int index);

private:
    // Orders member views by key without regard to ASCII case, as lookups
    // match: one view per member, whatever spelling asked for it.
    struct KeyLess {
        bool operator()(const std::string& a, const std::string& b) const;
    };

    JsonNode* Root() const;
    JsonNode* Member(const std::string& key) const;
    JsonNode* Element(int index) const;
    // A new node of value, or null; a CJsonObject value that does not parse
    // sets the error text.
    JsonNode* MakeNode(const CJsonObject& value);
    // The root as an Object (or Array), made when the object is empty and
    // create is set; null with the error text set otherwise.
    JsonNode* ObjectRoot(bool create);
    JsonNode* ArrayRoot(bool create);
    bool AddMember(const std::string& key, JsonNode* node);
    bool ReplaceMember(const std::string& key, JsonNode* node);
    bool AppendElement(JsonNode* node);
    bool PrependElement(JsonNode* node);
    bool ReplaceElement(int index, JsonNode* node);
    void DropMemberWrapper(const std::string& key);
    void DropElementWrappersFrom(unsigned index);
    void SetParseError(const char* position);

    JsonNode* ownedRoot_ = nullptr;     // parsed or built here; deleted by Clear
    JsonNode* borrowedRoot_ = nullptr;  // a node of another tree (views only)
    std::string errorText_;
    std::map<unsigned, CJsonObject*> elementWrappers_;
    std::map<std::string, CJsonObject*, KeyLess> memberWrappers_;
};
