// CJsonObject: typed access by key and index, views of members and elements,
// copies, error texts.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "JsonNode.h"
#include "JsonObject.h"

namespace {

TEST(CJsonObjectTest, AddByKeyPrintsEveryValueType) {
    CJsonObject doc;
    CJsonObject sub("{\"x\":[1,2]}");
    EXPECT_TRUE(doc.Add("i32", int32_t(-5)));
    EXPECT_TRUE(doc.Add("u32", uint32_t(4294967295u)));
    EXPECT_TRUE(doc.Add("i64", int64_t(-1)));
    EXPECT_TRUE(doc.Add("i64min", INT64_MIN));
    EXPECT_TRUE(doc.Add("u64", UINT64_MAX));
    EXPECT_TRUE(doc.Add("yes", true));
    EXPECT_TRUE(doc.Add("no", false));
    EXPECT_TRUE(doc.Add("d", 2.5));
    EXPECT_TRUE(doc.Add("f", 0.25f));
    EXPECT_TRUE(doc.Add("s", std::string("text")));
    EXPECT_TRUE(doc.Add("c", "literal"));  // stays a string, not a bool
    EXPECT_TRUE(doc.Add("sub", sub));
    EXPECT_TRUE(doc.AddEmptySubObject("eo"));
    EXPECT_TRUE(doc.AddEmptySubArray("ea"));
    EXPECT_EQ(doc.ToString(),
              "{\"i32\":-5,\"u32\":4294967295,\"i64\":-1,\"i64min\":-9223372036854775808,"
              "\"u64\":18446744073709551615,\"yes\":true,\"no\":false,\"d\":2.500000,\"f\":0.250000,"
              "\"s\":\"text\",\"c\":\"literal\",\"sub\":{\"x\":[1,2]},\"eo\":{},\"ea\":[]}");
    EXPECT_FALSE(doc.IsArray());
    // The added sub-document is a copy.
    sub.Add("late", 1);
    EXPECT_EQ(doc["sub"].ToString(), "{\"x\":[1,2]}");
}

TEST(CJsonObjectTest, FormattedAndUnformattedTextsRoundTrip) {
    CJsonObject doc("{\"a\":1,\"b\":[2,{\"c\":true}]}");
    EXPECT_EQ(doc.ToFormattedString(), "{\n\t\"a\":\t1,\n\t\"b\":\t[2, {\n\t\t\t\"c\":\ttrue\n\t\t}]\n}");
    CJsonObject back(doc.ToFormattedString());
    EXPECT_EQ(back.ToString(), doc.ToString());
    EXPECT_TRUE(back == doc);
    CJsonObject empty;
    EXPECT_EQ(empty.ToString(), "");
    EXPECT_EQ(empty.ToFormattedString(), "");
}

TEST(CJsonObjectTest, TypedReadsTakeOnlyTheirOwnKind) {
    const CJsonObject doc(
        "{\"int\":3,\"dbl\":3.0,\"str\":\"3\",\"t\":true,\"f\":false,\"n\":null,\"o\":{\"k\":1},\"a\":[1],"
        "\"big\":4294967296,\"neg\":-1,\"max32\":2147483647,\"min32\":-2147483648,\"u32\":4294967295,"
        "\"i64\":-9223372036854775808,\"u64\":18446744073709551615}");
    ASSERT_FALSE(doc.IsEmpty());

    int32_t i = 77;
    EXPECT_TRUE(doc.Get("int", i));
    EXPECT_EQ(i, 3);
    EXPECT_TRUE(doc.Get("INT", i));
    i = 77;
    for (const char* key : {"dbl", "str", "t", "n", "o", "a", "missing", "big", "u32", "u64"}) {
        SCOPED_TRACE(key);
        EXPECT_FALSE(doc.Get(key, i));
        EXPECT_EQ(i, 77);
    }
    EXPECT_TRUE(doc.Get("max32", i));
    EXPECT_EQ(i, INT32_MAX);
    EXPECT_TRUE(doc.Get("min32", i));
    EXPECT_EQ(i, INT32_MIN);

    uint32_t u = 5;
    EXPECT_FALSE(doc.Get("neg", u));
    EXPECT_FALSE(doc.Get("big", u));
    EXPECT_EQ(u, 5u);
    EXPECT_TRUE(doc.Get("u32", u));
    EXPECT_EQ(u, 4294967295u);

    int64_t i64 = 0;
    uint64_t u64 = 0;
    EXPECT_TRUE(doc.Get("i64", i64));
    EXPECT_EQ(i64, INT64_MIN);
    EXPECT_TRUE(doc.Get("u64", u64));
    EXPECT_EQ(u64, UINT64_MAX);
    EXPECT_TRUE(doc.Get("big", i64));
    EXPECT_EQ(i64, 4294967296);
    EXPECT_FALSE(doc.Get("dbl", u64));

    double d = 0;
    float f = 0;
    EXPECT_FALSE(doc.Get("int", d));
    EXPECT_TRUE(doc.Get("dbl", d));
    EXPECT_EQ(d, 3.0);
    EXPECT_TRUE(doc.Get("dbl", f));
    EXPECT_EQ(f, 3.0f);

    std::string s = "keep";
    EXPECT_FALSE(doc.Get("int", s));
    EXPECT_EQ(s, "keep");
    EXPECT_TRUE(doc.Get("str", s));
    EXPECT_EQ(s, "3");

    bool b = false;
    EXPECT_TRUE(doc.Get("t", b));
    EXPECT_TRUE(b);
    EXPECT_TRUE(doc.Get("f", b));
    EXPECT_FALSE(b);
    EXPECT_FALSE(doc.Get("n", b));

    CJsonObject sub;
    EXPECT_TRUE(doc.Get("o", sub));
    EXPECT_EQ(sub.ToString(), "{\"k\":1}");
    EXPECT_TRUE(doc.Get("n", sub));
    EXPECT_EQ(sub.ToString(), "null");
    CJsonObject untouched("[9]");
    EXPECT_FALSE(doc.Get("missing", untouched));
    EXPECT_EQ(untouched.ToString(), "[9]");

    // Reads by key on an array, or by index on an object, find nothing.
    EXPECT_FALSE(doc.Get(0, i));
    const CJsonObject array("[1]");
    EXPECT_FALSE(array.Get("0", i));
}

TEST(CJsonObjectTest, DuplicateKeysAllPrintAndTheFirstIsFound) {
    CJsonObject doc;
    EXPECT_TRUE(doc.Add("k", 1));
    EXPECT_TRUE(doc.Add("k", 2));
    EXPECT_EQ(doc.ToString(), "{\"k\":1,\"k\":2}");
    int32_t value = 0;
    EXPECT_TRUE(doc.Get("K", value));
    EXPECT_EQ(value, 1);
    EXPECT_TRUE(doc.Delete("K"));
    EXPECT_EQ(doc.ToString(), "{\"k\":2}");
}

TEST(CJsonObjectTest, ReplaceAndDeleteByKey) {
    CJsonObject doc("{\"Name\":\"a\",\"n\":1}");
    EXPECT_TRUE(doc.Replace("NAME", std::string("b")));
    EXPECT_EQ(doc.ToString(), "{\"NAME\":\"b\",\"n\":1}");  // the key as spelled by the call
    EXPECT_TRUE(doc.Replace("n", CJsonObject("[true]")));
    EXPECT_TRUE(doc.Replace("n", int64_t(-7)));
    EXPECT_EQ(doc.ToString(), "{\"NAME\":\"b\",\"n\":-7}");
    EXPECT_FALSE(doc.Replace("missing", 1));
    EXPECT_EQ(doc.ToString(), "{\"NAME\":\"b\",\"n\":-7}");
    EXPECT_TRUE(doc.Delete("missing"));
    EXPECT_TRUE(doc.Delete("name"));
    EXPECT_EQ(doc.ToString(), "{\"n\":-7}");
}

TEST(CJsonObjectTest, ArraysByIndex) {
    CJsonObject list;
    EXPECT_TRUE(list.Add(std::string("b")));
    EXPECT_TRUE(list.Add(CJsonObject("{\"x\":1}")));
    EXPECT_TRUE(list.AddAsFirst(int32_t(-1)));
    EXPECT_TRUE(list.Add(uint64_t(18446744073709551615u)));
    EXPECT_TRUE(list.Add(true));
    EXPECT_TRUE(list.Add("c"));
    EXPECT_TRUE(list.IsArray());
    EXPECT_EQ(list.GetArraySize(), 6);
    EXPECT_EQ(list.ToString(), "[-1,\"b\",{\"x\":1},18446744073709551615,true,\"c\"]");

    std::string text;
    EXPECT_TRUE(list.Get(1, text));
    EXPECT_EQ(text, "b");
    CJsonObject element;
    EXPECT_TRUE(list.Get(2, element));
    EXPECT_EQ(element.ToString(), "{\"x\":1}");
    EXPECT_FALSE(list.Get(-1, text));
    EXPECT_FALSE(list.Get(6, text));

    EXPECT_TRUE(list.Replace(0, 2.5));
    EXPECT_FALSE(list.Replace(6, 1));
    EXPECT_FALSE(list.Replace(-1, 1));
    EXPECT_TRUE(list.Delete(1));
    EXPECT_TRUE(list.Delete(40));
    EXPECT_TRUE(list.Delete(-1));
    EXPECT_EQ(list.ToString(), "[2.500000,{\"x\":1},18446744073709551615,true,\"c\"]");
    EXPECT_EQ(list.GetArraySize(), 5);

    const CJsonObject object("{\"a\":[1,2]}");
    EXPECT_EQ(object.GetArraySize(), 0);
}

TEST(CJsonObjectTest, WrongRootsFailWithTheirErrorTexts) {
    CJsonObject object("{\"a\":1}");
    EXPECT_FALSE(object.Add(1));
    EXPECT_EQ(object.GetErrorText(), "not a json array! json object?");
    EXPECT_FALSE(object.Delete(0));
    EXPECT_EQ(object.GetErrorText(), "not a json array! json object?");

    CJsonObject array("[1]");
    EXPECT_FALSE(array.Add("k", 1));
    EXPECT_EQ(array.GetErrorText(), "not a json object! json array?");
    EXPECT_FALSE(array.AddEmptySubArray("k"));
    EXPECT_FALSE(array.Replace("k", 1));
    EXPECT_FALSE(array.Delete("k"));
    EXPECT_EQ(array.GetErrorText(), "not a json object! json array?");
    EXPECT_EQ(array.ToString(), "[1]");

    CJsonObject empty;
    EXPECT_FALSE(empty.Replace("k", 1));
    EXPECT_EQ(empty.GetErrorText(), "json data is null!");
    empty = CJsonObject("[]");
    EXPECT_FALSE(empty.Replace(0, 1));
    EXPECT_TRUE(CJsonObject().GetErrorText().empty());
    CJsonObject none;
    EXPECT_FALSE(none.Delete("k"));
    EXPECT_EQ(none.GetErrorText(), "json data is null!");
    EXPECT_FALSE(none.Delete(0));
    EXPECT_FALSE(none.Replace(0, 1));
    EXPECT_TRUE(none.IsEmpty());

    // The error text stays after later successes; reads never set it.
    EXPECT_TRUE(array.Add(2));
    int32_t value;
    EXPECT_FALSE(array.Get("k", value));
    EXPECT_EQ(array.GetErrorText(), "not a json object! json array?");
}

TEST(CJsonObjectTest, ParseErrorsQuoteTheRestOfTheText) {
    CJsonObject doc;
    EXPECT_FALSE(doc.Parse("{\"a\":1,\"b\" 2,\"c\":3}"));
    EXPECT_EQ(doc.GetErrorText(), "prase json string error at 2,\"c\":3}");
    EXPECT_TRUE(doc.IsEmpty());
    EXPECT_EQ(doc.ToString(), "");

    CJsonObject target;
    EXPECT_FALSE(target.Add("k", CJsonObject()));
    EXPECT_EQ(target.GetErrorText(), "prase json string error at ");

    const CJsonObject nothing;
    CJsonObject copy(nothing);
    EXPECT_TRUE(copy.IsEmpty());
    EXPECT_EQ(copy.GetErrorText(), "prase json string error at ");

    const CJsonObject malformed[] = {
        CJsonObject(""), CJsonObject("[1,]"), CJsonObject("{\"a\"}"), CJsonObject("\"\\u12"),
        CJsonObject(std::string(5000, '[')),
    };
    for (const CJsonObject& bad : malformed) {
        EXPECT_TRUE(bad.IsEmpty());
        EXPECT_EQ(bad.GetErrorText().rfind("prase json string error at ", 0), 0u);
    }
}

TEST(CJsonObjectTest, ParseErrorTextsStayWithTheirThread) {
    // Parses that fail on several threads at once never lend their position
    // (or a text already freed) to another thread's error text.
    std::vector<std::thread> threads;
    std::vector<int> mismatches(4, 0);
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([t, &mismatches] {
            const std::string tail = "!" + std::to_string(t) + "]";
            for (int i = 0; i < 300; ++i) {
                CJsonObject doc;
                const std::string text = "[" + std::string(t + i % 7, ' ') + "1," + tail;
                if (doc.Parse(text) || doc.GetErrorText() != "prase json string error at " + tail) ++mismatches[t];
            }
        });
    }
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(mismatches, std::vector<int>(4, 0));
}

