#include "XMLParse.h"

#include <windows.h>

#include <boost/property_tree/xml_parser.hpp>
#include <boost/tokenizer.hpp>

#include <sstream>
#include <stdexcept>

#include "JFile.h"
#include "Log.h"

namespace pt = boost::property_tree;

namespace {

const int kIntSentinel = -9999999;
const uint32_t kUIntSentinel = 999999;
const float kFloatSentinel = -99999.9f;
const char kStringSentinel[] = "{__see_it_is_read_string_failed_}";

// "a.b.c" -> "a.b.<xmlattr>.c"; false for a path without '.'.
bool AttributePath(std::string& path) {
    size_t dot = path.rfind('.');
    if (dot == std::string::npos) return false;
    path.insert(dot, ".<xmlattr>");
    return true;
}

std::vector<std::string> SplitPath(const std::string& path) {
    std::vector<std::string> pieces;
    boost::char_separator<char> separator(".");
    boost::tokenizer<boost::char_separator<char>> tokens(path, separator);
    for (const auto& t : tokens) pieces.push_back(t);
    return pieces;
}

// The first child of that name, in document order.
const pt::ptree* FirstChild(const pt::ptree& node, const std::string& name) {
    for (const auto& child : node)
        if (child.first == name) return &child.second;
    return nullptr;
}

bool PathExists(const pt::ptree& root, const std::string& path) {
    std::vector<std::string> pieces = SplitPath(path);
    if (pieces.empty()) return false;
    const pt::ptree* node = &root;
    for (const auto& piece : pieces) {
        node = FirstChild(*node, piece);
        if (!node) return false;
    }
    return true;
}

void EraseItems(pt::ptree& list) {
    for (auto it = list.begin(); it != list.end();) {
        if (it->first == "item")
            it = list.erase(it);
        else
            ++it;
    }
}

template <typename T>
int ReadList(const pt::ptree& tree, const std::string& path, std::vector<T>& out) {
    out.clear();
    try {
        const pt::ptree& list = tree.get_child(path);
        for (const auto& child : list) {
            if (child.first == "<xmlattr>") continue;
            if (child.first != "item") return 0;
            out.push_back(child.second.get<T>("<xmlattr>.key"));
        }
        return 1;
    } catch (...) {
        return 0;
    }
}

template <typename T>
int WriteList(pt::ptree& tree, const std::string& path, const std::vector<T>& values) {
    try {
        pt::ptree& list = tree.get_child(path);
        EraseItems(list);
        for (const T& v : values) {
            pt::ptree item;
            item.put("<xmlattr>.key", v);
            list.push_back(std::make_pair("item", item));
        }
        return 1;
    } catch (...) {
        return 0;
    }
}

template <typename T>
int ReadScalar(const pt::ptree& tree, std::string path, T& out, T sentinel, const char* failMessage) {
    std::string original = path;
    try {
        if (!AttributePath(path)) throw std::invalid_argument("no attribute");
        out = tree.get<T>(path, sentinel);
        return out != sentinel ? 1 : 0;
    } catch (...) {
        out = sentinel;
        if (failMessage) WriteLog(failMessage, original.c_str());
        return 0;
    }
}

template <typename T>
int WriteScalar(pt::ptree& tree, std::string path, const T& value, const char* failMessage) {
    std::string original = path;
    try {
        if (!AttributePath(path)) throw std::invalid_argument("no attribute");
        tree.put(path, value);
        return 1;
    } catch (...) {
        if (failMessage) WriteLog(failMessage, original.c_str());
        return 0;
    }
}

class XMLParse : public IXMLParse {
public:
    IXMLParse* Clone() override {
        XMLParse* copy = new (std::nothrow) XMLParse;
        if (!copy) return nullptr;
        copy->tree_ = tree_;
        copy->path_ = path_;
        copy->loaded_ = loaded_;
        return copy;
    }

    int ReadFloatList(std::string path, std::vector<float>& out) override { return ReadList(tree_, path, out); }
    int ReadIntList(std::string path, std::vector<int>& out) override { return ReadList(tree_, path, out); }
    int ReadStringList(std::string path, std::vector<std::string>& out) override { return ReadList(tree_, path, out); }

