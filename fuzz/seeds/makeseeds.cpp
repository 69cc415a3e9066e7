// varko-fuzzseeds CORPUS: writes the generated seeds into CORPUS/NAME/ for the fuzz
// targets, from the same writers that make the tests' fixtures. Keys are made afresh, so
// every run gives other bytes of the same shape.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <span>
#include <string>
#include <string_view>
#include <tuple>
#include <utility>
#include <vector>

#include "../filetree.h"
#include "fixtures/componentbundle.h"
#include "fixtures/machowriter.h"
#include "fixtures/pkgwriter.h"
#include "fixtures/sealedbundle.h"
#include "fixtures/sha256.h"
#include "fixtures/testca.h"
#include "fixtures/xarwriter.h"
#include "format/codesig/superblob.h"
#include "format/macho/machofile.h"
#include "format/plist/plist.h"

namespace fs = std::filesystem;
using namespace varko::examplegen;

namespace {

constexpr std::int64_t jan2020 = 1577836800;
constexpr std::int64_t jan2024 = 1704067200;
constexpr std::int64_t jan2030 = 1893456000;
constexpr std::int64_t jan2040 = 2208988800;

fs::path corpus;

void save(const std::string& target, const std::string& name, std::span<const std::byte> bytes) {
    fs::create_directories(corpus / target);
    std::ofstream(corpus / target / name, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
}

void save(const std::string& target, const std::string& name, std::string_view text) {
    save(target, name, std::as_bytes(std::span(text.data(), text.size())));
}

struct Pki {
    TestIdentity root = makeTestRoot("Varko Test Root CA", jan2020, jan2040);
    TestIdentity intermediate =
        issue("Varko Test Developer ID CA", true, {"1.2.840.113635.100.6.2.6"}, root);
    TestIdentity leaf = issue("Developer ID Application: Varko Tests (TEAM123456)", false,
                              {"1.2.840.113635.100.6.1.13"}, intermediate);
    TestIdentity installer = rsaInstaller();
    TestIdentity tsa = timestamping();

    static TestIdentity issue(const std::string& cn, bool ca, std::vector<std::string> markers,
                              const TestIdentity& by, bool rsa = false) {
        CertificateRequest r;
        r.commonName = cn;
        r.authority = ca;
        r.markers = std::move(markers);
        r.rsa = rsa;
        r.notBefore = jan2020;
        r.notAfter = ca ? jan2040 : jan2030;
        if (!ca) r.organizationalUnit = "TEAM123456";
        return issueCertificate(r, by);
    }
    TestIdentity rsaInstaller() {
        return issue("Developer ID Installer: Varko Tests (TEAM123456)", false,
                     {"1.2.840.113635.100.6.1.14"}, intermediate, true);
    }
    TestIdentity timestamping() {
        CertificateRequest r;
        r.commonName = "Varko Test Timestamp Signer";
        r.timeStamping = true;
        r.notBefore = jan2020;
        r.notAfter = jan2040;
        return issueCertificate(r, root);
    }
};

CmsRequest cmsRequest(const Pki& pki, bool ber, bool timestamped) {
    CmsRequest r;
    r.signer = &pki.leaf;
    r.chain = {&pki.leaf, &pki.intermediate, &pki.root};
    r.signingTime = jan2024;
    r.timestampAuthority = timestamped ? &pki.tsa : nullptr;
    r.timestampTime = jan2024;
    r.ber = ber;
    return r;
}

SignatureOptions adhoc(const std::string& identifier) {
    SignatureOptions s;
    s.identifier = identifier;
    s.entitlements =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n<dict>\n"
        "\t<key>com.apple.security.app-sandbox</key>\n\t<true/>\n</dict>\n</plist>\n";
    return s;
}

std::vector<std::byte> machO(Arch arch, std::optional<SignatureOptions> signature) {
    MachOOptions o;
    o.arch = arch;
    o.signature = std::move(signature);
    return makeMachO(o);
}

void machoSeeds(const Pki& pki) {
    save("macho", "thin-x86_64-adhoc", machO(Arch::X86_64, adhoc("com.example.fuzz")));
    save("macho", "thin-arm64-unsigned", machO(Arch::Arm64, std::nullopt));
    save("macho", "thin-i386-adhoc", machO(Arch::I386, adhoc("com.example.fuzz32")));
    SignatureOptions signedBy = adhoc("com.example.fuzz.signed");
    signedBy.teamId = "TEAM123456";
    signedBy.flags = varko::codesig::CS_RUNTIME;
    signedBy.cmsSigner = [&pki](std::span<const std::byte> cd) {
        return signCms(cd, cmsRequest(pki, true, false));
    };
    save("macho", "thin-arm64-cms", machO(Arch::Arm64, signedBy));
    const std::vector<std::vector<std::byte>> slices{
        machO(Arch::X86_64, adhoc("com.example.fuzz")),
        machO(Arch::Arm64e, adhoc("com.example.fuzz"))};
    save("macho", "universal-adhoc", makeUniversal(slices));
    save("macho", "universal64-adhoc", makeUniversal(slices, true));
}

/// Flat packages with payloads in each compression, and scripts.
void payloadSeeds() {
    const std::vector<ArchiveEntry> entries{folderEntry("."), folderEntry("./Applications"),
                                            fileEntry("./Applications/tool", "#!/bin/sh\n", 04755)};
    const auto info = packageInfo("com.example.seed", "1", "/");
    for (const auto& [name, compression] : {std::pair{"gzip.pkg", Compression::gzip},
                                            {"pbzx.pkg", Compression::pbzx},
                                            {"plain.pkg", Compression::none}})
        save("payload", name,
             makeFlatPackage(
                 {{"Distribution", {}},
                  {"A.pkg/PackageInfo", info},
                  {"A.pkg/Payload", makeCpio(entries, compression, 256)},
                  {"A.pkg/Scripts",
                   makeCpio({fileEntry("./postinstall", "exit 0\n", 0755)}, Compression::gzip)}}));
}

void xarSeeds(const Pki& pki) {
    const std::string files = "<file id=\"1\"><name>Payload</name><type>file</type></file>";
    const XarSigning rsa{
        &pki.installer, {&pki.installer, &pki.intermediate, &pki.root}, false, {}, 0};
    XarSigning cms = rsa;
    cms.cms = true;
    cms.cmsRequest = cmsRequest(pki, false, true);
    cms.cmsRequest.signer = &pki.installer;
    cms.cmsRequest.chain = {&pki.installer, &pki.intermediate, &pki.root};
    cms.cmsReserve = 4000;
    for (const char* target : {"xar", "packagesignature"}) {
        save(target, "rsa-sha1.xar", makeXar(files, rsa, "sha1"));
        save(target, "rsa-sha256.xar", makeXar(files, rsa, "sha256"));
        save(target, "cms-timestamped.xar", makeXar(files, cms, "sha256"));
    }
    save("xar", "unsigned-sha1.xar", makeXar(files, std::nullopt, "sha1"));
}

/// One byte of content length, the content, then the CMS signature over it.
void trustSeed(const std::string& name, std::string_view content, const CmsRequest& request) {
    const auto bytes = std::as_bytes(std::span(content.data(), content.size()));
    std::vector<std::byte> seed{std::byte(content.size())};
    seed.insert(seed.end(), bytes.begin(), bytes.end());
    const auto cms = signCms(bytes, request);
    seed.insert(seed.end(), cms.begin(), cms.end());
    save("trust", name, seed);
}

void trustSeeds(const Pki& pki) {
    const std::string_view content = "a code directory stands here";
    trustSeed("der", content, cmsRequest(pki, false, false));
    trustSeed("ber-timestamped", content, cmsRequest(pki, true, true));
    trustSeed("der-timestamped", content, cmsRequest(pki, false, true));
    CmsRequest bare = cmsRequest(pki, false, false);
    bare.appleAttributes = false;
    bare.chain = {&pki.intermediate, &pki.leaf};  // out of order, root left out
    trustSeed("der-partial-chain", content, bare);
}

void sealSeeds() {
    save("resourceseal", "sealed-resources.plist",
         codeResources(
             {{"Resources/en.lproj/InfoPlist.strings", "\"CFBundleName\" = \"Fuzz\";\n", {}},
              {"Resources/data.txt", "hello, seal\n", {}},
              {"Resources/link.txt", "", std::string("data.txt")},
              {"Frameworks/Kit.framework", "", {}, std::vector<unsigned char>(20, 0xab)}}));
    // The first version's form: files as bare data, rules as booleans and dictionaries.
    save("resourceseal", "version1.plist",
         "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n<dict>\n"
         "\t<key>files</key>\n\t<dict>\n\t\t<key>Resources/a.txt</"
         "key>\n\t\t<data>qqqqqqqqqqqqqqqqqqqqqqqqqqo=</data>\n"
         "\t\t<key>Resources/old.lproj/b</key>\n\t\t<dict><key>hash</"
         "key><data>AAAAAAAAAAAAAAAAAAAAAAAAAAA=</data>"
         "<key>optional</key><true/></dict>\n\t</dict>\n"
         "\t<key>rules</key>\n\t<dict>\n\t\t<key>^Resources/</key>\n\t\t<true/>\n"
         "\t\t<key>^Resources/.*\\.lproj/</key>\n\t\t<dict><key>optional</key><true/><key>weight</"
         "key>"
         "<real>1000</real></dict>\n\t\t<key>^(.*/)?\\.DS_Store$</key>\n\t\t<dict><key>omit</"
         "key><true/>"
         "<key>weight</key><integer>2000</integer></dict>\n\t\t<key>^Skipped</key>\n\t\t<false/"
         ">\n\t</dict>\n"
         "</dict>\n</plist>\n");
}

/// A colour count, the colours, the font name, then runs of colour, size code, 16-bit
/// length and UTF-8 text, as fuzz_rtf reads them.
std::string rtfInput(const std::string& colours, std::string_view font,
                     const std::vector<std::tuple<int, int, std::string_view>>& runs) {
    std::string out(1, static_cast<char>(colours.size() / 3));
    out += colours;
    out += font;
    out += '\0';
    for (const auto& [colour, size, text] : runs) {
        out += static_cast<char>(colour);
        out += static_cast<char>(size);
        out += static_cast<char>(text.size() & 0xff);
        out += static_cast<char>(text.size() >> 8);
        out += text;
    }
    return out;
}

void rtfSeeds() {
    // A saved log: time, process and message in the log window's colours and size.
    save("rtf", "log-lines",
         rtfInput("\xe8\x3e\x34\x28\xa7\x45\x14\x74\xf0", "Menlo",
                  {{3, 30, "2024-04-07 10:00:00.123456+0200 "},
                   {1, 30, "tccd[123]: "},
                   {0, 30, "AUTHREQ_RESULT: {path}\\ msgID=1\tdeny\n"},
                   {2, 24,
                    "Caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80 \xc3\xbc\r\x7f" +
                        std::string(1, '\0') + "end\n"}}));
    // Colours out of the table's range, and sizes that are not numbers or out of range.
    save("rtf", "sizes-and-odd-colours",
         rtfInput(std::string(3, '\0'), "Courier New",
                  {{-1, 251, "nan"},
                   {5, 252, "inf"},
                   {1, 253, "-inf"},
                   {0, 254, "neg"},
                   {1, 255, "huge"},
                   {0, 1, "half"},
                   {1, 3, "one and a half"}}));
}

/// Writes a bundle with `write` into a scratch folder and saves it as tree records.
template <typename Write>
void bundleSeed(const std::string& name, Write write, const std::string& target = "bundle") {
    const fs::path scratch = fs::temp_directory_path() / ("varko-fuzzseeds-" + name);
    fs::remove_all(scratch);
    fs::create_directories(scratch);
    const fs::path bundle = write(scratch);
    const auto records = varko::fuzzing::encodeTree(bundle);
    save(target, name, std::as_bytes(std::span(records)));
    fs::remove_all(scratch);
}

std::string infoPlist(const std::string& executable) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n<dict>\n"
           "\t<key>CFBundleExecutable</key>\n\t<string>" +
           executable +
           "</string>\n\t<key>CFBundleIdentifier</key>\n\t<string>com.example.fuzz</string>\n</"
           "dict>\n</plist>\n";
}

MachOOptions smallExecutable(const std::string& identifier) {
    MachOOptions o;
    o.arch = Arch::X86_64;
    o.codeSize = 200;
    o.signature = adhoc(identifier);
    o.signature->entitlements.reset();
    return o;
}

std::vector<BundleFile> resources() {
    return {{"Resources/en.lproj/InfoPlist.strings", "\"CFBundleName\" = \"Fuzz\";\n", {}},
            {"Resources/data.txt", "hello, seal\n", {}},
            {"Resources/link.txt", "", std::string("data.txt")}};
}

/// The cdhash the seal names nested code by: the first 20 bytes of its directory's SHA-256.
std::vector<unsigned char> cdhashOf(const fs::path& executable) {
    std::ifstream in(executable, std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const auto bytes = std::as_bytes(std::span(text.data(), text.size()));
    const varko::macho::MemorySource source(bytes);
    auto file = varko::macho::MachOFile::create(source);
    if (!file || !file->slices()[0].codeSignature) return {};
    auto signature = varko::macho::MachOFile::readCodeSignature(source, file->slices()[0]);
    if (!signature) return {};
    auto superBlob = varko::codesig::SuperBlob::create(*signature);
    if (!superBlob) return {};
    auto cd = superBlob->codeDirectory();
    if (!cd || !*cd) return {};
    const auto& directory = **cd;
    const auto digest =
        sha256(std::span(directory.bytes)
                   .first(std::min<std::size_t>(directory.length, directory.bytes.size())));
    return std::vector<unsigned char>(reinterpret_cast<const unsigned char*>(digest.data()),
                                      reinterpret_cast<const unsigned char*>(digest.data()) + 20);
}

/// Replaces each named file of `bundle` with a link to the given target.
void relink(const fs::path& bundle, const std::vector<std::pair<std::string, std::string>>& links) {
    for (const auto& [path, target] : links) {
        fs::remove_all(bundle / path);
        fs::create_symlink(target, bundle / path);
    }
}

fs::path app(const fs::path& dir) {
    (void)writeSealedBundle(dir / "Fuzz.app", infoPlist("Fuzz"), "Fuzz", resources(),
                            smallExecutable("com.example.fuzz"));
    return dir / "Fuzz.app";
}

fs::path framework(const fs::path& dir) {
    (void)writeSealedFramework(dir / "Kit.framework", infoPlist("Kit"), "Kit",
                               {{"Resources/strings.txt", "framework data\n", {}}},
                               smallExecutable("com.example.kit"));
    return dir / "Kit.framework";
}

void bundleSeeds() {
    bundleSeed("app", app);
    bundleSeed("framework", framework);
    // Links that climb: one back into the bundle, the others out of it, where the fuzz
    // target keeps files a bundle would read.
    bundleSeed("app-links-climbing", [](const fs::path& dir) {
        const fs::path bundle = app(dir);
        relink(bundle, {{"Contents/Resources/link.txt", "../Resources/data.txt"},
                        {"Contents/_CodeSignature/CodeResources", "../../../CodeResources"}});
        return bundle;
    });
    bundleSeed("app-info-plist-outside", [](const fs::path& dir) {
        const fs::path bundle = app(dir);
        relink(bundle, {{"Contents/Info.plist", "../../Info.plist"}});
        return bundle;
    });
    bundleSeed("framework-current-outside", [](const fs::path& dir) {
        const fs::path bundle = framework(dir);
        relink(bundle, {{"Versions/Current", "../.."}});
        return bundle;
    });
    bundleSeed("app-nesting", [](const fs::path& dir) {
        const fs::path kit = dir / "parts" / "Kit.framework";
        (void)writeSealedFramework(kit, infoPlist("Kit"), "Kit",
                                   {{"Resources/strings.txt", "framework data\n", {}}},
                                   smallExecutable("com.example.kit"));
        auto files = resources();
        files.push_back({"Frameworks/Kit.framework", "", {}, cdhashOf(kit / "Versions/A/Kit")});
        const fs::path host = dir / "Fuzz.app";
        (void)writeSealedBundle(host, infoPlist("Fuzz"), "Fuzz", files,
                                smallExecutable("com.example.fuzz"));
        fs::create_directories(host / "Contents/Frameworks");
        fs::copy(kit, host / "Contents/Frameworks/Kit.framework",
                 fs::copy_options::recursive | fs::copy_options::copy_symlinks);
        return host;
    });
}

/// Entitlements as codesign writes them in DER: sets like Developer ID files hold, and one
/// of every kind of value nested.
void derSeeds() {
    const auto der = [](const std::string& xml) {
        auto value = varko::plist::parse(std::string_view(xml));
        return derEntitlements(*value->dictionary());
    };
    const std::string head = "<plist version=\"1.0\"><dict>";
    save("derentitlements", "empty", der(head + "</dict></plist>"));
    save("derentitlements", "hardened-runtime",
         der(head + "<key>com.apple.security.cs.allow-jit</key><true/>"
                    "<key>com.apple.security.cs.disable-library-validation</key><true/>"
                    "<key>com.apple.security.device.camera</key><false/></dict></plist>"));
    save("derentitlements", "every-kind",
         der(head +
             "<key>com.apple.application-identifier</key><string>TEAM123456.com.example</string>"
             "<key>com.apple.private.tcc.allow</key><array><string>kTCCServiceCamera</string>"
             "<string>kTCCServiceMicrophone</string></array>"
             "<key>nested</key><dict><key>n</key><integer>-129</integer><key>big</key>"
             "<integer>9223372036854775807</integer><key>list</key><array><array><dict/></array>"
             "</array></dict></dict></plist>"));
}

/// Requirement sets as codesign writes them: a Developer ID designated requirement, and
/// one of every match and nesting.
void requirementSeeds() {
    std::vector<std::byte> b;
    const auto w = [&](std::uint32_t v) {
        for (int shift = 24; shift >= 0; shift -= 8) b.push_back(std::byte(v >> shift));
    };
    const auto s = [&](std::string_view text) {
        w(static_cast<std::uint32_t>(text.size()));
        for (const char c : text) b.push_back(std::byte(c));
        while (b.size() % 4) b.push_back(std::byte{0});
    };
    const std::string_view devIdCa("\x2a\x86\x48\x86\xf7\x63\x64\x06\x02\x06", 10);
    // A set of one designated requirement; the lengths are filled in at the end.
    const auto set = [&](const auto& program) {
        b.clear();
        for (const std::uint32_t v : {0xfade0c01u, 0u, 1u, 3u, 20u, 0xfade0c00u, 0u, 1u}) w(v);
        program();
        for (const auto& [at, value] :
             {std::pair<std::size_t, std::size_t>{4, b.size()}, {24, b.size() - 20}})
            for (int i = 0; i < 4; ++i) b[at + i] = std::byte(value >> (24 - 8 * i));
        return b;
    };
    save("requirement", "developer-id", set([&] {
             w(6), w(2), s("com.example.app"), w(6), w(15), w(6), w(14), w(1), s(devIdCa), w(0);
             w(11), w(0), s("subject.OU"), w(1), s("TEAM123456");
         }));
    save("requirement", "every-match", set([&] {
             for (std::uint32_t op = 0; op < 14; ++op) w(7), w(10), s("k"), w(op), s("v");
             w(9), w(22), w(-1u), s(devIdCa), w(9), w(0), w(0), w(19), s("1.0"), w(21);
         }));
}

/// Apps with a piece of each kind, code hidden where the walk once looked away, and a
/// launch agent: the whole-app reader's seeds.
void wholeAppSeeds() {
    const TestPki pki;
    const auto written = [&](const ComponentApp& app) {
        return [&pki, app](const fs::path& dir) {
            const auto path = writeComponentApp(dir, app, pki);
            return path ? *path : dir;
        };
    };
    ComponentApp app;
    app.codeSize = 512;
    app.info.set("NSCameraUsageDescription", "Scans codes.");
    app.entitlements = entitlementsGranting({"com.apple.security.device.camera"});
    app.privacyManifest = privacyManifestText(true, {"t.example"}, {}, {});
    for (const auto& [kind, path] :
         {std::pair{PieceKind::framework, "Contents/Frameworks/Kit.framework"},
          {PieceKind::xpcService, "Contents/XPCServices/Worker.xpc"},
          {PieceKind::helper, "Contents/Resources/x/_CodeSignature/spy"},
          {PieceKind::launchAgent, "Contents/Library/LaunchAgents/com.example.agent.plist"}}) {
        Piece piece = pieceAt(kind, path);
        piece.codeSize = 512;
        app.pieces.push_back(piece);
    }
    bundleSeed("pieces", written(app), "wholeapp");
    app.pieces.back().signing = Signing::unsignedCode;
    app.afterSigning = {{"Contents/Resources/stray", "x"}};
    bundleSeed("pieces-broken", written(app), "wholeapp");
}

/// Folder trees for the scan's walk: a byte that swaps a folder for a link (0: none),
/// then the tree's records.
void scanWalkSeeds() {
    const auto seed = [](const std::string& name, std::uint8_t swap, const auto& make) {
        const fs::path scratch = fs::temp_directory_path() / "varko-seed-walk";
        fs::remove_all(scratch);
        fs::create_directories(scratch);
        make(scratch);
        std::vector<std::uint8_t> records{swap};
        const auto tree = varko::fuzzing::encodeTree(scratch);
        records.insert(records.end(), tree.begin(), tree.end());
        fs::remove_all(scratch);
        save("scanwalk", name, std::as_bytes(std::span(records)));
    };
    const auto apps = [](const fs::path& at) {
        fs::create_directories(at / "Apps/One.app/Contents/MacOS");
        fs::create_directories(at / "Apps/Utilities/Two.APP");
        fs::create_directories(at / "Old.pkg/Contents");
        std::ofstream(at / "Apps/Flat.pkg") << "xar!";
        fs::create_directory_symlink("../..", at / "Apps/loop");
        fs::create_directory_symlink("Apps/One.app", at / "Linked.app");
    };
    seed("apps", 0, apps);
    // Swapped as the walk is about to enter Apps/Utilities: that folder, or Apps above it.
    seed("apps-swap-folder", 2 << 2, apps);
    seed("apps-swap-parent", (2 << 2) | 1, apps);
    seed("deep", 0, [](const fs::path& at) {
        fs::create_directories(at / "a/b/c/d/e/f/g/Deep.app");
        fs::create_directories(at / "a/b/Shallow.app");
    });
    seed("many", 0, [](const fs::path& at) {
        for (int i = 0; i < 20; ++i)
            fs::create_directories(at / ("A" + std::to_string(i) + ".app"));
    });
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: varko-fuzzseeds CORPUS\n");
        return 2;
    }
    corpus = argv[1];
    Pki pki;
    machoSeeds(pki);
    xarSeeds(pki);
    payloadSeeds();
    trustSeeds(pki);
    sealSeeds();
    bundleSeeds();
    wholeAppSeeds();
    rtfSeeds();
    derSeeds();
    requirementSeeds();
    scanWalkSeeds();
    return 0;
}