TEST(CJsonObjectTest, DocumentsTakeTheKindOfTheirFirstAdd) {
    CJsonObject object;
    EXPECT_TRUE(object.Add("a", 1));
    EXPECT_FALSE(object.IsArray());
    CJsonObject array;
    EXPECT_TRUE(array.Add(std::string("x")));
    EXPECT_TRUE(array.IsArray());
    EXPECT_FALSE(array.Add("k", 1));
    CJsonObject sub;
    EXPECT_TRUE(sub.AddEmptySubArray("list"));
    EXPECT_TRUE(sub["list"].Add(1));
    EXPECT_EQ(sub.ToString(), "{\"list\":[1]}");
}

TEST(CJsonObjectTest, ViewsChangeTheParentInPlace) {
    CJsonObject doc("{\"app\":{\"ver\":1},\"list\":[{\"n\":1},{\"n\":2}]}");
    CJsonObject& app = doc["app"];
    EXPECT_EQ(&doc["APP"], &app);  // one view per member, whatever the spelling
    EXPECT_TRUE(app.Add("os", std::string("win")));
    EXPECT_TRUE(doc["list"][1].Replace("n", 20));
    EXPECT_EQ(doc.ToString(), "{\"app\":{\"ver\":1,\"os\":\"win\"},\"list\":[{\"n\":1},{\"n\":20}]}");
    EXPECT_EQ(doc["list"](1u), "");
    EXPECT_EQ(doc["list"][0]("n"), "1");

    // A view of a missing member is empty and builds a tree of its own.
    CJsonObject& missing = doc["late"];
    EXPECT_TRUE(missing.IsEmpty());
    EXPECT_TRUE(missing.Add("own", 1));
    EXPECT_EQ(doc.ToString().find("own"), std::string::npos);
    // Once the parent has the member, the view shows it.
    EXPECT_TRUE(doc.Add("late", std::string("now")));
    EXPECT_EQ(doc("late"), "now");
    EXPECT_EQ(doc["late"].ToString(), "\"now\"");
    EXPECT_TRUE(doc[7].IsEmpty());
    EXPECT_TRUE(doc["list"][4294967295u].IsEmpty());
}

