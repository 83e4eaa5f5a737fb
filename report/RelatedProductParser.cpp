#include "RelatedProductParser.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <exception>

namespace {

// The leading decimal number of text as atoi reads it (white space and a sign
// allowed, stopping at the first non-digit, 0 without a number); false when
// it lies outside the int32 range.
bool LeadingNumber(const std::string& text, int32_t& value) {
    errno = 0;
    long number = std::strtol(text.c_str(), nullptr, 10);
    if (errno == ERANGE || number < INT32_MIN || number > INT32_MAX) return false;
    value = static_cast<int32_t>(number);
    return true;
}

std::vector<int32_t> IdRange(std::initializer_list<std::pair<int32_t, int32_t>> ranges) {
    std::vector<int32_t> ids;
    for (const auto& range : ranges)
        for (int32_t id = range.first; id <= range.second; ++id) ids.push_back(id);
    return ids;
}

}  // namespace

bool RelatedProductParserBase::Parse(std::vector<RelatedProduct>& out) {
    const std::vector<int32_t> ids = GetProductIdList();
    if (!downloadInfo_) return true;
    int count = downloadInfo_->GetArraySize();
    for (int index = 0; index < count; ++index) {
        try {
            CJsonObject item;
            if (!downloadInfo_->Get(index, item)) continue;
            std::string pid;
            if (!item.Get("pid", pid)) continue;
            int32_t id = 0;
            if (!LeadingNumber(pid, id) || std::find(ids.begin(), ids.end(), id) == ids.end()) continue;

            RelatedProduct product;
            product.nProductId = id;
            item.Get("name", product.strName);
            CJsonObject urls;
            CJsonObject first;
            if (item.Get("urls", urls) && urls.GetArraySize() >= 1 && urls.Get(0, first)) {
                first.Get("url_simple", product.strUrlSimple);
                first.Get("url_simple_nodomain", product.strUrlSimpleNoDomain);
                first.Get("date", product.strDate);
            }
            out.push_back(std::move(product));
        } catch (const std::exception&) {
            // a malformed element costs only itself
        }
    }
    return true;
}

const std::vector<int32_t>& RelatedProductParserEmpty::GetProductIdList() {
    static const std::vector<int32_t> ids;
    return ids;
}

const std::vector<int32_t>& RelatedProductParserTarvex::GetProductIdList() {
    static const std::vector<int32_t> ids = IdRange({{1700, 1703}, {1706, 1706}, {1806, 1812}, {1814, 1817},
                                                     {1824, 1824}, {1826, 1828}, {1841, 1844}, {1846, 1849},
                                                     {1904, 1904}, {1925, 1925}});
    return ids;
}

const std::vector<int32_t>& RelatedProductParserVelloran::GetProductIdList() {
    static const std::vector<int32_t> ids = IdRange({{1822, 1822}, {1838, 1838}, {1905, 1914}});
    return ids;
}

const std::vector<int32_t>& RelatedProductParserLumora::GetProductIdList() {
    static const std::vector<int32_t> ids = {1830, 1832};
    return ids;
}

const std::vector<int32_t>& RelatedProductParserSkavel::GetProductIdList() {
    static const std::vector<int32_t> ids = {818, 819, 820, 821};
    return ids;
}

const std::vector<int32_t>& RelatedProductParserCindral::GetProductIdList() {
    static const std::vector<int32_t> ids = {901};
    return ids;
}

const std::vector<int32_t>& RelatedProductParserOstrelle::GetProductIdList() {
    static const std::vector<int32_t> ids = {904};
    return ids;
}

std::shared_ptr<IRelatedProductParser> CreateRelatedProductParser(int32_t eproduct, const CJsonObject* downloadInfo) {
    switch (eproduct) {
        case 0: return std::make_shared<RelatedProductParserEmpty>(downloadInfo);
        case 1: return std::make_shared<RelatedProductParserTarvex>(downloadInfo);
        case 2: return std::make_shared<RelatedProductParserVelloran>(downloadInfo);
        case 3: return std::make_shared<RelatedProductParserLumora>(downloadInfo);
        case 4: return std::make_shared<RelatedProductParserOrvane>(downloadInfo);
        case 5: return std::make_shared<RelatedProductParserSkavel>(downloadInfo);
        case 6: return std::make_shared<RelatedProductParserCindral>(downloadInfo);
        case 7: return std::make_shared<RelatedProductParserOstrelle>(downloadInfo);
        default: return nullptr;
    }
}
