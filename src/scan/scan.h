#pragma once

#include <QJsonObject>
#include <QString>
#include <QStringList>
#include <cstddef>
#include <functional>
#include <vector>

#include "report/iteminspection.h"
#include "scan/walk.h"
#include "tools/toolset.h"

namespace varko::scan {

/// Where a bound of the walk was met, the folder named as text.
using Cut = CutAt<QString>;

/// The kind's name in JSON: "depth", "items", "entries", "problems".
[[nodiscard]] const char* cutName(CutKind kind);
/// What the cut left out, in words, naming its folder with every control character visible.
[[nodiscard]] QString cutText(const Cut& cut);
/// The cut as one JSON Lines record of a scan: {"cut": {"kind", "folder", "limit", "times"}}.
[[nodiscard]] QJsonObject cutJson(const Cut& cut);

/// What a walk over folders found: every .app and .pkg under them (a bundle's insides are
/// its components, not more items; no link inside the folders is followed, so neither one
/// out of them nor a loop is walked; a folder named may itself be a link), sorted by path,
/// and what could not be looked at. Anything named .pkg that is not a link is listed, so
/// that the scan says why a folder or a pipe of that name can't be read.
struct Found {
    QStringList items;      ///< absolute paths
    QStringList problems;   ///< "PATH: why", one per folder or item that couldn't be read
    std::vector<Cut> cuts;  ///< at most one of each kind, in the order first met
    [[nodiscard]] bool cut() const { return !cuts.empty(); }
};

/// How to walk: bounds, and a test's chance to change the tree at the walk's most exposed
/// moment, after a folder was listed and before one of its subfolders is opened.
struct FindOptions {
    WalkLimits limits;
    std::function<void(const QString& folder)> beforeEntering;
    /// Raised to end the walk early, as when its window closes.
    const std::atomic<bool>* cancel = nullptr;
};

[[nodiscard]] Found findItems(const QStringList& folders, const FindOptions& options = {});

/// Whether an app may use a privacy service, and how: declared (a usage key), entitled (a
/// public entitlement), privately allowed; by the app or any of its components.
struct ServiceMarks {
    bool declared = false;
    bool entitled = false;
    bool allowed = false;
    [[nodiscard]] bool any() const { return declared || entitled || allowed; }
};

/// A service an item may use, by its name as privacyServices names it (kTCCService…, or a
/// usage key), and in words: the table's title, empty for a name the table doesn't know.
struct ItemService {
    QString name;
    QString title;
    ServiceMarks marks;
};

/// One row of the Applications window and one line of the scan's text output.
struct ItemSummary {
    QString path;
    QString name;  ///< the bundle's file name
    QString identifier;
    QString version;
    QString signer;  ///< overview::Verdict::signer
    QString teamIdentifier;
    QString verdict;  ///< "accepted", "rejected", "unknown"
    QString verdictReason;
    QString hardenedRuntime;  ///< "yes", "no", "unknown"
    /// A component's use marks the app too, by what that component declares, holds or is
    /// allowed.
    std::vector<ItemService> services;
    /// The item could not be read at all (it's still listed, with the reason): it can't be
    /// opened, is no app bundle or flat package, or, for an app, its folder can't be
    /// walked or its Info.plist read. A package is read by its tools alone.
    bool unreadable = false;
    QString problem;
    ErrorCode problemCode = ErrorCode::unreadable;  ///< the kind of `problem`
    /// A signature tool gave no answer of its own (Inspection::toolFailed).
    bool toolFailed = false;
    /// Verification of a piece stopped at its bound (Inspection::checksCut).
    bool checksCut = false;
    /// The item's whole object, as `varko-report --json` prints it for one item.
    QJsonObject json;
    /// For an app inside a package: the package, and `path` is "PACKAGE!/where/it/installs";
    /// for one in a disk image or zip archive, the container, and `path` is
    /// "CONTAINER/path/inside".
    QString container;
    /// A disk image or zip archive: no item itself, only the apps `inside` are (or, when it
    /// could not be opened, it is listed as unreadable).
    bool isContainer = false;
    /// The apps inside a package, each summarized as an item of its own.
    std::vector<ItemSummary> inside;
};

/// The summary of a finished inspection.
[[nodiscard]] ItemSummary summarize(const Inspection& item);

/// The one line the text output prints for an item: its path (which ends in its name),
/// then the rest, with every control character the item could choose made visible.
[[nodiscard]] QString summaryLine(const ItemSummary& item);

/// Inspects `items` on up to `workers` threads at once (a disk image or zip archive, where
/// the platform opens them, by the apps written out of it), as many as `work` grants; an item's
/// component checks use what the scan leaves. `done(index, summary)` is called once per item,
/// from the thread that finished it, in any order. Calling `work` off ends the items being
/// inspected (their tools too) and skips the rest; those get no `done`.
void scanItems(const QStringList& items, const host::ToolSet& tools, const Work& work,
               unsigned workers,
               const std::function<void(std::size_t index, ItemSummary summary)>& done);

}  // namespace varko::scan
