// The related-product parsers: from the analytics service's list of visited
// products ("download_info"), each keeps the entries of one product family.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "JsonObject.h"

struct RelatedProduct {
    int32_t nProductId = 0;
    std::string strName;
    std::string strUrlSimple;
    std::string strUrlSimpleNoDomain;
    std::string strDate;
};

// Owned through a shared pointer made with the concrete class.
class IRelatedProductParser {
public:
    // Appends the kept elements; always true.
    virtual bool Parse(std::vector<RelatedProduct>& out) = 0;
    virtual const std::vector<int32_t>& GetProductIdList() = 0;

protected:
    ~IRelatedProductParser() = default;
};

class RelatedProductParserBase : public IRelatedProductParser {
public:
    // downloadInfo is borrowed: the caller keeps it alive while the parser is used.
    explicit RelatedProductParserBase(const CJsonObject* downloadInfo) : downloadInfo_(downloadInfo) {}
    virtual ~RelatedProductParserBase() = default;
    bool Parse(std::vector<RelatedProduct>& out) override;

private:
    const CJsonObject* downloadInfo_;
};

class RelatedProductParserEmpty : public RelatedProductParserBase {
public:
    using RelatedProductParserBase::RelatedProductParserBase;
    const std::vector<int32_t>& GetProductIdList() override;
};

class RelatedProductParserTarvex : public RelatedProductParserBase {
public:
    using RelatedProductParserBase::RelatedProductParserBase;
    const std::vector<int32_t>& GetProductIdList() override;
};

class RelatedProductParserVelloran : public RelatedProductParserBase {
public:
    using RelatedProductParserBase::RelatedProductParserBase;
    const std::vector<int32_t>& GetProductIdList() override;
};

class RelatedProductParserLumora : public RelatedProductParserBase {
public:
    using RelatedProductParserBase::RelatedProductParserBase;
    const std::vector<int32_t>& GetProductIdList() override;
};

// The installer's own family: no related products.
class RelatedProductParserOrvane : public RelatedProductParserEmpty {
public:
    using RelatedProductParserEmpty::RelatedProductParserEmpty;
};

class RelatedProductParserSkavel : public RelatedProductParserBase {
public:
    using RelatedProductParserBase::RelatedProductParserBase;
    const std::vector<int32_t>& GetProductIdList() override;
};

class RelatedProductParserCindral : public RelatedProductParserBase {
public:
    using RelatedProductParserBase::RelatedProductParserBase;
    const std::vector<int32_t>& GetProductIdList() override;
};

class RelatedProductParserOstrelle : public RelatedProductParserBase {
public:
    using RelatedProductParserBase::RelatedProductParserBase;
    const std::vector<int32_t>& GetProductIdList() override;
};

// The parser of product class eproduct (0 to 7) over downloadInfo; null for any other class.
std::shared_ptr<IRelatedProductParser> CreateRelatedProductParser(int32_t eproduct, const CJsonObject* downloadInfo);