    int ReadUInt64(std::string path, uint64_t& out) override {
        return ReadScalar<uint64_t>(tree_, path, out, kUIntSentinel, "XMLParse: error read unsigned int from %s\n");
    }
    int ReadUInt(std::string path, uint32_t& out) override {
        return ReadScalar<uint32_t>(tree_, path, out, kUIntSentinel, "XMLParse: error read unsigned int from %s\n");
    }
    // A missing attribute reads as the sentinel and fails, like the other readers.
    int ReadFloat(std::string path, float& out) override {
        return ReadScalar<float>(tree_, path, out, kFloatSentinel, nullptr);
    }
    int ReadInt(std::string path, int& out) override { return ReadScalar<int>(tree_, path, out, kIntSentinel, nullptr); }

    int ReadString(std::string path, std::string& out) override {
        try {
            if (!AttributePath(path)) return 0;
            std::string text = tree_.get<std::string>(path, kStringSentinel);
            if (text == kStringSentinel) return 0;
            out = text;
            return 1;
        } catch (...) {
            return 0;
        }
    }

    int WriteFloatList(std::string path, const std::vector<float>& values) override { return WriteList(tree_, path, values); }
    int WriteIntList(std::string path, const std::vector<int>& values) override { return WriteList(tree_, path, values); }
    // A missing list element is made once and the write tried again; a second
    // failure is the result (no further retry).
    int WriteStringList(std::string path, const std::vector<std::string>& values) override {
        if (WriteList(tree_, path, values)) return 1;
        if (!SetStringNode(path, "")) return 0;
        return WriteList(tree_, path, values);
    }

    int WriteUInt64(std::string path, uint64_t value) override {
        return WriteScalar(tree_, path, value, "XMLParse: error WriteXML uint64_t to %s\n");
    }
    int WriteUInt(std::string path, uint32_t value) override {
        return WriteScalar(tree_, path, value, "XMLParse: error WriteXML int to %s\n");
    }
    int WriteFloat(std::string path, float value) override { return WriteScalar(tree_, path, value, nullptr); }
    int WriteInt(std::string path, int value) override { return WriteScalar(tree_, path, value, nullptr); }
    int WriteString(std::string path, std::string value) override { return WriteScalar(tree_, path, value, nullptr); }

    int SetUInt64(std::string path, uint64_t value) override {
        return SetAttribute(path, value, [&] { return WriteUInt64(path, value); });
    }
    int SetUInt(std::string path, uint32_t value) override {
        return SetAttribute(path, value, [&] { return WriteUInt(path, value); });
    }
    int SetFloat(std::string path, float value) override {
        return SetAttribute(path, value, [&] { return WriteFloat(path, value); });
    }
    int SetInt(std::string path, int value) override {
        return SetAttribute(path, value, [&] { return WriteInt(path, value); });
    }
    int SetString(std::string path, std::string value) override {
        return SetAttribute(path, value, [&] { return WriteString(path, value); });
    }

    int SetFloatList(std::string path, const std::vector<float>& values) override {
        if (!SetStringNode(path, "")) return 0;
        return WriteFloatList(path, values);
    }
    int SetIntList(std::string path, const std::vector<int>& values) override {
        if (!SetStringNode(path, "")) return 0;
        return WriteIntList(path, values);
    }
    int SetStringList(std::string path, const std::vector<std::string>& values) override {
        if (!SetStringNode(path, "")) return 0;
        return WriteList(tree_, path, values);
    }

    int SetFloatNode(std::string path, float value) override { return PutNode(path, value); }
    int SetIntNode(std::string path, int value) override { return PutNode(path, value); }
    int SetStringNode(std::string path, std::string value) override { return PutNode(path, value); }

    int RemoveAttribute(std::string path) override {
        if (!AttributePath(path)) return 0;
        return RemoveNode(path);
    }

    int RemoveNode(std::string path) override {
        try {
            if (!PathExists(tree_, path)) return 1;
            size_t dot = path.rfind('.');
            pt::ptree* parent = &tree_;
            std::string name = path;
            if (dot != std::string::npos) {
                parent = &tree_.get_child(path.substr(0, dot));
                name = path.substr(dot + 1);
            }
            for (auto it = parent->begin(); it != parent->end(); ++it) {
                if (it->first == name) {
                    parent->erase(it);
                    break;
                }
            }
            return 1;
        } catch (...) {
            return 0;
        }
    }

