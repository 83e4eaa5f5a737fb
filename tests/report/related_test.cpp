// The related-product parsers and the rewrite of the client data object.
#include <gtest/gtest.h>

#include <algorithm>

#include "RelatedProductParser.h"
#include "WebStatsManager.h"

namespace {

TEST(RelatedProductParsers, ClassesAndTheirIdLists) {
    CJsonObject none("[]");
    struct Case { int32_t eproduct; size_t count; std::vector<int32_t> some; };
    const Case cases[] = {
        {0, 0, {}},
        {1, 30, {1700, 1703, 1706, 1806, 1812, 1814, 1817, 1824, 1826, 1828, 1841, 1844, 1846, 1849, 1904, 1925}},
        {2, 12, {1822, 1838, 1905, 1914}},
        {3, 2, {1830, 1832}},
        {4, 0, {}},
        {5, 4, {818, 819, 820, 821}},
        {6, 1, {901}},
        {7, 1, {904}},
    };
    for (const Case& c : cases) {
        auto parser = CreateRelatedProductParser(c.eproduct, &none);
        ASSERT_TRUE(parser) << c.eproduct;
        const std::vector<int32_t>& ids = parser->GetProductIdList();
        EXPECT_EQ(ids.size(), c.count) << c.eproduct;
        for (int32_t id : c.some)
            EXPECT_NE(std::find(ids.begin(), ids.end(), id), ids.end()) << c.eproduct << " lacks " << id;
    }
    // Gaps of the Tarvex family list.
    const auto& tarvex = CreateRelatedProductParser(1, &none)->GetProductIdList();
    for (int32_t id : {1704, 1705, 1805, 1813, 1818, 1825, 1829, 1845, 1850})
        EXPECT_EQ(std::find(tarvex.begin(), tarvex.end(), id), tarvex.end()) << id;
    EXPECT_FALSE(CreateRelatedProductParser(8, &none));
    EXPECT_FALSE(CreateRelatedProductParser(9, &none));
    EXPECT_FALSE(CreateRelatedProductParser(-1, &none));
}

// One list holding products of every family: each parser keeps its own, in list order.
TEST(RelatedProductParsers, EachFamilyKeepsItsOwn) {
    CJsonObject info(R"([{"pid":"1700"},{"pid":"1822"},{"pid":"1830"},{"pid":"818"},{"pid":"901"},)"
                     R"({"pid":"904"},{"pid":"1"},{"pid":"1925"},{"pid":"1914"},{"pid":"821"},{"pid":"1832"}])");
    const std::vector<std::vector<int32_t>> kept = {
        {}, {1700, 1925}, {1822, 1914}, {1830, 1832}, {}, {818, 821}, {901}, {904}};
    for (int32_t eproduct = 0; eproduct < static_cast<int32_t>(kept.size()); ++eproduct) {
        std::vector<RelatedProduct> products;
        ASSERT_TRUE(CreateRelatedProductParser(eproduct, &info)->Parse(products));
        std::vector<int32_t> ids;
        for (const auto& product : products) ids.push_back(product.nProductId);
        EXPECT_EQ(ids, kept[eproduct]) << "class " << eproduct;
    }
}

// Each element shape the service may send, through the class-3 parser.
TEST(RelatedProductParsers, ParseKeepsOnlyTheFamilysWellFormedEntries) {
    CJsonObject info(R"([
        {"pid": 1830, "name": "number pid"},
        {"pid": "1830abc", "name": "digits then letters",
         "urls": [{"url_simple": "https://l.example/a", "url_simple_nodomain": "/a", "date": "2024-01-02"},
                  {"url_simple": "second element is never read"}]},
        {"name": "no pid"},
        "not an object",
        {"pid": "1831", "name": "not of the family"},
        {"pid": "99999999999999", "name": "out of range"},
        {"pid": "  +1832", "name": "white space and sign", "urls": []},
        {"pid": "1832", "name": "no urls"},
        {"pid": "1832", "name": "urls not an array", "urls": {"url_simple": "x"}},
        {"pid": "abc", "name": "no number"}
    ])");
    ASSERT_FALSE(info.IsEmpty());
    auto parser = CreateRelatedProductParser(3, &info);
    std::vector<RelatedProduct> products;
    ASSERT_TRUE(parser->Parse(products));
    ASSERT_EQ(products.size(), 4u);
    EXPECT_EQ(products[0].nProductId, 1830);
    EXPECT_EQ(products[0].strName, "digits then letters");
    EXPECT_EQ(products[0].strUrlSimple, "https://l.example/a");
    EXPECT_EQ(products[0].strUrlSimpleNoDomain, "/a");
    EXPECT_EQ(products[0].strDate, "2024-01-02");
    for (size_t i = 1; i < products.size(); ++i) {
        EXPECT_EQ(products[i].nProductId, 1832);
        EXPECT_EQ(products[i].strUrlSimple, "");
        EXPECT_EQ(products[i].strUrlSimpleNoDomain, "");
        EXPECT_EQ(products[i].strDate, "");
    }
    EXPECT_EQ(products[1].strName, "white space and sign");
    EXPECT_EQ(products[2].strName, "no urls");
    EXPECT_EQ(products[3].strName, "urls not an array");

