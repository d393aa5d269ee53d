#pragma once

// What the document tests share: a private settings folder for the whole
// test program, a virtual-time main loop, scripted alerts, a captured log,
// the cue-model defaults, documents built from root dictionaries, and a
// rendering of an archive's object graph that two archives of the same
// values share whatever their layout.

#include <gtest/gtest.h>
#include <plist/plist.h>
#include <stdlib.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "document/Document.h"
#include "model/Cue.h"
#include "model/CueDefaults.h"
#include "model/FFAlias.h"
#include "model/Reel.h"
#include "platform/Log.h"
#include "platform/ManualRunLoop.h"
#include "platform/RunLoop.h"
#include "platform/ScriptedAlertPresenter.h"
#include "platform/UserDefaults.h"
#include "platform/archive/KeyedArchiver.h"
#include "support/PrivateSettings.h"

namespace tollvane::testing {

// Before anything reads the user defaults or writes an autosave copy: a
// folder of this test program's own, never the user's.
inline const std::string kTestConfigDir = usePrivateSettingsFolder("tollvane-document-tests");

inline Data readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Data(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void writeFile(const std::string& path, const Data& data) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
}

inline std::string fixturePath(const std::string& name) {
    return std::string(TOLLVANE_TEST_DATA) + "/documents/" + name;
}

// --- The canonical form of an archive ------------------------------------------

// Renders the object graph below "$top"/"root": objects by class and sorted
// keys, Foundation collections as their contents (mutable or not), numbers by
// value, data that is itself a keyed archive (colours in user-default form)
// by its own graph. Two archives holding the same values render the same.
class ArchiveRendering {
public:
    static std::string of(const Data& bytes) {
        plist_t plist = nullptr;
        plist_from_bin(reinterpret_cast<const char*>(bytes.data()), static_cast<uint32_t>(bytes.size()),
                       &plist);
        if (!plist) return "<no property list>";
        ArchiveRendering rendering(plist);
        std::string text = rendering.renderTop();
        plist_free(plist);
        return text;
    }

private:
    explicit ArchiveRendering(plist_t plist) : plist_(plist) {}

    std::string renderTop() {
        objects_ = plist_dict_get_item(plist_, "$objects");
        plist_t top = plist_dict_get_item(plist_, "$top");
        plist_t root = top ? plist_dict_get_item(top, "root") : nullptr;
        if (!objects_ || !root) return "<no keyed archive>";
        return render(root, 0);
    }

    static std::string key(plist_t node) {
        char* text = nullptr;
        plist_get_string_val(node, &text);
        std::string result = text ? text : "";
        free(text);
        return result;
    }

    std::string renderObject(uint64_t uid, int depth) {
        if (depth > 200 || uid >= plist_array_get_size(objects_)) return "<bad>";
        plist_t object = plist_array_get_item(objects_, static_cast<uint32_t>(uid));
        if (uid == 0) return "nil";
        if (plist_get_node_type(object) != PLIST_DICT) return render(object, depth + 1);
        plist_t classRef = plist_dict_get_item(object, "$class");
        if (!classRef) return render(object, depth + 1);
        uint64_t classUID = 0;
        plist_get_uid_val(classRef, &classUID);
        plist_t classRecord = plist_array_get_item(objects_, static_cast<uint32_t>(classUID));
        const std::string className = key(plist_dict_get_item(classRecord, "$classname"));
        if (className == "NSArray" || className == "NSMutableArray") {
            return "[" + renderList(plist_dict_get_item(object, "NS.objects"), depth) + "]";
        }
        if (className == "NSDictionary" || className == "NSMutableDictionary") {
            plist_t keys = plist_dict_get_item(object, "NS.keys");
            plist_t values = plist_dict_get_item(object, "NS.objects");
            std::vector<std::string> entries;
            for (uint32_t i = 0; keys && values && i < plist_array_get_size(keys); ++i) {
                entries.push_back(render(plist_array_get_item(keys, i), depth + 1) + ": " +
                                  render(plist_array_get_item(values, i), depth + 1));
            }
            return "{" + joinSorted(entries) + "}";
        }
        if (className == "NSMutableString")
            return render(plist_dict_get_item(object, "NS.string"), depth + 1);
        if (className == "NSMutableData") return render(plist_dict_get_item(object, "NS.data"), depth + 1);
        std::vector<std::string> fields;
        plist_dict_iter it = nullptr;
        plist_dict_new_iter(object, &it);
        for (;;) {
            char* name = nullptr;
            plist_t value = nullptr;
            plist_dict_next_item(object, it, &name, &value);
            if (!name) break;
            const std::string field = name;
            free(name);
            if (field != "$class") fields.push_back(field + "=" + render(value, depth + 1));
        }
        free(it);
        std::string chain;
        plist_t classes = plist_dict_get_item(classRecord, "$classes");
        for (uint32_t i = 0; classes && i < plist_array_get_size(classes); ++i) {
            chain += (i ? "," : "") + key(plist_array_get_item(classes, i));
        }
        return className + "<" + chain + ">(" + joinSorted(fields) + ")";
    }

    std::string renderList(plist_t list, int depth) {
        std::string text;
        for (uint32_t i = 0; list && i < plist_array_get_size(list); ++i) {
            text += (i ? ", " : "") + render(plist_array_get_item(list, i), depth + 1);
        }
        return text;
    }