    int LoadFromMemory(const char* text, int length) override {
        if (!text) return 0;
        try {
            std::istringstream in{std::string(text)};
            pt::ptree parsed;
            pt::read_xml(in, parsed, pt::xml_parser::trim_whitespace);
            tree_.swap(parsed);
            return 1;
        } catch (...) {
            return 0;
        }
    }

    int LoadFromFile(std::wstring path) override {
        std::vector<char> buffer;
        int64_t size = 0;
        {
            JFile file;
            if (!file.Open(path, E_File_Read | E_File_Binary)) return 0;
            size = file.GetSize();
            // Sizes that do not fit the buffer (or are absurd for a document) are refused.
            if (size < 0 || size > kXmlFileLimit) {
                file.Close();
                return 0;
            }
            try {
                buffer.assign(static_cast<size_t>(size) + 1, 0);
            } catch (...) {
                file.Close();
                return 0;
            }
            file.SeekToBegin();
            int64_t got = size ? file.Read(buffer.data(), static_cast<size_t>(size)) : 0;
            file.Close();
            if (got != size) return 0;
        }
        if (!LoadFromMemory(buffer.data(), static_cast<int>(size))) return 0;
        path_ = path;
        loaded_ = 1;
        return 1;
    }

    int IsLoaded() override { return loaded_; }
    int Save() override { return SaveToFile(path_); }

    int SaveToFile(std::wstring path) override {
        try {
            std::ostringstream out;
            pt::write_xml(out, tree_, pt::xml_writer_make_settings<std::string>('\t', 1, "utf-8"));
            std::string text = out.str();
            JFile file;
            if (!file.Open(path, E_File_Write | E_File_Binary)) return E_FAIL;
            int64_t written = file.Write(text.data(), text.size());
            file.Close();
            return written == static_cast<int64_t>(text.size()) ? 1 : 0;
        } catch (...) {
            return 0;
        }
    }

    Tree& GetTree() override { return tree_; }

    int ReadItemTable(std::string path, ColumnMap columns, ItemTable& table, std::string defaultText) override {
        try {
            const pt::ptree& element = tree_.get_child(path);
            ItemTable rows;
            for (const auto& child : element) {
                if (child.first == "<xmlattr>") continue;
                // A row without any attribute is malformed: the whole read fails.
                const pt::ptree& attrs = child.second.get_child("<xmlattr>");
                std::map<int, std::string> row;
                for (int i = 0; i < static_cast<int>(columns.size()); ++i) {
                    auto column = columns.find(i);
                    if (column == columns.end()) {
                        row[i] = defaultText;
                        continue;
                    }
                    const pt::ptree* value = FirstChild(attrs, column->second);
                    row[i] = value ? value->data() : defaultText;
                }
                const pt::ptree* key = FirstChild(attrs, "key");
                rows.emplace(key ? key->data() : defaultText, row);
            }
            table.swap(rows);
            return 0;
        } catch (...) {
            return E_FAIL;
        }
    }

    int WriteItemTable(std::string path, ColumnMap columns, const ItemTable& table) override {
        try {
            pt::ptree& element = tree_.get_child(path);
            EraseItems(element);
            for (const auto& row : table) {
                pt::ptree item;
                for (const auto& column : row.second) {
                    auto name = columns.find(column.first);
                    if (name == columns.end()) continue;  // a column without a name is not written
                    item.put(pt::ptree::path_type("<xmlattr>/" + name->second, '/'), column.second);
                }
                element.push_back(std::make_pair("item", item));
            }
            return 0;
        } catch (...) {
            return E_FAIL;
        }
    }

private:
    template <typename T, typename Writer>
    int SetAttribute(const std::string& path, const T& value, Writer write) {
        try {
            std::string turned = path;
            if (!AttributePath(turned)) return 0;
            if (PathExists(tree_, turned)) return write();
            tree_.put(turned, value);
            return 1;
        } catch (...) {
            return 0;
        }
    }

    template <typename T>
    int PutNode(const std::string& path, const T& value) {
        try {
            tree_.put(path, value);
            return 1;
        } catch (...) {
            return 0;
        }
    }

    Tree tree_;
    std::wstring path_;
    int loaded_ = 0;
};

}  // namespace

int CreateXMLParse(boost::shared_ptr<IXMLParse>& out) {
    try {
        out.reset(new XMLParse);
        return 0;
    } catch (...) {
        return E_FAIL;
    }
}
