// Accessor for one XML document held as a property tree: typed values by
// dotted path, lists and tables as rows of child elements, load and save.
#pragma once

#include <boost/property_tree/ptree.hpp>
#include <boost/shared_ptr.hpp>

#include <map>
#include <string>
#include <vector>

class IXMLParse {
public:
    using Tree = boost::property_tree::ptree;
    using ColumnMap = std::map<int, std::string>;
    using ItemTable = std::map<std::string, std::map<int, std::string>>;

    virtual ~IXMLParse() = default;
    virtual IXMLParse* Clone() = 0;
    virtual int ReadFloatList(std::string path, std::vector<float>& out) = 0;
    virtual int ReadIntList(std::string path, std::vector<int>& out) = 0;
    virtual int ReadStringList(std::string path, std::vector<std::string>& out) = 0;
    virtual int ReadUInt64(std::string path, uint64_t& out) = 0;
    virtual int ReadUInt(std::string path, uint32_t& out) = 0;
    virtual int ReadFloat(std::string path, float& out) = 0;
    virtual int ReadInt(std::string path, int& out) = 0;
    virtual int ReadString(std::string path, std::string& out) = 0;
    virtual int WriteFloatList(std::string path, const std::vector<float>& values) = 0;
    virtual int WriteIntList(std::string path, const std::vector<int>& values) = 0;
    virtual int WriteStringList(std::string path, const std::vector<std::string>& values) = 0;
    virtual int WriteUInt64(std::string path, uint64_t value) = 0;
    virtual int WriteUInt(std::string path, uint32_t value) = 0;
    virtual int WriteFloat(std::string path, float value) = 0;
    virtual int WriteInt(std::string path, int value) = 0;
    virtual int WriteString(std::string path, std::string value) = 0;
    virtual int SetUInt64(std::string path, uint64_t value) = 0;
    virtual int SetUInt(std::string path, uint32_t value) = 0;
    virtual int SetFloatList(std::string path, const std::vector<float>& values) = 0;
    virtual int SetIntList(std::string path, const std::vector<int>& values) = 0;
    virtual int SetStringList(std::string path, const std::vector<std::string>& values) = 0;
    virtual int SetFloat(std::string path, float value) = 0;
    virtual int SetInt(std::string path, int value) = 0;
    virtual int SetString(std::string path, std::string value) = 0;
    virtual int SetFloatNode(std::string path, float value) = 0;
    virtual int SetIntNode(std::string path, int value) = 0;
    virtual int SetStringNode(std::string path, std::string value) = 0;
    virtual int RemoveAttribute(std::string path) = 0;
    virtual int RemoveNode(std::string path) = 0;
    virtual int LoadFromMemory(const char* text, int length) = 0;
    virtual int LoadFromFile(std::wstring path) = 0;
    virtual int IsLoaded() = 0;
    virtual int Save() = 0;
    virtual int SaveToFile(std::wstring path) = 0;
    virtual Tree& GetTree() = 0;
    virtual int ReadItemTable(std::string path, ColumnMap columns, ItemTable& table, std::string defaultText) = 0;
    virtual int WriteItemTable(std::string path, ColumnMap columns, const ItemTable& table) = 0;
};

// 0 and a new, empty accessor in out; E_FAIL when none could be made.
int CreateXMLParse(boost::shared_ptr<IXMLParse>& out);

// Largest file LoadFromFile reads; a manifest is a few kilobytes.
constexpr int64_t kXmlFileLimit = 64 * 1024 * 1024;
