// The JSON node core: parsing, printing, 64-bit integers, editing, failure
// positions and memory hooks.
#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>
#include <thread>

#include "JsonNode.h"

namespace {

// Owns a parsed tree for the length of a test.
struct Tree {
    explicit Tree(const char* text) : root(JsonParse(text)) {}
    explicit Tree(JsonNode* node) : root(node) {}
    ~Tree() { JsonDelete(root); }
    Tree(const Tree&) = delete;
    Tree& operator=(const Tree&) = delete;
    JsonNode* root;
};

std::string Printed(const JsonNode* node, bool formatted = false) {
    char* text = formatted ? JsonPrint(node) : JsonPrintUnformatted(node);
    if (!text) return "<print failed>";
    std::string result(text);
    JsonFree(text);
    return result;
}

std::string Reprinted(const char* text) {
    Tree tree(text);
    return tree.root ? Printed(tree.root) : "<parse failed>";
}

// Offset of the error position in text, or -1 when the parse succeeded.
long FailureOffset(const std::string& text) {
    JsonNode* root = JsonParse(text.c_str());
    if (root) {
        JsonDelete(root);
        return -1;
    }
    const char* position = JsonErrorPosition();
    return position ? static_cast<long>(position - text.c_str()) : -2;
}

TEST(JsonNodeTest, ScalarsParseAndPrintAsTheirKind) {
    struct Case {
        const char* text;
        JsonNodeType type;
        int32_t sign;
        const char* printed;
    };
    const Case cases[] = {
        {"01", JsonNodeType::Int, 1, "1"},
        {"-0", JsonNodeType::Int, -1, "0"},
        {"-", JsonNodeType::Int, -1, "0"},
        {"1e0", JsonNodeType::Int, 1, "1"},
        {"1E+0", JsonNodeType::Int, 1, "1"},
        {"1.0", JsonNodeType::Double, 1, "1"},
        {"1e1", JsonNodeType::Double, 1, "10"},
        {"1.5", JsonNodeType::Double, 1, "1.500000"},
        {"0.1", JsonNodeType::Double, 1, "0.100000"},
        {"2e-7", JsonNodeType::Double, 1, "0.000000"},
        {"-2.25e-8", JsonNodeType::Double, -1, "-0.000000"},
        {"12.5e-1", JsonNodeType::Double, 1, "1.250000"},
        {"  \t\r\n 42", JsonNodeType::Int, 1, "42"},
        {"true false", JsonNodeType::True, 0, "true"},
        {"nulls", JsonNodeType::Null, 0, "null"},
        {"false", JsonNodeType::False, 0, "false"},
        {"\"a/b\"", JsonNodeType::String, 0, "\"a/b\""},
        {"[]", JsonNodeType::Array, 0, "[]"},
        {"{}", JsonNodeType::Object, 0, "{}"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        Tree tree(c.text);
        ASSERT_NE(tree.root, nullptr);
        EXPECT_EQ(JsonTypeOf(tree.root), c.type);
        if (c.type == JsonNodeType::Int || c.type == JsonNodeType::Double) {
            EXPECT_EQ(tree.root->sign, c.sign);
        }
        EXPECT_EQ(Printed(tree.root), c.printed);
    }
    Tree truth("true");
    EXPECT_EQ(truth.root->intValue, 1u);
}

TEST(JsonNodeTest, WorkedExamplePrintsOnOneLineAndFormattedOnSixLines) {
    Tree tree("{\"a\":1,\"b\":[2,{\"c\":true}]}");
    ASSERT_NE(tree.root, nullptr);
    EXPECT_EQ(Printed(tree.root), "{\"a\":1,\"b\":[2,{\"c\":true}]}");
    EXPECT_EQ(Printed(tree.root, true),
              "{\n"
              "\t\"a\":\t1,\n"
              "\t\"b\":\t[2, {\n"
              "\t\t\t\"c\":\ttrue\n"
              "\t\t}]\n"
              "}");
}

TEST(JsonNodeTest, EmptyContainersPrintFormattedWithTheirDepth) {
    Tree tree("{\"o\":{},\"a\":[],\"n\":[{}]}");
    ASSERT_NE(tree.root, nullptr);
    EXPECT_EQ(Printed(tree.root, true),
              "{\n"
              "\t\"o\":\t{\n"
              "\t},\n"
              "\t\"a\":\t[],\n"
              "\t\"n\":\t[{\n"
              "\t\t}]\n"
              "}");
}

TEST(JsonNodeTest, FormattedAndUnformattedTextsRoundTrip) {
    const char* text =
        "{\"name\":\"Orvane \\\"x\\\" \\\\ \\/\",\"ids\":[1,-2,18446744073709551615,-9223372036854775808],"
        "\"ratio\":0.250000,\"flags\":{\"on\":true,\"off\":false,\"none\":null},"
        "\"nested\":[[[]],{\"deep\":{\"deeper\":[{}]}}],\"ctl\":\"\\b\\f\\n\\r\\t\\u0001\",\"dup\":1,\"DUP\":2}";
    Tree tree(text);
    ASSERT_NE(tree.root, nullptr);
    const std::string unformatted = Printed(tree.root);
    const std::string formatted = Printed(tree.root, true);
    EXPECT_EQ(Reprinted(unformatted.c_str()), unformatted);
    EXPECT_EQ(Reprinted(formatted.c_str()), unformatted);
    Tree again(formatted.c_str());
    EXPECT_EQ(Printed(again.root, true), formatted);
    // The slash is read back unescaped and printed as it is.
    EXPECT_NE(unformatted.find("\\\\ /\""), std::string::npos);
}

TEST(JsonNodeTest, MalformedTextsFailAtTheFaultyByte) {
    struct Case {
        std::string text;
        long offset;  // where the error position points
    };
    const Case cases[] = {
        {"", 0},
        {"   ", 3},
        {"x", 0},
        {".5", 0},
        {"+1", 0},
        {"tru", 0},
        {"[1,]", 3},
        {"[1 2]", 3},
        {"[", 1},
        {"[1", 2},
        {"[\"abc", 5},            // the string ends at the end; then "]" is missing
        {"{\"a\" 1}", 5},         // the byte after the key
        {"{\"a\"1}", 4},
        {"{1:2}", 1},             // a member starting with a digit
        {"{\"a\":1,}", 7},
        {"{\"a\":1", 6},
        {"{\"a\":", 5},
        {"{\"a\"", 4},
        {"{", 1},
        {"{,}", 1},
        {"[{\"a\":[1,{\"b\":}]}]", 14},
        {"\"\\u12", 1},           // \u cut short by the end of the text
        {"\"\\u12\"", 1},         // \u without four hex digits
        {"\"ab\\uZZZZ\"", 3},
        {"\"\\uD83D\\u12\"", 7},  // second half of a pair cut short
        {std::string("[1,\0 2]", 7), 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("text: " + c.text);
        EXPECT_EQ(FailureOffset(c.text), c.offset);
    }
}

TEST(JsonNodeTest, ErrorPositionRunsToTheEndOfTheCallersTextAndClearsOnSuccess) {
    const std::string text = "{\"a\":[1,2,],\"b\":3}";
    EXPECT_EQ(JsonParse(text.c_str()), nullptr);
    ASSERT_NE(JsonErrorPosition(), nullptr);
    EXPECT_STREQ(JsonErrorPosition(), "],\"b\":3}");
    Tree ok("[1]");
    EXPECT_EQ(JsonErrorPosition(), nullptr);
    EXPECT_EQ(JsonParse(nullptr), nullptr);
    EXPECT_EQ(JsonErrorPosition(), nullptr);
}

TEST(JsonNodeTest, EachThreadKeepsItsOwnErrorPosition) {
    const std::string mine = "[1,2,x]";
    ASSERT_EQ(JsonParse(mine.c_str()), nullptr);
    // Other threads fail and succeed on texts of their own, which are gone
    // before this thread looks at its position again.
    for (int round = 0; round < 4; ++round) {
        std::thread other([round] {
            const std::string theirs = std::string(round + 1, ' ') + "{\"k\" ?}";
            EXPECT_EQ(JsonParse(theirs.c_str()), nullptr);
            EXPECT_STREQ(JsonErrorPosition(), "?}");
            JsonDelete(JsonParse("[true]"));
            EXPECT_EQ(JsonErrorPosition(), nullptr);
        });
        other.join();
    }
    EXPECT_EQ(JsonErrorPosition(), mine.c_str() + 5);
}

TEST(JsonNodeTest, NestingBeyondTheLimitFailsCleanly) {
    const int limit = kJsonMaxNestingDepth;
    const std::string deepest = std::string(limit, '[') + std::string(limit, ']');
    Tree fits(deepest.c_str());
    ASSERT_NE(fits.root, nullptr);
    EXPECT_EQ(Printed(fits.root), deepest);

    const std::string arrays = std::string(limit + 1, '[') + std::string(limit + 1, ']');
    EXPECT_EQ(FailureOffset(arrays), limit);
    std::string objects;
    for (int i = 0; i <= limit; ++i) objects += "{\"k\":";
    EXPECT_EQ(FailureOffset(objects + "1"), long(limit) * 5);
    // A text far deeper than any stack would take.
    EXPECT_EQ(FailureOffset(std::string(200000, '[')), limit);

    // The deepest document also parses, prints and goes on a worker thread,
    // whose stack is the one the analytics and statistics threads get.
    std::string printedOnThread;
    std::thread worker([&] {
        JsonNode* root = JsonParse(deepest.c_str());
        if (!root) return;
        printedOnThread = Printed(root, true);
        JsonDelete(root);
    });
    worker.join();
    EXPECT_EQ(printedOnThread, Printed(fits.root, true));

    // A tree built deeper than the limit is refused by the printer.
    JsonNode* root = JsonCreateArray();
    JsonNode* inner = root;
    for (int i = 0; i < limit + 5; ++i) {
        JsonNode* next = JsonCreateArray();
        JsonAppend(inner, next);
        inner = next;
    }
    EXPECT_EQ(JsonPrint(root), nullptr);
    EXPECT_EQ(JsonPrintUnformatted(root), nullptr);
    JsonDelete(root);
}

TEST(JsonNodeTest, StringEscapesDecodeToTheirBytes) {
    struct Case {
        std::string text;
        std::string value;
    };
    const Case cases[] = {
        {"\"\\b\\f\\n\\r\\t\"", "\b\f\n\r\t"},
        {"\"\\\"\\\\\\/\\q\"", "\"\\/q"},
        {"\"\\u0000x\"", "x"},
        {"\"\\u0041\\u00e9\\u4E2D\"", "A\xC3\xA9\xE4\xB8\xAD"},
        {"\"\\uD83D\\uDE00\"", "\xF0\x9F\x98\x80"},
        {"\"\\ud840\\udc00\"", "\xF0\xA0\x80\x80"},
        {"\"\\uD83Dx\"", "x"},
        {"\"\\uD83D\\u0041z\"", "z"},  // a second half that is no low half is consumed
        {"\"\\uDE00y\"", "y"},         // a lone low half writes nothing
        {"\"raw \x01\x7f\xe4\xb8\xad\"", "raw \x01\x7f\xe4\xb8\xad"},
        {"\"unterminated", "unterminated"},
        {"\"ends in a backslash\\", "ends in a backslash"},
        {"\"escaped quote at the end\\\"", "escaped quote at the end\""},
        {"\"\"", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("text: " + c.text);
        Tree tree(c.text.c_str());
        ASSERT_NE(tree.root, nullptr);
        ASSERT_EQ(JsonTypeOf(tree.root), JsonNodeType::String);
        EXPECT_EQ(std::string(tree.root->stringValue), c.value);
    }
}

TEST(JsonNodeTest, StringsPrintWithEscapesForQuotesBackslashesAndControlBytes) {
    Tree escape(JsonCreateString("\x1b\xe4\xb8\xad"));
    EXPECT_EQ(Printed(escape.root), "\"\\u001b\xe4\xb8\xad\"");
    Tree all(JsonCreateString("q\"b\\s/\b\f\n\r\t\x01\x1f "));
    EXPECT_EQ(Printed(all.root), "\"q\\\"b\\\\s/\\b\\f\\n\\r\\t\\u0001\\u001f \"");
    Tree keyed(JsonCreateObject());
    JsonAddToObject(keyed.root, "k\"\n", JsonCreateNull());
    EXPECT_EQ(Printed(keyed.root), "{\"k\\\"\\n\":null}");
}

TEST(JsonNodeTest, IntegersKeepAll64Bits) {
    struct Case {
        const char* text;
        uint64_t intValue;
        int32_t sign;
        const char* printed;
    };
    const Case cases[] = {
        {"18446744073709551615", UINT64_MAX, 1, "18446744073709551615"},
        {"9223372036854775807", 9223372036854775807ull, 1, "9223372036854775807"},
        {"-9223372036854775808", uint64_t(1) << 63, -1, "-9223372036854775808"},
        {"-1", UINT64_MAX, -1, "-1"},
        {"9007199254740993", 9007199254740993ull, 1, "9007199254740993"},  // 2^53 + 1 stays exact
        {"-4294967296", uint64_t(0) - 4294967296ull, -1, "-4294967296"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        Tree tree(c.text);
        ASSERT_NE(tree.root, nullptr);
        EXPECT_EQ(JsonTypeOf(tree.root), JsonNodeType::Int);
        EXPECT_EQ(tree.root->intValue, c.intValue);
        EXPECT_EQ(tree.root->sign, c.sign);
        EXPECT_EQ(tree.root->doubleValue, static_cast<double>(c.intValue));
        EXPECT_EQ(Printed(tree.root), c.printed);
    }
    // Beyond 64 bits an integer keeps its magnitude as a Double instead of wrapping.
    const char* const outOfRange[] = {"18446744073709551616", "99999999999999999999", "-9223372036854775809",
                                      "-18446744073709551615"};
    for (const char* text : outOfRange) {
        SCOPED_TRACE(text);
        Tree tree(text);
        ASSERT_NE(tree.root, nullptr);
        EXPECT_EQ(JsonTypeOf(tree.root), JsonNodeType::Double);
        EXPECT_DOUBLE_EQ(tree.root->doubleValue, std::strtod(text, nullptr));
    }
    Tree signedAll(JsonCreateInt(UINT64_MAX, -1));
    EXPECT_EQ(Printed(signedAll.root), "-1");
    Tree unsignedAll(JsonCreateInt(UINT64_MAX, 1));
    EXPECT_EQ(Printed(unsignedAll.root), "18446744073709551615");
    Tree zeroSign(JsonCreateInt(UINT64_MAX, 0));
    EXPECT_EQ(Printed(zeroSign.root), "18446744073709551615");
}

TEST(JsonNodeTest, DoublesPrintWithoutOverrunAndReadBack) {
    const double values[] = {1e63, 1e64, 1e300, DBL_MAX, -DBL_MAX, 123456789012.0, -0.5, 1e-300, DBL_MIN};
    for (double value : values) {
        SCOPED_TRACE(value);
        Tree tree(JsonCreateDouble(value, -1));
        const std::string text = Printed(tree.root);
        ASSERT_NE(text, "<print failed>");
        Tree back(text.c_str());
        ASSERT_NE(back.root, nullptr);
        if (std::fabs(value) >= 1) {
            // Integral: every digit is printed; reading accumulates digit by digit, close to the value.
            EXPECT_NEAR(back.root->doubleValue / value, 1.0, 1e-14);
        } else {
            EXPECT_NEAR(back.root->doubleValue, value, 1e-6);  // six decimals
        }
    }
    Tree huge(JsonCreateDouble(DBL_MAX, 1));
    EXPECT_EQ(Printed(huge.root).size(), 309u);

    // JSON has no NaN or infinity: they print as null, so the text stays valid.
    const double special[] = {std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity(),
                              -std::numeric_limits<double>::infinity()};
    for (double value : special) {
        Tree tree(JsonCreateDouble(value, -1));
        EXPECT_EQ(Printed(tree.root), "null");
    }
    Tree overflow("[1e400,-1e400,0e999999999999,1e-999999999999]");
    EXPECT_EQ(Printed(overflow.root), "[null,null,0,0]");
    const std::string longFraction = "1." + std::string(500, '5');
    Tree fraction(longFraction.c_str());
    EXPECT_EQ(Printed(fraction.root), "1.555556");
    const std::string longInteger = std::string(400, '9') + ".5";
    Tree integer(longInteger.c_str());
    EXPECT_EQ(Printed(integer.root), "null");  // beyond the double range
}

TEST(JsonNodeTest, DoublesConvertToTheIntegerFieldWithoutUndefinedResults) {
    struct Case {
        double value;
        uint64_t expected;
    };
    const Case cases[] = {
        {3.9, 3},
        {-2.25e-8, 0},
        {-1.5, UINT64_MAX},
        {-9223372036854775808.0, uint64_t(1) << 63},
        {-1e30, uint64_t(1) << 63},
        {1e30, UINT64_MAX},
        {18446744073709549568.0, 18446744073709549568ull},
        {std::numeric_limits<double>::infinity(), UINT64_MAX},
        {std::numeric_limits<double>::quiet_NaN(), 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.value);
        EXPECT_EQ(JsonDoubleToUnsigned(c.value), c.expected);
        Tree tree(JsonCreateDouble(c.value, -1));
        EXPECT_EQ(tree.root->intValue, c.expected);
    }
    Tree parsed("-2.25e-8");
    EXPECT_EQ(parsed.root->intValue, 0u);
}

TEST(JsonNodeTest, LookupsByKeyIgnoreCaseAndFindTheFirstMember) {
    Tree tree("{\"Name\":1,\"name\":2,\"\xC3\x84\":3}");
    ASSERT_NE(tree.root, nullptr);
    EXPECT_EQ(JsonObjectItem(tree.root, "name")->intValue, 1u);
    EXPECT_EQ(JsonObjectItem(tree.root, "NAME")->intValue, 1u);
    EXPECT_EQ(JsonObjectItem(tree.root, "\xC3\x84")->intValue, 3u);
    EXPECT_EQ(JsonObjectItem(tree.root, "\xC3\xA4"), nullptr);  // only ASCII letters fold
    EXPECT_EQ(JsonObjectItem(tree.root, "nam"), nullptr);
    EXPECT_EQ(JsonArraySize(tree.root), 3);

    Tree array("[1,2,3]");
    EXPECT_EQ(JsonObjectItem(array.root, "1"), nullptr);  // elements have no key
    EXPECT_EQ(JsonArrayItem(array.root, -4)->intValue, 1u);
    EXPECT_EQ(JsonArrayItem(array.root, 0)->intValue, 1u);
    EXPECT_EQ(JsonArrayItem(array.root, 2)->intValue, 3u);
    EXPECT_EQ(JsonArrayItem(array.root, 3), nullptr);
    EXPECT_EQ(JsonArraySize(nullptr), 0);
}

TEST(JsonNodeTest, EditingByIndexKeepsTheListLinked) {
    Tree tree("[1,2,3]");
    JsonPrepend(tree.root, JsonCreateString("first"));
    JsonAppend(tree.root, JsonCreateBool(0));
    JsonAppend(tree.root, nullptr);
    EXPECT_EQ(Printed(tree.root), "[\"first\",1,2,3,false]");

    EXPECT_TRUE(JsonReplaceInArray(tree.root, 0, JsonCreateNull()));
    EXPECT_TRUE(JsonReplaceInArray(tree.root, 4, JsonCreateInt(9, 1)));
    EXPECT_TRUE(JsonReplaceInArray(tree.root, 2, JsonCreateTrue()));
    EXPECT_EQ(Printed(tree.root), "[null,1,true,3,9]");
    JsonNode* stray = JsonCreateInt(7, 1);
    EXPECT_FALSE(JsonReplaceInArray(tree.root, 5, stray));
    JsonDelete(stray);  // still the caller's

    JsonDeleteFromArray(tree.root, 0);
    JsonDeleteFromArray(tree.root, 3);
    JsonDeleteFromArray(tree.root, 9);
    EXPECT_EQ(Printed(tree.root), "[1,true,3]");
    Tree detached(JsonDetachFromArray(tree.root, 1));
    ASSERT_NE(detached.root, nullptr);
    EXPECT_EQ(detached.root->next, nullptr);
    EXPECT_EQ(detached.root->prev, nullptr);
    EXPECT_EQ(Printed(tree.root), "[1,3]");
    // Links in both directions survive the edits.
    JsonNode* last = JsonArrayItem(tree.root, 1);
    EXPECT_EQ(last->prev, tree.root->child);
    EXPECT_EQ(tree.root->child->prev, nullptr);
}

TEST(JsonNodeTest, EditingByKeyReplacesTheFirstMatchAndTakesTheNewKey) {
    Tree tree("{\"a\":1,\"B\":2,\"b\":3}");
    JsonNode* item = JsonCreateString("x");
    ASSERT_TRUE(JsonAddToObject(tree.root, "old", item));
    EXPECT_TRUE(JsonReplaceInObject(tree.root, "b", JsonCreateFalse()));
    EXPECT_EQ(Printed(tree.root), "{\"a\":1,\"b\":false,\"b\":3,\"old\":\"x\"}");
    JsonNode* stray = JsonCreateNull();
    EXPECT_FALSE(JsonReplaceInObject(tree.root, "missing", stray));
    JsonDelete(stray);
    JsonDeleteFromObject(tree.root, "A");
    JsonDeleteFromObject(tree.root, "missing");
    EXPECT_EQ(Printed(tree.root), "{\"b\":false,\"b\":3,\"old\":\"x\"}");
    Tree moved(JsonDetachFromObject(tree.root, "OLD"));
    ASSERT_NE(moved.root, nullptr);
    EXPECT_STREQ(moved.root->key, "old");
    EXPECT_EQ(Printed(tree.root), "{\"b\":false,\"b\":3}");
    // Re-adding under another key frees the old one.
    Tree target(JsonCreateObject());
    JsonNode* again = JsonDetachFromObject(tree.root, "b");
    ASSERT_TRUE(JsonAddToObject(target.root, "c", again));
    EXPECT_EQ(Printed(target.root), "{\"c\":false}");
    EXPECT_FALSE(JsonAddToObject(target.root, "d", nullptr));
}

TEST(JsonNodeTest, BuildersAndReferencesShareWithoutOwning) {
    const int ints[] = {1, -2};
    const double doubles[] = {0.5, 3};
    const float floats[] = {1.25f};
    const char* const strings[] = {"a", "b\n"};
    Tree a(JsonCreateIntArray(ints, 2));
    Tree b(JsonCreateDoubleArray(doubles, 2));
    Tree c(JsonCreateFloatArray(floats, 1));
    Tree d(JsonCreateStringArray(strings, 2));
    EXPECT_EQ(Printed(a.root), "[1,-2]");
    EXPECT_EQ(JsonTypeOf(a.root->child), JsonNodeType::Double);
    EXPECT_EQ(Printed(b.root), "[0.500000,3]");
    EXPECT_EQ(Printed(c.root), "[1.250000]");
    EXPECT_EQ(Printed(d.root), "[\"a\",\"b\\n\"]");
    EXPECT_EQ(JsonCreateIntArray(nullptr, 3), nullptr);
    Tree empty(JsonCreateStringArray(nullptr, 0));
    EXPECT_EQ(Printed(empty.root), "[]");

    Tree shared("{\"list\":[1,2],\"text\":\"t\"}");
    {
        Tree holder(JsonCreateObject());
        ASSERT_TRUE(JsonAddReferenceToObject(holder.root, "L", JsonObjectItem(shared.root, "list")));
        EXPECT_FALSE(JsonAddReferenceToArray(nullptr, shared.root));
        JsonNode* refs = JsonCreateArray();
        ASSERT_TRUE(JsonAddReferenceToArray(refs, JsonObjectItem(shared.root, "text")));
        JsonAddToObject(holder.root, "refs", refs);
        EXPECT_EQ(Printed(holder.root), "{\"L\":[1,2],\"refs\":[\"t\"]}");
        EXPECT_NE(holder.root->child->type & kJsonReferenceFlag, 0);
    }
    // Deleting the references left the shared children and text alone.
    EXPECT_EQ(Printed(shared.root), "{\"list\":[1,2],\"text\":\"t\"}");
}

// Hooks that count and can refuse the n-th allocation.
struct CountingHooks {
    static inline long allocations = 0;
    static inline long releases = 0;
    static inline long refused = 0;
    static inline long failAt = -1;  // from this allocation on, every one fails; -1: none
    static void* Allocate(size_t size) {
        if (failAt >= 0 && allocations >= failAt) {
            ++refused;
            return nullptr;
        }
        ++allocations;
        return std::malloc(size);
    }
    static void Release(void* pointer) {
        ++releases;
        std::free(pointer);
    }
    static void Reset(long fail) {
        allocations = releases = refused = 0;
        failAt = fail;
    }
};

struct HooksGuard {
    HooksGuard() {
        const JsonHooks hooks = {&CountingHooks::Allocate, &CountingHooks::Release};
        JsonInitHooks(&hooks);
    }
    ~HooksGuard() { JsonInitHooks(nullptr); }
};

TEST(JsonNodeTest, RunningOutOfMemoryAnywhereFailsWithoutLeaking) {
    HooksGuard guard;
    const char* text = "{\"a\":[1,\"two\",{\"b\":null}],\"c\":\"\\u00e9\",\"d\":{}}";
    CountingHooks::Reset(-1);
    JsonNode* full = JsonParse(text);
    ASSERT_NE(full, nullptr);
    const long needed = CountingHooks::allocations;
    JsonDelete(full);
    EXPECT_EQ(CountingHooks::releases, needed);

    for (long fail = 0; fail < needed; ++fail) {
        SCOPED_TRACE(fail);
        CountingHooks::Reset(fail);
        EXPECT_EQ(JsonParse(text), nullptr);
        EXPECT_EQ(CountingHooks::allocations, CountingHooks::releases);
    }

    CountingHooks::Reset(-1);
    JsonNode* tree = JsonParse(text);
    ASSERT_NE(tree, nullptr);
    CountingHooks::Reset(0);
    EXPECT_EQ(JsonPrint(tree), nullptr);
    EXPECT_EQ(JsonPrintUnformatted(tree), nullptr);
    EXPECT_EQ(JsonCreateString("x"), nullptr);
    EXPECT_EQ(JsonCreateObject(), nullptr);
    CountingHooks::Reset(-1);
    JsonDelete(tree);
}

}  // namespace
