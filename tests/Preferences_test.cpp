#include "platform/cf/Preferences.h"

#include <gtest/gtest.h>

#include <QString>
#include <cmath>
#include <filesystem>

#include "testkit/TempTree.h"

using testsupport::readText;
using testsupport::TempTree;

namespace {

const CFStringRef kApp = kCFPreferencesCurrentApplication;

// Every test gets its own configuration folder.
class Preferences : public ::testing::Test {
protected:
    Preferences() { setenv("XDG_CONFIG_HOME", tree_.root().c_str(), 1); }
    ~Preferences() override { unsetenv("XDG_CONFIG_HOME"); }
    void writeFile(const std::string& text) { tree_.write("brackwater/preferences.json", text); }
    std::vector<std::string> asideFiles() const {
        std::vector<std::string> names;
        for (auto& e : std::filesystem::directory_iterator(tree_.path("brackwater")))
            if (e.path().filename() != "preferences.json")
                names.push_back(e.path().filename().string());
        return names;
    }

    TempTree tree_;
    const std::string file_ = tree_.path("brackwater/preferences.json");
};

struct Released {
    CFPropertyListRef value;
    ~Released() { CFRelease(value); }
};

template <class T>
CFNumberRef number(CFNumberType type, T value) {
    return CFNumberCreate(nullptr, type, &value);
}

}  // namespace

TEST_F(Preferences, ReadsTypedValuesAndKeepsIntegersApartFromReals) {
    writeFile(R"({"int": 2, "real": 2.0, "exp": 2e0, "no": false, "name": "Caf\u00e9 \ud83d\ude00",
                 "list": [1, 2], "nothing": null, "huge": 1e999, "wide": 99999999999999999999})");
    ASSERT_TRUE(CFPreferencesAppSynchronize(kApp));
    // A number past 64 bits is a real.
    for (auto [key, real] : {std::pair{CFSTR("int"), false},
                             {CFSTR("real"), true},
                             {CFSTR("exp"), true},
                             {CFSTR("wide"), true}}) {
        Released n{CFPreferencesCopyAppValue(key, kApp)};
        ASSERT_EQ(CFGetTypeID(n.value), CFNumberGetTypeID());
        EXPECT_EQ(bool(CFNumberIsFloatType(static_cast<CFNumberRef>(n.value))), real);
    }
    Released b{CFPreferencesCopyAppValue(CFSTR("no"), kApp)};
    Released s{CFPreferencesCopyAppValue(CFSTR("name"), kApp)};
    EXPECT_EQ(b.value, kCFBooleanFalse);
    ASSERT_EQ(CFGetTypeID(s.value), CFStringGetTypeID());
    EXPECT_EQ(QStringFromCFString(static_cast<CFStringRef>(s.value)),
              QString::fromUtf8("Caf\xC3\xA9 \xF0\x9F\x98\x80"));
    // Values the store has no type for read as absent; a number past the double
    // range is one of them.
    for (CFStringRef key : {CFSTR("list"), CFSTR("nothing"), CFSTR("huge"), CFSTR("missing")})
        EXPECT_EQ(CFPreferencesCopyAppValue(key, kApp), nullptr);
}