TEST(CJsonObjectTest, ChangesDropTheViewsOfChangedMembersWhateverTheirSpelling) {
    CJsonObject doc("{\"Name\":{\"v\":1},\"other\":{\"v\":2}}");
    CJsonObject& other = doc["other"];
    doc["name"]["v"];
    EXPECT_TRUE(doc.Delete("NAME"));
    EXPECT_TRUE(doc["name"].IsEmpty());
    EXPECT_EQ(doc["Name"].ToString(), "");
    EXPECT_EQ(&doc["other"], &other);  // untouched members keep their view

    EXPECT_TRUE(doc.Add("NAME", CJsonObject("{\"v\":3}")));
    EXPECT_EQ(doc["name"]("v"), "3");
    doc["nAmE"]["v"];
    EXPECT_TRUE(doc.Replace("Name", CJsonObject("{\"v\":4}")));
    EXPECT_EQ(doc["name"]("v"), "4");
    EXPECT_EQ(doc["NAME"]["v"].ToString(), "4");
    EXPECT_EQ(doc.ToString(), "{\"other\":{\"v\":2},\"Name\":{\"v\":4}}");
}

TEST(CJsonObjectTest, ChangesDropTheViewsOfMovedElements) {
    CJsonObject list("[\"a\",\"b\",\"c\"]");
    EXPECT_EQ(list[0].ToString(), "\"a\"");
    EXPECT_EQ(list[2].ToString(), "\"c\"");
    EXPECT_TRUE(list[3].IsEmpty());
    EXPECT_TRUE(list.Add(std::string("d")));
    EXPECT_EQ(list[3].ToString(), "\"d\"");
    EXPECT_TRUE(list.AddAsFirst(std::string("z")));
    EXPECT_EQ(list[0].ToString(), "\"z\"");
    EXPECT_EQ(list[3].ToString(), "\"c\"");
    EXPECT_TRUE(list.Replace(3, std::string("C")));
    EXPECT_EQ(list[3].ToString(), "\"C\"");
    EXPECT_TRUE(list.Delete(1));
    EXPECT_EQ(list[1].ToString(), "\"b\"");
    EXPECT_EQ(list[2].ToString(), "\"C\"");
    EXPECT_EQ(list[3].ToString(), "\"d\"");
    EXPECT_TRUE(list[4].IsEmpty());
    EXPECT_EQ(list.ToString(), "[\"z\",\"b\",\"C\",\"d\"]");
}

