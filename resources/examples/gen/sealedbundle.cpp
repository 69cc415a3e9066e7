#include "gen/sealedbundle.h"

#include <openssl/evp.h>

#include <system_error>

#include "format/plist/plist.h"
#include "gen/bundlewriter.h"

namespace varko::examplegen {

namespace {

plist::Data hashOf(const std::string& bytes, const EVP_MD* md) {
    plist::Data out(EVP_MAX_MD_SIZE);
    unsigned int n = 0;
    EVP_Digest(bytes.data(), bytes.size(), out.data(), &n, md, nullptr);
    out.resize(n);
    return out;
}

plist::Value rule(std::optional<bool> omit, std::optional<bool> optional, std::optional<bool> nested, int weight) {
    plist::Dictionary d;
    if (nested) d.set("nested", *nested);
    if (omit) d.set("omit", *omit);
    if (optional) d.set("optional", *optional);
    d.set("weight", plist::Integer{static_cast<std::uint64_t>(weight)});
    return d;
}

std::span<const std::byte> bytesOf(const std::string& s) {
    return std::as_bytes(std::span(s.data(), s.size()));
}

}  // namespace

std::string codeResources(const std::vector<BundleFile>& files) {
    plist::Dictionary filesV1, filesV2;
    for (const auto& f : files) {
        plist::Dictionary entry;
        if (f.cdhash) {
            entry.set("cdhash", plist::Data(f.cdhash->begin(), f.cdhash->end()));
        } else if (f.symlinkTarget) {
            entry.set("symlink", *f.symlinkTarget);
        } else {
            entry.set("hash", hashOf(f.bytes, EVP_sha1()));
            entry.set("hash2", hashOf(f.bytes, EVP_sha256()));
            if (f.path.rfind("Resources/", 0) == 0) filesV1.set(f.path, hashOf(f.bytes, EVP_sha1()));
        }
        filesV2.set(f.path, std::move(entry));
    }
    plist::Dictionary rules;
    rules.set("^Resources/", true);
    rules.set("^Resources/.*\\.lproj/", rule(std::nullopt, true, std::nullopt, 1000));
    rules.set("^Resources/.*\\.lproj/locversion.plist$", rule(true, std::nullopt, std::nullopt, 1100));
    rules.set("^Resources/Base\\.lproj/", rule(std::nullopt, std::nullopt, std::nullopt, 1010));
    rules.set("^version.plist$", true);
    plist::Dictionary rules2;
    rules2.set(".*\\.dSYM($|/)", rule(std::nullopt, std::nullopt, std::nullopt, 11));
    rules2.set("^(.*/)?\\.DS_Store$", rule(true, std::nullopt, std::nullopt, 2000));
    rules2.set("^(Frameworks|SharedFrameworks|PlugIns|Plug-ins|XPCServices|Helpers|MacOS|Library/(Automator|Spotlight|LoginItems))/",
               rule(std::nullopt, std::nullopt, true, 10));
    rules2.set("^.*", true);
    rules2.set("^Info\\.plist$", rule(true, std::nullopt, std::nullopt, 20));
    rules2.set("^PkgInfo$", rule(true, std::nullopt, std::nullopt, 20));
    rules2.set("^Resources/", rule(std::nullopt, std::nullopt, std::nullopt, 20));
    rules2.set("^Resources/.*\\.lproj/", rule(std::nullopt, true, std::nullopt, 1000));
    rules2.set("^Resources/.*\\.lproj/locversion.plist$", rule(true, std::nullopt, std::nullopt, 1100));
    rules2.set("^Resources/Base\\.lproj/", rule(std::nullopt, std::nullopt, std::nullopt, 1010));
    rules2.set("^[^/]+$", rule(std::nullopt, std::nullopt, true, 10));
    rules2.set("^embedded\\.provisionprofile$", rule(std::nullopt, std::nullopt, std::nullopt, 20));
    rules2.set("^version\\.plist$", rule(std::nullopt, std::nullopt, std::nullopt, 20));
    plist::Dictionary root;
    root.set("files", std::move(filesV1));
    root.set("files2", std::move(filesV2));
    root.set("rules", std::move(rules));
    root.set("rules2", std::move(rules2));
    return plist::writeXml(root);
}

namespace {

/// Writes the files under `root` and their seal in root/_CodeSignature, and has the
/// executable's signature bind the seal and the Info.plist.
Expected<bool> writeSealedFiles(const std::filesystem::path& root, const std::vector<BundleFile>& files,
                                const std::string& infoPlist, MachOOptions& executable) {
    namespace fs = std::filesystem;
    std::error_code ec;
    for (const auto& f : files) {
        if (f.cdhash) continue;
        const fs::path path = root / f.path;
        fs::create_directories(path.parent_path(), ec);
        if (f.symlinkTarget) {
            fs::create_symlink(*f.symlinkTarget, path, ec);
            if (ec) return Error{0, path.string() + ": " + ec.message()};
        } else if (auto w = writeFile(path, bytesOf(f.bytes)); !w) {
            return w.error();
        }
    }
    const std::string seal = codeResources(files);
    fs::create_directories(root / "_CodeSignature", ec);
    if (auto w = writeFile(root / "_CodeSignature" / "CodeResources", bytesOf(seal)); !w) return w.error();
    if (!executable.signature) executable.signature = SignatureOptions{};
    const auto info = bytesOf(infoPlist);
    executable.signature->infoPlist = std::vector<std::byte>(info.begin(), info.end());
    const auto sealBytes = bytesOf(seal);
    executable.signature->codeResources = std::vector<std::byte>(sealBytes.begin(), sealBytes.end());
    return true;
}

}  // namespace

Expected<std::filesystem::path> writeSealedBundle(const std::filesystem::path& appDir, const std::string& infoPlist,
                                                  const std::string& executableName,
                                                  const std::vector<BundleFile>& files, MachOOptions executable) {
    namespace fs = std::filesystem;
    std::error_code ec;
    fs::remove_all(appDir, ec);
    const fs::path contents = appDir / "Contents";
    if (auto w = writeSealedFiles(contents, files, infoPlist, executable); !w) return w.error();
    // writeBundle clears appDir first, so the files go back in after it.
    const auto exe = makeMachO(executable);
    fs::path moved = appDir.string() + ".parts";
    fs::remove_all(moved, ec);
    fs::rename(contents, moved, ec);
    auto written = writeBundle(appDir, infoPlist, executableName, exe);
    if (!written) return written.error();
    for (const auto& entry : fs::directory_iterator(moved, ec)) {
        if (entry.path().filename() == "MacOS") {
            for (const auto& inner : fs::directory_iterator(entry.path(), ec))
                fs::rename(inner.path(), contents / "MacOS" / inner.path().filename(), ec);
            continue;
        }
        fs::rename(entry.path(), contents / entry.path().filename(), ec);
    }
    fs::remove_all(moved, ec);
    return written;
}

Expected<std::filesystem::path> writeSealedFramework(const std::filesystem::path& frameworkDir,
                                                     const std::string& infoPlist,
                                                     const std::string& executableName,
                                                     std::vector<BundleFile> files, MachOOptions executable) {
    namespace fs = std::filesystem;
    std::error_code ec;
    fs::remove_all(frameworkDir, ec);
    const fs::path version = frameworkDir / "Versions" / "A";
    files.push_back({"Resources/Info.plist", infoPlist, {}});
    if (auto w = writeSealedFiles(version, files, infoPlist, executable); !w) return w.error();
    const fs::path exe = version / executableName;
    if (auto w = writeFile(exe, makeMachO(executable), true); !w) return w.error();
    for (const auto& [link, target] : {std::pair{frameworkDir / "Versions" / "Current", std::string("A")},
                                       std::pair{frameworkDir / executableName, "Versions/Current/" + executableName},
                                       std::pair{frameworkDir / "Resources", std::string("Versions/Current/Resources")}}) {
        fs::create_symlink(target, link, ec);
        if (ec) return Error{0, link.string() + ": " + ec.message()};
    }
    return exe;
}

}  // namespace varko::examplegen