TEST_F(Preferences, WritesPendingChangesOverTheFileAndKeepsEverythingElse) {
    EXPECT_FALSE(testsupport::exists(file_));
    Released n{number(kCFNumberSInt16Type, SInt16(2))}, h{number(kCFNumberFloat64Type, 0.5)},
        w{number(kCFNumberFloat64Type, 3.0)}, bad{number(kCFNumberFloat64Type, double(INFINITY))};
    CFPreferencesSetAppValue(CFSTR("FunctionType"), n.value, kApp);
    CFPreferencesSetAppValue(CFSTR("QuitWhenDone"), kCFBooleanFalse, kApp);
    ASSERT_TRUE(CFPreferencesAppSynchronize(kApp));
    EXPECT_EQ(readText(file_), "{\n    \"FunctionType\": 2,\n    \"QuitWhenDone\": false\n}\n");

    // Someone edits the file meanwhile: their entries survive, formatting included.
    writeFile("{\"keep\": [1, {\"deep\" : \"x\"}], \"FunctionType\": 3, \"QuitWhenDone\": false}");
    CFPreferencesSetAppValue(CFSTR("half"), h.value, kApp);
    CFPreferencesSetAppValue(CFSTR("whole"), w.value, kApp);
    CFPreferencesSetAppValue(CFSTR("QuitWhenDone"), nullptr, kApp);  // removal
    CFPreferencesSetAppValue(CFSTR("quote"), CFSTR("a\"b\\c\n"), kApp);
    ASSERT_TRUE(CFPreferencesAppSynchronize(kApp));
    EXPECT_EQ(readText(file_),
              "{\n    \"keep\": [1, {\"deep\" : \"x\"}],\n    \"FunctionType\": 3,\n"
              "    \"half\": 0.5,\n    \"whole\": 3.0,\n    \"quote\": \"a\\\"b\\\\c\\n\"\n}\n");

    // Values JSON cannot hold are refused, not written as something else.
    CFPreferencesSetAppValue(CFSTR("bad"), bad.value, kApp);
    EXPECT_EQ(CFPreferencesCopyAppValue(CFSTR("bad"), kApp), nullptr);
}

TEST_F(Preferences, AFileThatCannotBeReadOrParsedIsNeverWrittenOverAndLivesInTheConfigFolder) {
    tree_.mkdir("brackwater/preferences.json/inside");
    CFPreferencesSetAppValue(CFSTR("QuitWhenDone"), kCFBooleanFalse, kApp);
    EXPECT_FALSE(CFPreferencesAppSynchronize(kApp));
    EXPECT_TRUE(std::filesystem::is_directory(file_ + "/inside"));
    // The change stays pending and visible, and is written once the way is clear.
    Released v{CFPreferencesCopyAppValue(CFSTR("QuitWhenDone"), kApp)};
    EXPECT_EQ(v.value, kCFBooleanFalse);
    std::filesystem::remove_all(file_);
    EXPECT_TRUE(CFPreferencesAppSynchronize(kApp));
    EXPECT_EQ(readText(file_), "{\n    \"QuitWhenDone\": false\n}\n");

    // A file that does not parse is moved aside, not overwritten.
    const std::string broken = "{\"FunctionType\": 2,, oops";
    writeFile(broken);
    ASSERT_TRUE(CFPreferencesAppSynchronize(kApp));
    EXPECT_EQ(CFPreferencesCopyAppValue(CFSTR("FunctionType"), kApp), nullptr);
    // Reading alone changes nothing on disk.
    EXPECT_EQ(readText(file_), broken);
    EXPECT_TRUE(asideFiles().empty());

    CFPreferencesSetAppValue(CFSTR("QuitWhenDone"), kCFBooleanTrue, kApp);
    ASSERT_TRUE(CFPreferencesAppSynchronize(kApp));
    EXPECT_EQ(readText(file_), "{\n    \"QuitWhenDone\": true\n}\n");
    auto aside = asideFiles();
    ASSERT_EQ(aside.size(), 1u);
    EXPECT_EQ(aside[0].rfind("preferences.json.unreadable-", 0), 0u);
    EXPECT_EQ(readText(tree_.path("brackwater/" + aside[0])), broken);

    // A second broken file the same second gets a name of its own.
    for (const char* text : {"", "[1, 2]", "{\"a\": 01}", "{\"a\": \"\xE9\"}"}) {
        writeFile(text);
        CFPreferencesSetAppValue(CFSTR("x"), kCFBooleanTrue, kApp);
        ASSERT_TRUE(CFPreferencesAppSynchronize(kApp)) << text;
    }
    EXPECT_EQ(asideFiles().size(), 5u);

    // The file lives in XDG_CONFIG_HOME (every other test reads the file it set)
    // or else in ~/.config.
    setenv("XDG_CONFIG_HOME", "relative/config", 1);  // not absolute: ignored
    const std::string savedHome = getenv("HOME") ? getenv("HOME") : "";
    setenv("HOME", tree_.root().c_str(), 1);
    EXPECT_EQ(PreferencesFilePath(),
              QString::fromStdString(tree_.path(".config/brackwater/preferences.json")));
    setenv("HOME", savedHome.c_str(), 1);
}
