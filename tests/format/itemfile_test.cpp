// Opening the files of an item a stranger made: never waiting on a FIFO or device, never
// throwing on a file that fails to read, never reading through a link that leaves the item.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <thread>

#include "format/itemfile.h"
#include "format/macho/bytesource.h"
#include "support/errorprint.h"

using namespace varko;
namespace fs = std::filesystem;

namespace {

class ItemFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string name = (fs::temp_directory_path() / "varko-itemfile-XXXXXX").string();
        ASSERT_NE(::mkdtemp(name.data()), nullptr);
        dir = name;
        // A framework-like item: a version folder, links to it, and a file outside.
        fs::create_directories(item() / "Versions/A/Resources");
        std::ofstream(item() / "Versions/A/Resources/Info.plist") << "<plist/>";
        fs::create_symlink("A", item() / "Versions/Current");
        fs::create_symlink("Versions/Current/Resources", item() / "Resources");
        std::ofstream(dir / "secret") << "not the item's";
        fs::create_directories(dir / "Other.app/Contents");
        std::ofstream(dir / "Other.app/Contents/Info.plist") << "<plist/>";
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(dir, ec);
    }
    fs::path item() const { return dir / "Kit.framework"; }
    ItemRoot root() const { return *ItemRoot::of(item()); }

    // The file's text, or the error's code and message.
    static std::string read(const fs::path& path, std::uint64_t max,
                            const ItemRoot* within = nullptr, FinalLink last = FinalLink::Follow) {
        auto bytes = readSmallFile(path, max, within, last);
        if (!bytes)
            return ::testing::PrintToString(bytes.error().code) + " " + bytes.error().message;
        return std::string(reinterpret_cast<const char*>(bytes->data()), bytes->size());
    }

    fs::path dir;
};

TEST_F(ItemFileTest, OnlyRegularFilesAreOpenedAndNothingWaits) {
    // A FIFO with no writer would block a plain open for ever.
    ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
    EXPECT_EQ(read(dir / "fifo", 100),
              "refused " + (dir / "fifo").string() + ": not a regular file (a FIFO)");
    fs::create_symlink(dir / "fifo", dir / "to-fifo");
    EXPECT_EQ(read(dir / "to-fifo", 100),
              "refused " + (dir / "to-fifo").string() + ": not a regular file (a FIFO)");
    EXPECT_EQ(read("/dev/null", 100), "refused /dev/null: not a regular file (a character device)");
    EXPECT_EQ(read(dir, 100), "refused " + dir.string() + ": not a regular file (a folder)");
    EXPECT_EQ(read(dir / "absent", 100),
              "missing " + (dir / "absent").string() + ": No such file or directory");
    auto source = macho::FileSource::open((dir / "fifo").string());
    ASSERT_FALSE(source);
    EXPECT_EQ(source.error().code, ErrorCode::refused);
    EXPECT_EQ(source.error().message, (dir / "fifo").string() + ": not a regular file (a FIFO)");
}

TEST_F(ItemFileTest, ReadErrorsAndSizesAreMessagesNotExceptions) {
    // Files that fail to read: pagemap wants reads of whole entries, mem has nothing at 0.
    EXPECT_EQ(read("/proc/self/pagemap", 1 << 20),
              "unreadable /proc/self/pagemap: Invalid argument");
    EXPECT_EQ(read("/proc/self/mem", 1 << 20), "unreadable /proc/self/mem: Input/output error");
    // /proc claims no size; the read still takes all there is, and no more than the bound.
    EXPECT_TRUE(read("/proc/self/status", 1 << 20).starts_with("Name:"));
    EXPECT_EQ(read("/proc/self/status", 64), "tooLarge /proc/self/status: larger than 64 bytes");

    std::ofstream(dir / "exact") << std::string(4096, 'x');
    EXPECT_EQ(read(dir / "exact", 4096).size(), 4096u);
    EXPECT_EQ(read(dir / "exact", 4095),
              "tooLarge " + (dir / "exact").string() + ": larger than 4095 bytes");
    EXPECT_EQ(read(dir / "exact", 1024),
              "tooLarge " + (dir / "exact").string() + ": larger than 1 KiB");
    std::ofstream(dir / "empty");
    EXPECT_EQ(read(dir / "empty", 10), "");
}