    // Parse appends.
    ASSERT_TRUE(parser->Parse(products));
    EXPECT_EQ(products.size(), 8u);
}

WebStatsConfig ClassConfig(int32_t eproduct) {
    WebStatsConfig config;
    config.eproduct = eproduct;
    config.strCacheFolder = "Z:\\nonexistent-folder\\";
    return config;
}

const char kClientData[] =
    R"({"api_version":3,"user_info":{"token_id":"t","email":""},"download_info":[)"
    R"({"pid":"1830","name":"Lumora One","urls":[{"url_simple":"https://l.example/1","url_simple_nodomain":"/1","date":"d1"}]},)"
    R"({"pid":"5","name":"other"},)"
    R"({"pid":"1832","name":"Lumora Two"}],"tail":1})";

TEST(RelatedProductRewrite, TwoKeptEntriesBecomeFlatKeysAndAList) {
    WebStatsManager client(ClassConfig(3));
    CJsonObject data(kClientData);
    client.RewriteDownloadInfo(data);
    EXPECT_EQ(data.ToString(),
              R"({"api_version":3,"user_info":{"token_id":"t","email":""},"tail":1,)"
              R"("related_product":1830,"url_simple":"https://l.example/1","url_simple_nodomain":"/1",)"
              R"("visit_time":"d1","related_product_name":["Lumora One"],"related_products_all":[)"
              R"({"related_product":1830,"related_product_name":"Lumora One","url_simple":"https://l.example/1",)"
              R"("url_simple_nodomain":"/1","visit_time":"d1"},)"
              R"({"related_product":1832,"related_product_name":"Lumora Two","url_simple":"",)"
              R"("url_simple_nodomain":"","visit_time":""}]})");
}

TEST(RelatedProductRewrite, OwnProductDropsTheListAndUnknownClassKeepsIt) {
    struct Case { int32_t eproduct; std::string expected; };
    const Case cases[] = {
        {4, R"({"api_version":3,"user_info":{"token_id":"t","email":""},"tail":1})"},
        {0, R"({"api_version":3,"user_info":{"token_id":"t","email":""},"tail":1})"},
        {9, CJsonObject(kClientData).ToString()},
    };
    for (const Case& c : cases) {
        WebStatsManager client(ClassConfig(c.eproduct));
        CJsonObject data(kClientData);
        client.RewriteDownloadInfo(data);
        EXPECT_EQ(data.ToString(), c.expected) << c.eproduct;
    }
    // No "download_info": nothing changes.
    WebStatsManager client(ClassConfig(3));
    CJsonObject data(R"({"api_version":3})");
    client.RewriteDownloadInfo(data);
    EXPECT_EQ(data.ToString(), R"({"api_version":3})");
}

}  // namespace