    static std::string joinSorted(std::vector<std::string> items) {
        std::sort(items.begin(), items.end());
        std::string text;
        for (size_t i = 0; i < items.size(); ++i) text += (i ? ", " : "") + items[i];
        return text;
    }

    static std::string number(double value) {
        char text[64];
        std::snprintf(text, sizeof text, "%.9g", value);
        return text;
    }

    std::string render(plist_t node, int depth) {
        if (!node) return "<missing>";
        switch (plist_get_node_type(node)) {
            case PLIST_UID: {
                uint64_t uid = 0;
                plist_get_uid_val(node, &uid);
                return renderObject(uid, depth);
            }
            case PLIST_STRING:
                return "\"" + key(node) + "\"";
            case PLIST_BOOLEAN: {
                uint8_t value = 0;
                plist_get_bool_val(node, &value);
                return value ? "true" : "false";
            }
            case PLIST_UINT: {
                uint64_t value = 0;
                plist_get_uint_val(node, &value);
                return number(static_cast<double>(static_cast<int64_t>(value)));
            }
            case PLIST_REAL: {
                double value = 0;
                plist_get_real_val(node, &value);
                return number(value);
            }
            case PLIST_DATA: {
                char* bytes = nullptr;
                uint64_t length = 0;
                plist_get_data_val(node, &bytes, &length);
                const Data data(bytes, bytes + length);
                free(bytes);
                if (data.size() > 8 && std::equal(data.begin(), data.begin() + 8, "bplist00")) {
                    return "archive(" + of(data) + ")";
                }
                std::string hex = "<";
                for (uint8_t byte : data) {
                    char digits[3];
                    std::snprintf(digits, sizeof digits, "%02x", byte);
                    hex += digits;
                }
                return hex + ">";
            }
            case PLIST_ARRAY:
                return "inline[" + renderList(node, depth) + "]";
            case PLIST_DICT: {
                std::vector<std::string> fields;
                plist_dict_iter it = nullptr;
                plist_dict_new_iter(node, &it);
                for (;;) {
                    char* name = nullptr;
                    plist_t value = nullptr;
                    plist_dict_next_item(node, it, &name, &value);
                    if (!name) break;
                    fields.push_back(std::string(name) + "=" + render(value, depth + 1));
                    free(name);
                }
                free(it);
                return "inline{" + joinSorted(fields) + "}";
            }
            default:
                return "<other>";
        }
    }

    plist_t plist_;
    plist_t objects_ = nullptr;
};

// Renderings run to kilobytes: a mismatch shows where they part.
inline void expectSameRendering(const std::string& actual, const std::string& expected) {
    if (actual == expected) return;
    size_t at = 0;
    while (at < actual.size() && at < expected.size() && actual[at] == expected[at]) ++at;
    const size_t from = at > 300 ? at - 300 : 0;
    ADD_FAILURE() << "renderings differ at " << at << "\n  actual:   ..." << actual.substr(from, 450)
                  << "\n  expected: ..." << expected.substr(from, 450);
}

// --- The fixture --------------------------------------------------------------------

class DocumentTestBase : public ::testing::Test {
protected:
    void SetUp() override {
        previousLoop_ = RunLoop::setMain(&loop);
        previousAlerts_ = AlertPresenter::setShared(&alerts);
        previousSink_ = Log::setSink([this](const std::string& line) { logged.push_back(line); });
        UserDefaults& defaults = UserDefaults::standardUserDefaults();
        CueDefaults::registerDefaults(defaults);
        savedRate_ = defaults.objectForKey("lastProjectFramerate");
        savedViewType_ = defaults.objectForKey("lastDocumentViewType");
        Cue::registerArchiveClass();
        Reel::registerArchiveClass();
        FFAlias::registerArchiveClass();
        folder = kTestConfigDir + "/" + ::testing::UnitTest::GetInstance()->current_test_info()->name();
        std::filesystem::remove_all(folder);
        std::filesystem::create_directories(folder);
    }

    void TearDown() override {
        loop.runPending();
        UserDefaults& defaults = UserDefaults::standardUserDefaults();
        defaults.setObject("lastProjectFramerate", savedRate_);
        defaults.setObject("lastDocumentViewType", savedViewType_);
        std::filesystem::remove_all(folder);
        Log::setSink(previousSink_);
        AlertPresenter::setShared(previousAlerts_);
        RunLoop::setMain(previousLoop_);
    }

    // A document read from the archive of a root dictionary; null when refused.
    std::shared_ptr<Document> documentFromRoot(const Value& root, std::string* error = nullptr) {
        return Document::documentWithData(KeyedArchiver::archivedDataWithRootObject(root), error);
    }

    static Value rootWith(std::initializer_list<std::pair<const char*, Value>> entries) {
        Value root = Value::dictionary();
        for (const auto& [key, value] : entries) root.dictionaryValue()->set(key, value);
        return root;
    }

    bool loggedLine(const std::string& text) const {
        return std::any_of(logged.begin(), logged.end(),
                           [&](const std::string& line) { return line.find(text) != std::string::npos; });
    }

    ManualRunLoop loop;
    ScriptedAlertPresenter alerts;
    std::vector<std::string> logged;
    std::string folder;

private:
    RunLoop* previousLoop_ = nullptr;
    AlertPresenter* previousAlerts_ = nullptr;
    Log::Sink previousSink_;
    Value savedRate_;
    Value savedViewType_;
};

}  // namespace tollvane::testing
