// libFuzzer target for the JSON node core and CJsonObject, built natively
// with AddressSanitizer and UndefinedBehaviorSanitizer (tools/fuzz-json.sh).
//
// Every input is parsed, printed both ways and parsed again, with these
// checks: a failed parse points into its own text; a parsed tree prints in
// both forms, both texts parse back, and they carry the same document; a
// document without doubles prints the same text again after a second round.
// Then a sequence of CJsonObject reads and changes, chosen from the input's
// hash, runs on the document and on views of its members and elements, so
// that the sanitizers see any view that outlives its node.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "JsonNode.h"
#include "JsonObject.h"

namespace {

void Check(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "check failed: %s\n", what);
        std::abort();
    }
}

std::string Take(char* text) {
    Check(text != nullptr, "a parsed tree prints");
    std::string result(text);
    JsonFree(text);
    return result;
}

bool HasDouble(const JsonNode* node) {
    for (; node; node = node->next) {
        if (JsonTypeOf(node) == JsonNodeType::Double) return true;
        if (HasDouble(node->child)) return true;
    }
    return false;
}

void CollectKeys(const JsonNode* node, std::vector<std::string>& keys, int depth) {
    for (; node && keys.size() < 8; node = node->next) {
        if (node->key) keys.emplace_back(node->key);
        if (depth < 3) CollectKeys(node->child, keys, depth + 1);
    }
}

void CheckCoreRoundTrip(const std::string& input, std::vector<std::string>& keys) {
    const char* text = input.c_str();
    JsonNode* root = JsonParse(text);
    if (!root) {
        const char* position = JsonErrorPosition();
        Check(position != nullptr, "a failed parse has an error position");
        Check(position >= text && position <= text + std::strlen(text), "the error position lies in the text");
        return;
    }
    Check(JsonErrorPosition() == nullptr, "a successful parse clears the error position");
    CollectKeys(root, keys, 0);

    const std::string plain = Take(JsonPrintUnformatted(root));
    const std::string formatted = Take(JsonPrint(root));
    JsonNode* fromPlain = JsonParse(plain.c_str());
    JsonNode* fromFormatted = JsonParse(formatted.c_str());
    Check(fromPlain != nullptr, "the unformatted text parses back");
    Check(fromFormatted != nullptr, "the formatted text parses back");
    const std::string plainAgain = Take(JsonPrintUnformatted(fromPlain));
    Check(Take(JsonPrintUnformatted(fromFormatted)) == plainAgain, "both forms carry the same document");
    if (!HasDouble(root)) Check(plainAgain == plain, "a document without doubles prints the same text again");
    Check(JsonArraySize(fromPlain) == JsonArraySize(root), "the same number of children");

    JsonDelete(fromFormatted);
    JsonDelete(fromPlain);
    JsonDelete(root);
}

std::string FlipCase(std::string key) {
    for (char& c : key) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
        else if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return key;
}

// Copies of the document into itself double it; they stop at this size.
constexpr size_t kGrowthLimit = 16384;

void RunDocumentOperations(const std::string& input, const std::vector<std::string>& foundKeys) {
    std::vector<std::string> keys = foundKeys;
    keys.push_back("k");
    std::seed_seq seed(input.begin(), input.end());
    std::mt19937 random(seed);
    auto pick = [&](size_t count) { return static_cast<size_t>(random() % count); };
    auto key = [&]() {
        const std::string& chosen = keys[pick(keys.size())];
        return pick(2) ? FlipCase(chosen) : chosen;
    };

    CJsonObject doc(input);
    for (int step = 0; step < 24; ++step) {
        // The target is the document or a view of a member or an element,
        // possibly one level further down; views are re-fetched each step.
        CJsonObject* target = &doc;
        const size_t depth = pick(3);
        for (size_t level = 0; level < depth; ++level) {
            target = pick(2) ? &(*target)[key()] : &(*target)[static_cast<unsigned>(pick(4))];
        }
        const int index = static_cast<int>(pick(5)) - 1;
        int32_t i32 = 0;
        int64_t i64 = 0;
        uint32_t u32 = 0;
        uint64_t u64 = 0;
        double d = 0;
        float f = 0;
        bool b = false;
        std::string s;
        CJsonObject sub;
        switch (pick(22)) {
        case 0: target->Add(key(), static_cast<int32_t>(random())); break;
        case 1: target->Add(key(), std::string("v")); break;
        case 2:
            if (doc.ToString().size() < kGrowthLimit) target->Add(key(), doc);
            break;
        case 3: target->Replace(key(), static_cast<uint64_t>(random())); break;
        case 4: target->Replace(key(), CJsonObject("{\"r\":[1]}")); break;
        case 5: target->Delete(key()); break;
        case 6: target->Add(static_cast<int64_t>(random()) - 1000000000); break;
        case 7: target->AddAsFirst(0.5); break;
        case 8: target->Replace(index, true); break;
        case 9: target->Delete(index); break;
        case 10: target->AddEmptySubArray(key()); break;
        case 11: target->AddEmptySubObject(key()); break;
        case 12: target->Get(key(), sub); break;
        case 13: target->Get(index, sub); break;
        case 14:
            target->Get(key(), i32);
            target->Get(key(), u32);
            target->Get(key(), i64);
            target->Get(key(), u64);
            break;
        case 15:
            target->Get(key(), d);
            target->Get(key(), f);
            target->Get(key(), b);
            target->Get(key(), s);
            break;
        case 16:
            s = (*target)(key());
            s = (*target)(static_cast<unsigned>(pick(4)));
            break;
        case 17: s = target->ToFormattedString(); break;
        case 18: target->Parse(input.substr(0, pick(input.size() + 1))); break;
        case 19: target->Clear(); break;
        case 20:
            sub = *target;
            s = target->ToString();
            Check(sub.IsEmpty() == s.empty(), "a printable document copies");
            Check(sub == CJsonObject(s), "copies of one text are equal");
            break;
        case 21:
            if (doc.ToString().size() < kGrowthLimit) target->Add(*target);
            break;
        }
        const std::string text = doc.ToString();
        if (!text.empty()) Check(CJsonObject(text).ToString().size() > 0, "the document parses back");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);  // NUL-terminated copy
    std::vector<std::string> keys;
    CheckCoreRoundTrip(input, keys);
    RunDocumentOperations(input, keys);
    return 0;
}
