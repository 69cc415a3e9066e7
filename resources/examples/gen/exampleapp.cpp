#include "gen/exampleapp.h"

#include <system_error>
#include <vector>

#include "gen/bundlewriter.h"
#include "gen/machowriter.h"
#include "gen/sealedbundle.h"

namespace varko::examplegen {

namespace {

constexpr const char* plistHead =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
    "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
    "<plist version=\"1.0\">\n";

}  // namespace

std::string exampleInfoPlist() {
    return std::string(plistHead) +
           "<dict>\n"
           "\t<key>CFBundleDevelopmentRegion</key>\n\t<string>en</string>\n"
           "\t<key>CFBundleExecutable</key>\n\t<string>Example</string>\n"
           "\t<key>CFBundleIdentifier</key>\n\t<string>com.example.varko.Example</string>\n"
           "\t<key>CFBundleInfoDictionaryVersion</key>\n\t<string>6.0</string>\n"
           "\t<key>CFBundleName</key>\n\t<string>Example</string>\n"
           "\t<key>CFBundlePackageType</key>\n\t<string>APPL</string>\n"
           "\t<key>CFBundleShortVersionString</key>\n\t<string>1.2</string>\n"
           "\t<key>CFBundleVersion</key>\n\t<string>42</string>\n"
           "\t<key>DTSDKName</key>\n\t<string>macosx11.1</string>\n"
           "\t<key>LSMinimumSystemVersion</key>\n\t<string>11.0</string>\n"
           "\t<key>NSAppleEventsUsageDescription</key>\n"
           "\t<string>Example sends Apple events to Finder to reveal the files you "
           "export.</string>\n"
           "\t<key>NSBluetoothAlwaysUsageDescription</key>\n"
           "\t<string>Example connects to your Bluetooth heart-rate monitor during a "
           "session.</string>\n"
           "\t<key>NSCameraUsageDescription</key>\n"
           "\t<string>Example uses the camera to scan the QR code on your ticket.</string>\n"
           "\t<key>NSContactsUsageDescription</key>\n"
           "\t<string>Example reads your contacts so that you can invite friends to a "
           "session.</string>\n"
           "\t<key>NSMicrophoneUsageDescription</key>\n"
           "\t<string>Example records your voice notes with the microphone.</string>\n"
           "</dict>\n"
           "</plist>\n";
}

std::string exampleEntitlements() {
    return std::string(plistHead) +
           "<dict>\n"
           "\t<key>com.apple.private.tcc.allow</key>\n"
           "\t<array>\n"
           "\t\t<string>kTCCServiceCamera</string>\n"
           "\t\t<string>kTCCServiceLiverpool</string>\n"
           "\t\t<string>kTCCServiceSomethingNew</string>\n"
           "\t</array>\n"
           "\t<key>com.apple.security.app-sandbox</key>\n\t<true/>\n"
           "\t<key>com.apple.security.device.audio-input</key>\n\t<true/>\n"
           "\t<key>com.apple.security.device.camera</key>\n\t<false/>\n"
           "\t<key>com.apple.security.personal-information.addressbook</key>\n\t<true/>\n"
           "</dict>\n"
           "</plist>\n";
}

Expected<std::filesystem::path> writeExampleApp(const std::filesystem::path& outDir) {
    const std::string info = exampleInfoPlist();
    SignatureOptions signature;
    signature.identifier = "com.example.varko.Example";
    signature.flags = codesig::CS_ADHOC | codesig::CS_RUNTIME;
    signature.entitlements = exampleEntitlements();
    const auto infoBytes = std::as_bytes(std::span(info.data(), info.size()));
    signature.infoPlist = std::vector<std::byte>(infoBytes.begin(), infoBytes.end());
    // Sealed as codesign seals a bundle, though it holds no resources: every bundle must be.
    const std::string seal = codeResources({});
    const auto sealBytes = std::as_bytes(std::span(seal.data(), seal.size()));
    signature.codeResources = std::vector<std::byte>(sealBytes.begin(), sealBytes.end());

    std::vector<std::vector<std::byte>> slices;
    for (Arch arch : {Arch::X86_64, Arch::Arm64}) {
        MachOOptions options;
        options.arch = arch;
        options.codeSize = 4096 + 512;  // more than one page, the last one short
        options.signature = signature;
        options.signatureSlack = 256;
        slices.push_back(makeMachO(options));
    }
    std::error_code ec;
    std::filesystem::create_directories(outDir, ec);
    if (ec) return Error{0, outDir.string() + ": " + ec.message()};
    const auto app = outDir / "Example.app";
    auto written = writeBundle(app, info, "Example", makeUniversal(slices));
    if (!written) return written.error();
    std::filesystem::create_directories(app / "Contents" / "_CodeSignature", ec);
    if (auto w = writeFile(app / "Contents" / "_CodeSignature" / "CodeResources", sealBytes); !w) return w.error();
    return app;
}

}  // namespace varko::examplegen