TEST(CJsonObjectTest, CopiesAreIndependentTrees) {
    CJsonObject original("{\"a\":{\"b\":[1,2]}}");
    CJsonObject copy(original);
    CJsonObject assigned;
    assigned = original;
    CJsonObject fromPointer(&original);
    copy["a"]["b"].Add(3);
    EXPECT_EQ(original.ToString(), "{\"a\":{\"b\":[1,2]}}");
    EXPECT_EQ(copy.ToString(), "{\"a\":{\"b\":[1,2,3]}}");
    EXPECT_TRUE(assigned == original);
    EXPECT_TRUE(fromPointer == original);
    EXPECT_FALSE(copy == original);

    // A copy of a view is a tree of its own, too.
    CJsonObject part(original["a"]);
    original.Clear();
    EXPECT_TRUE(original.IsEmpty());
    EXPECT_EQ(part.ToString(), "{\"b\":[1,2]}");

    // Reading a member into the document it lives in replaces the document.
    CJsonObject doc("{\"inner\":{\"x\":1}}");
    EXPECT_TRUE(doc.Get("inner", doc));
    EXPECT_EQ(doc.ToString(), "{\"x\":1}");
    CJsonObject& same = doc;
    doc = same;
    EXPECT_EQ(doc.ToString(), "{\"x\":1}");
    EXPECT_TRUE(doc.Add("self", doc));
    EXPECT_EQ(doc.ToString(), "{\"x\":1,\"self\":{\"x\":1}}");
}