TEST_F(ItemFileTest, LinksInsideTheItemAreFollowed) {
    const ItemRoot r = root();
    EXPECT_EQ(read(item() / "Resources/Info.plist", 100, &r), "<plist/>");
    EXPECT_EQ(read(item() / "Versions/Current/Resources/Info.plist", 100, &r), "<plist/>");
    auto resolved = r.resolve(item() / "Resources/Info.plist");
    ASSERT_TRUE(resolved) << resolved.error().message;
    EXPECT_EQ(*resolved, r.path() / "Versions/A/Resources/Info.plist");
    // The item itself may be named through a link: the user chose it.
    fs::create_symlink(item(), dir / "Alias.framework");
    const ItemRoot alias = *ItemRoot::of(dir / "Alias.framework");
    EXPECT_EQ(read(dir / "Alias.framework/Resources/Info.plist", 100, &alias), "<plist/>");
}

TEST_F(ItemFileTest, LinksThatLeaveTheItemAreNamedAndNotRead) {
    const ItemRoot r = root();
    const fs::path a = item() / "Versions/A";
    fs::create_symlink(dir / "secret", a / "absolute");
    fs::create_symlink("../../../secret", a / "relative");
    fs::create_symlink("/proc/self/mem", a / "proc");
    fs::create_symlink(dir / "Other.app/Contents", a / "Contents");
    fs::create_symlink("../../..", a / "up");
    struct Case {
        fs::path path;
        fs::path link;  ///< the part of the path that leads out
    } cases[] = {
        {a / "absolute", a / "absolute"},
        {a / "relative", a / "relative"},
        {a / "proc", a / "proc"},
        {a / "Contents/Info.plist", a / "Contents"},
        {item() / "Versions/Current/Contents/Info.plist", item() / "Versions/Current/Contents"},
        {a / "up/secret", a / "up"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path.string());
        EXPECT_EQ(read(c.path, 100, &r), "refused " + c.link.string() +
                                             " is a symbolic link that leads out of the bundle");
        auto source = macho::FileSource::open(c.path, r);
        ASSERT_FALSE(source);
        EXPECT_EQ(source.error().code, ErrorCode::refused);
        EXPECT_EQ(source.error().message,
                  c.link.string() + " is a symbolic link that leads out of the bundle");
    }
    // Without an item to stay in, a link goes where it leads.
    EXPECT_EQ(read(a / "absolute", 100), "not the item's");
}

TEST_F(ItemFileTest, AFinalLinkIsRefusedWhereAFileMustBeItself) {
    const ItemRoot r = root();
    const fs::path inside = item() / "Versions/A/Resources/alias";
    fs::create_symlink("Info.plist", inside);
    EXPECT_EQ(read(inside, 100, &r), "<plist/>");
    EXPECT_EQ(read(inside, 100, &r, FinalLink::Refuse),
              "refused " + inside.string() + ": not a regular file (a symbolic link)");
    // The folders on the way may still be links that stay inside.
    EXPECT_EQ(read(item() / "Resources/Info.plist", 100, &r, FinalLink::Refuse), "<plist/>");
    EXPECT_EQ(read(inside, 100, nullptr, FinalLink::Refuse),
              "refused " + inside.string() + ": not a regular file (a symbolic link)");
}

// What a folder listing says of each entry: its kind as it is, a link never followed; and a
// link in the folder's own place is followed or refused as asked.
TEST_F(ItemFileTest, AListingTellsEachEntryAsItIs) {
    const fs::path folder = item() / "Versions";
    ASSERT_EQ(::mkfifo((folder / "fifo").c_str(), 0600), 0);
    std::ofstream(folder / "file") << "x";
    const auto kinds = [](const FolderListing& listing) {
        std::map<std::string, fs::file_type> out;
        for (const FolderEntry& e : listing.entries) out[e.name] = e.kind;
        return out;
    };
    const auto listing = listFolder(folder);
    EXPECT_EQ(listing->error, 0);
    EXPECT_FALSE(listing->cut);
    EXPECT_EQ(kinds(*listing),
              (std::map<std::string, fs::file_type>{{"A", fs::file_type::directory},
                                                    {"Current", fs::file_type::symlink},
                                                    {"fifo", fs::file_type::fifo},
                                                    {"file", fs::file_type::regular}}));
    const fs::path linked = item() / "Resources";
    EXPECT_EQ(kinds(*listFolder(linked)),
              (std::map<std::string, fs::file_type>{{"Info.plist", fs::file_type::regular}}));
    const struct {
        fs::path path;
        FinalLink last;
        bool fails;
    } cases[] = {
        {linked, FinalLink::Follow, false},
        {linked, FinalLink::Refuse, true},
        {folder / "file", FinalLink::Follow, true},
        {folder / "absent", FinalLink::Follow, true},
    };
    for (const auto& c : cases) {
        const auto listed = listFolder(c.path, c.last);
        EXPECT_EQ(listed->error != 0, c.fails) << c.path;
        if (c.fails) {
            EXPECT_TRUE(listed->entries.empty()) << c.path;
        }
    }
}

