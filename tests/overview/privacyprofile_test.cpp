// Privacy profiles from what a stranger's app says of itself: identifiers and receivers that an
// XML property list can't hold, and more receivers than one profile names.
#include <gtest/gtest.h>

#include <QTemporaryDir>

#include "fixtures/componentbundle.h"
#include "format/plist/plist.h"
#include "overview/privacyprofile.h"

namespace varko::overview {
namespace {

using namespace examplegen;

TEST(PrivacyProfileTest, WhatAProfileCantHoldIsRefusedOrLeftOutAndReceiversAreBounded) {
    QTemporaryDir dir;
    const TestPki pki;
    ComponentApp description;
    description.info.set("NSAppleEventsUsageDescription", "Automate.");
    const auto app = writeComponentApp(dir.path().toStdString(), description, pki);
    ASSERT_TRUE(app) << app.error().message;
    const Overview read = readOverview(*app);

    Overview odd = read;
    odd.components.front().identity.infoIdentifier = "com.example.\x01host";
    const auto refused = privacyProfile(odd);
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.error().message,
              "the app's bundle identifier holds characters a profile can't hold");

    Overview many = read;
    plist::Array receivers{"com.example.\x1b[2Jbad", "com.example.\xff"};
    for (std::size_t i = 0; i < maxProfileReceivers + 10; ++i)
        receivers.push_back("com.example.r" + std::to_string(i));
    many.components.front().identity.entitlements.set(
        "com.apple.security.temporary-exception.apple-events", receivers);
    const auto profile = privacyProfile(many);
    ASSERT_TRUE(profile) << profile.error().message;
    const auto back = plist::parseXml(std::as_bytes(std::span(profile->xml)));
    ASSERT_TRUE(back) << back.error().message;
    const plist::Value* services =
        (*back->dictionary()->find("PayloadContent")->array())[0].dictionary()->find("Services");
    EXPECT_EQ(services->dictionary()->find("AppleEvents")->array()->size(),
              maxProfileReceivers - 2);
    std::string said;
    for (const std::string& w : profile->warnings) said += w + "\n";
    EXPECT_NE(said.find("left out: com.example.␛[2Jbad."), std::string::npos) << said;
    EXPECT_NE(said.find("left out: com.example.\\xFF."), std::string::npos) << said;
    EXPECT_NE(said.find("Only the first 256 Apple-event receivers"), std::string::npos) << said;
}

}  // namespace
}  // namespace varko::overview
