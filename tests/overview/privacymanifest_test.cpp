#include "overview/privacymanifest.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <filesystem>

#include "fixtures/machowriter.h"
#include "format/plist/plist.h"
#include "format/plist_bplist_builder.h"
#include "overview/datafile.h"
#include "overview/overviewjson.h"
#include "support/bytes.h"

namespace {

using namespace varko;
using namespace varko::overview;
namespace fs = std::filesystem;
using plist::testing::BplistBuilder;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using varko::testing::dataFile;
using varko::testing::expectJsonFile;

/// A manifest that uses every key, as Xcode writes one.
const std::string fullManifest = dataFile("PrivacyInfo.xcprivacy");

/// The manifest as varko-report's JSON gives it, all of it.
QJsonArray asJson(const PrivacyManifest& m) {
    Overview o;
    o.components.resize(1);
    o.components[0].identity.privacyManifest = m;
    return {componentsJson(o)[0].toObject()["privacyManifest"]};
}

/// The binary form of a value, as Xcode's property-list compiler would store it.
std::uint64_t addBinary(BplistBuilder& b, const plist::Value& v) {
    if (const auto* s = v.string()) return b.ascii(*s);
    if (const bool* flag = v.boolean()) return b.add({static_cast<std::uint8_t>(*flag ? 9 : 8)});
    if (const auto* a = v.array()) {
        std::vector<std::uint64_t> refs;
        for (const auto& item : *a) refs.push_back(addBinary(b, item));
        return b.array(refs);
    }
    std::vector<std::uint64_t> keys, values;
    for (const auto& [key, value] : *v.dictionary()) {
        keys.push_back(b.ascii(key));
        values.push_back(addBinary(b, value));
    }
    return b.dict(keys, values);
}

/// A builder of binary lists with references of `refSize` bytes and offsets of four.
BplistBuilder builder(unsigned refSize) {
    BplistBuilder b;
    b.refSize = refSize;
    b.offsetSize = 4;
    return b;
}

Expected<PrivacyManifest> parseBinary(BplistBuilder& b) {
    return parsePrivacyManifest(plist::testing::asBytes(b.build()));
}

Expected<PrivacyManifest> parseText(std::string_view text) {
    return parsePrivacyManifest(std::as_bytes(std::span(text.data(), text.size())));
}

TEST(PrivacyManifest, ReadsEveryKeyInXmlAndBinaryAlike) {
    auto xml = parseText(fullManifest);
    ASSERT_TRUE(xml) << xml.error().message;
    expectJsonFile(asJson(*xml), "full-manifest.json");

    const auto value = plist::parse(std::string_view(fullManifest));
    ASSERT_TRUE(value);
    BplistBuilder b = builder(2);
    b.top = addBinary(b, *value);
    auto fromBinary = parseBinary(b);
    ASSERT_TRUE(fromBinary) << fromBinary.error().message;
    expectJsonFile(asJson(*fromBinary), "full-manifest.json");

    EXPECT_EQ(manifestTitle("NSPrivacyCollectedDataTypeEmailAddress"), "Email Address");
    EXPECT_EQ(manifestTitle("NSPrivacyAccessedAPICategoryUserDefaults"), "User defaults");
    EXPECT_EQ(manifestTitle("CA92.1"), "CA92.1");
}

TEST(PrivacyManifest, WrongTypesBecomeProblemsAndTheRestIsRead) {
    // Every kind of wrong value, beside a few right ones, in the order the problems are told.
    auto m = parseText(dataFile("WrongTypes.xcprivacy"));
    ASSERT_TRUE(m) << m.error().message;
    expectJsonFile(asJson(*m), "wrong-types-manifest.json");

    // Only something that is no property list, or no dictionary, fails the whole.
    EXPECT_EQ(parseText("<plist><array/></plist>").error().message,
              "the privacy manifest is an array, not a dictionary");
    EXPECT_EQ(parseText("not a plist {").error().code, ErrorCode::malformed);
    EXPECT_FALSE(parseText(""));
}

TEST(PrivacyManifest, AHostileFileIsReadOnlyUpToItsBounds) {
    // Binary lists share objects: a small file names one domain thousands of times.
    {
        BplistBuilder b = builder(2);
        const auto domain = b.ascii("x.example");
        const auto key = b.ascii("NSPrivacyTrackingDomains");
        const auto list = b.array(std::vector<std::uint64_t>(5000, domain));
        b.top = b.dict({key}, {list});
        auto m = parseBinary(b);
        ASSERT_TRUE(m) << m.error().message;
        EXPECT_EQ(m->trackingDomains.size(), maxManifestItems);
        EXPECT_THAT(m->problems, ElementsAre("NSPrivacyTrackingDomains lists 5000 items; the "
                                             "first 1000 are read"));
    }
    // Every text counts toward one budget, purposes and reasons included.
    {
        BplistBuilder b = builder(4);
        const auto typeKey = b.ascii("NSPrivacyCollectedDataType");
        const auto purposesKey = b.ascii("NSPrivacyCollectedDataTypePurposes");
        std::vector<std::uint64_t> entries;
        for (int i = 0; i < 1000; ++i) {
            // Distinct objects: the reader refuses shared ones that expand past the file.
            std::vector<std::uint64_t> purposes;
            for (int j = 0; j < 20; ++j) purposes.push_back(b.ascii("p" + std::to_string(j)));
            entries.push_back(b.dict({typeKey, purposesKey},
                                     {b.ascii("t" + std::to_string(i)), b.array(purposes)}));
        }
        const auto key = b.ascii("NSPrivacyCollectedDataTypes");
        b.top = b.dict({key}, {b.array(entries)});
        auto m = parseBinary(b);
        ASSERT_TRUE(m) << m.error().message;
        std::size_t texts = m->collectedData.size();
        for (const auto& c : m->collectedData) texts += c.purposes.size();
        EXPECT_EQ(texts, maxManifestTexts);
        EXPECT_THAT(m->problems, ElementsAre("more than 4000 texts; the rest are left out"));
    }
    // Long texts are cut at a character's boundary; wrong items beyond the cap are counted.
    {
        std::string longDomain = "a";
        while (longDomain.size() < 1000) longDomain += "é";
        plist::Array domains{longDomain};
        const plist::Value one(plist::Integer{1});
        domains.insert(domains.end(), 200, one);
        plist::Dictionary root;
        root.set("NSPrivacyTrackingDomains", domains);
        auto m = parseText(plist::writeXml(root));
        ASSERT_TRUE(m);
        ASSERT_EQ(m->trackingDomains.size(), 1u);
        EXPECT_EQ(m->trackingDomains[0], longDomain.substr(0, maxManifestTextBytes - 1));
        ASSERT_EQ(m->problems.size(), maxManifestProblems + 1);
        EXPECT_EQ(m->problems[0], "a text in NSPrivacyTrackingDomains is cut to 256 bytes");
        EXPECT_EQ(m->problems.back(), "and 151 more problems");
    }
}

class PrivacyManifestFile : public ::testing::Test {
protected:
    QTemporaryDir dir;
    fs::path root() const { return fs::path(dir.path().toStdString()); }
    void write(const fs::path& path, std::string_view text) const {
        fs::create_directories(path.parent_path());
        ASSERT_TRUE(examplegen::writeFile(path, varko::testing::bytesOf(text)));
    }
};

TEST_F(PrivacyManifestFile, IsFoundWhereXcodePutsItAndOnlyInsideTheItem) {
    const fs::path app = root() / "Mac.app";
    write(app / "Contents/Info.plist", "<plist><dict/></plist>");
    const auto within = ItemRoot::of(app);
    ASSERT_TRUE(within);
    auto none = readPrivacyManifest(app / "Contents", &*within);
    ASSERT_TRUE(none) << none.error().message;
    EXPECT_FALSE(*none);

    write(app / "Contents/Resources/PrivacyInfo.xcprivacy", fullManifest);
    auto found = readPrivacyManifest(app / "Contents", &*within);
    ASSERT_TRUE(found) << found.error().message;
    ASSERT_TRUE(*found);
    expectJsonFile(asJson(**found), "full-manifest.json");

    // Flat bundles (iOS-style apps and frameworks) keep it at their top.
    const fs::path flat = root() / "Flat.framework";
    write(flat / "PrivacyInfo.xcprivacy", fullManifest);
    auto top = readPrivacyManifest(flat);
    ASSERT_TRUE(top && *top);
    EXPECT_EQ((*top)->trackingDomains.size(), 2u);

    // A manifest that leads out of the item is not read, and says so.
    const fs::path elsewhere = root() / "elsewhere.xcprivacy";
    write(elsewhere, fullManifest);
    fs::remove(app / "Contents/Resources/PrivacyInfo.xcprivacy");
    fs::create_symlink(elsewhere, app / "Contents/Resources/PrivacyInfo.xcprivacy");
    auto out = readPrivacyManifest(app / "Contents", &*within);
    ASSERT_FALSE(out);
    EXPECT_EQ(out.error().code, ErrorCode::refused);
    // So is one reached through a Resources folder that leads out.
    fs::remove_all(app / "Contents/Resources");
    fs::create_symlink(flat, app / "Contents/Resources");
    EXPECT_EQ(readPrivacyManifest(app / "Contents", &*within).error().code, ErrorCode::refused);
    fs::remove(app / "Contents/Resources");

    write(app / "Contents/Resources/PrivacyInfo.xcprivacy", std::string(maxManifestBytes + 1, ' '));
    EXPECT_EQ(readPrivacyManifest(app / "Contents", &*within).error().code, ErrorCode::tooLarge);
    write(app / "Contents/Resources/PrivacyInfo.xcprivacy", "<plist><string>x</string></plist>");
    auto notDict = readPrivacyManifest(app / "Contents", &*within);
    ASSERT_FALSE(notDict);
    EXPECT_THAT(notDict.error().message,
                HasSubstr("PrivacyInfo.xcprivacy: the privacy manifest is a text"));
}

}  // namespace