// One item's passes share a folder's listing while the folder stays as it was: any entry
// added, removed or renamed lists it anew, and so does every pass until the change has
// settled; a link put in its place is refused where a folder must be itself, and outside
// the item nothing is shared.
TEST_F(ItemFileTest, AFolderIsListedAgainOnceItChanged) {
    const fs::path folder = item() / "Versions/A/Resources";
    const auto names = [](const FolderListing& listing) {
        std::set<std::string> out;
        for (const FolderEntry& e : listing.entries) out.insert(e.name);
        return out;
    };
    ReadFiles files;
    const ReadFiles::Scope scope(&files);
    // Just made: a change within the same tick would not show in its times.
    EXPECT_NE(listFolder(folder), listFolder(folder));
    std::this_thread::sleep_for(std::chrono::milliseconds(1100));
    const auto first = listFolder(folder);
    EXPECT_EQ(listFolder(folder), first);
    EXPECT_EQ(listFolder(folder, FinalLink::Refuse), first);
    {
        const ReadFiles::Scope none(nullptr);
        EXPECT_NE(listFolder(folder), first);
    }
    using Names = std::set<std::string>;
    const struct {
        const char* change;
        std::function<void()> make;
        Names after;
    } changes[] = {
        {"added", [&] { std::ofstream(folder / "new") << "n"; }, {"Info.plist", "new"}},
        {"renamed", [&] { fs::rename(folder / "new", folder / "newer"); }, {"Info.plist", "newer"}},
        {"removed", [&] { fs::remove(folder / "newer"); }, {"Info.plist"}},
    };
    for (const auto& c : changes) {
        c.make();
        const auto after = listFolder(folder);
        EXPECT_NE(after, first) << c.change;
        EXPECT_EQ(names(*after), c.after) << c.change;
        EXPECT_NE(listFolder(folder), after) << c.change;
    }
    // The folder moved aside and a link to a copy put in its place.
    fs::rename(folder, item() / "Versions/A/Moved");
    fs::create_directories(item() / "Versions/A/Copy");
    std::ofstream(item() / "Versions/A/Copy/Other") << "o";
    fs::create_symlink("Copy", folder);
    EXPECT_NE(listFolder(folder, FinalLink::Refuse)->error, 0);
    EXPECT_EQ(names(*listFolder(folder)), Names{"Other"});
}

// The item's bounds are the real path the user's item had when first asked: a link put in
// its place while the item is read moves neither them nor what lies inside them.
TEST_F(ItemFileTest, AnItemKeepsTheBoundsItFirstHad) {
    const fs::path named = dir / "Named.framework";
    fs::create_symlink(item().filename(), named);
    ReadFiles files;
    const ReadFiles::Scope scope(&files);
    const auto before = ItemRoot::of(named);
    ASSERT_TRUE(before) << before.error().message;
    EXPECT_EQ(before->path(), fs::canonical(item()));
    fs::remove(named);
    fs::create_symlink("Other.app", named);
    const auto after = ItemRoot::of(named);
    ASSERT_TRUE(after) << after.error().message;
    EXPECT_EQ(after->path(), before->path());
    // The other bundle, now at the item's name, lies outside the bounds.
    const auto opened = openRegularFile(named / "Contents/Info.plist", &*after);
    ASSERT_FALSE(opened);
    EXPECT_EQ(opened.error().code, ErrorCode::refused) << opened.error().message;
    // Without the item's scope, each asking finds the item afresh.
    const ReadFiles::Scope none(nullptr);
    EXPECT_EQ(ItemRoot::of(named)->path(), fs::canonical(dir / "Other.app"));
}
}  // namespace