TEST(CJsonObjectTest, ValuesAsText) {
    const CJsonObject doc(
        "{\"s\":\"txt\",\"neg\":-5,\"negBig\":-4294967296,\"pos\":4294967295,\"posBig\":4294967296,"
        "\"d\":1.5,\"small\":0.0000001,\"large\":12345678901.5,\"t\":true,\"f\":false,\"n\":null,\"o\":{},\"a\":[]}");
    struct Case {
        const char* key;
        const char* text;
    };
    const Case cases[] = {
        {"s", "txt"},          {"neg", "-5"},           {"negBig", "-4294967296"}, {"pos", "4294967295"},
        {"posBig", "4294967296"}, {"d", "1.500000"},    {"small", "1.000000e-07"}, {"large", "1.234568e+10"},
        {"t", "true"},         {"f", "false"},          {"n", ""},                 {"o", ""},
        {"a", ""},             {"missing", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.key);
        EXPECT_EQ(doc(c.key), c.text);
    }
    const CJsonObject list("[7,\"x\"]");
    EXPECT_EQ(list(0u), "7");
    EXPECT_EQ(list(1u), "x");
    EXPECT_EQ(list(2u), "");
}

// Allocation hooks that refuse every allocation while installed.
void* RefuseAllocation(size_t) { return nullptr; }

TEST(CJsonObjectTest, RunningOutOfMemoryFailsWithoutAFalseSuccess) {
    CJsonObject doc("{\"sub\":{\"k\":1},\"n\":2}");
    CJsonObject out("[\"kept\"]");
    const JsonHooks refuse = {&RefuseAllocation, nullptr};
    JsonInitHooks(&refuse);
    const bool gotSub = doc.Get("sub", out);
    const std::string printed = doc.ToString();
    const bool added = doc.Add("x", 1);
    const bool addedSub = doc.AddEmptySubObject("o");
    const std::string errorText = doc.GetErrorText();
    JsonInitHooks(nullptr);

    EXPECT_FALSE(gotSub);
    EXPECT_EQ(out.ToString(), "[\"kept\"]");
    EXPECT_EQ(printed, "");
    EXPECT_FALSE(added);
    EXPECT_FALSE(addedSub);
    EXPECT_EQ(errorText, "create sub empty object error!");
    EXPECT_EQ(doc.ToString(), "{\"sub\":{\"k\":1},\"n\":2}");
}

TEST(CJsonObjectTest, LargeIntegersSurviveCopies) {
    CJsonObject doc;
    doc.Add("id", int64_t(9007199254740993));  // 2^53 + 1
    doc.Add("mask", uint64_t(0xFFFFFFFFFFFFFFFEull));
    CJsonObject outer;
    outer.Add("doc", doc);
    CJsonObject copy(outer);
    CJsonObject inner;
    ASSERT_TRUE(copy.Get("doc", inner));
    int64_t id = 0;
    uint64_t mask = 0;
    EXPECT_TRUE(inner.Get("id", id));
    EXPECT_EQ(id, 9007199254740993);
    EXPECT_TRUE(inner.Get("mask", mask));
    EXPECT_EQ(mask, 0xFFFFFFFFFFFFFFFEull);
}

}  // namespace
