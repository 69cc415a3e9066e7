#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <optional>

#include "format/expected.h"
#include "format/plist/value.h"
#include "inspection/bundle.h"
#include "tools/toolset.h"

namespace varko {

/// Everything Varko learns about one opened item without asking the user. Built
/// complete by its constructor, which runs the whole analysis (one run of the
/// code-signing tool included) and never fails: what goes wrong ends up as field
/// content. Nothing writes to it afterwards, so any thread may read it.
///
/// Sentinels: "[]" in a usage field means the key is absent; "[none]" in
/// `version`, `build` or `sdk` means the key is absent, and in `entitleList` that
/// the entitlement stage never ran; an empty `bundleID` means no identifier.
class Info final {
public:
    /// `isApp` is the document's app flag; for anything else only `url` and
    /// `bundle` are set and no tool runs.
    /// Raising `cancel` ends the code-signing tool's run early (its window closed).
    Info(const QUrl& url, bool isApp, const host::ToolSet& tools,
         const host::CancelFlag& cancel = {});

    QUrl url;
    std::optional<Bundle> bundle;
    std::optional<plist::Dictionary> theDict;
    /// Why `theDict` is empty when its Info.plist could not be read; empty otherwise.
    QString infoPlistProblem;
    QString bundleID;
    QString version = "[none]";
    QString build = "[none]";
    QString sdk = "[none]";
    /// The services' usage texts and flags: inspection/infoservice.h says where each is
    /// read from and where it is shown.
    QString calendars = "[]";
    QString contacts = "[]";
    QString photos = "[]";
    QString reminders = "[]";
    QString sysadmin = "[]";
    QString location = "[]";
    QString camera = "[]";
    QString mike = "[]";
    QString aevent = "[]";
    /// One line per information-dictionary key containing "UsageDescript".
    QString usageStrings;
    /// The entitlements listing, or what went wrong while getting it.
    QString entitleList = "[none]";
    /// The code-signing tool's raw standard output.
    QByteArray entitleData;
    /// The code-signing tool could not answer: not started, crashed, ended or cut off.
    bool entitlementRunFailed = false;
    bool pubCalendars = false;
    bool pubContacts = false;
    bool pubReminders = false;
    bool pubPhotos = false;
    bool pubLocation = false;
    bool pubCamera = false;
    bool pubMike = false;
    bool pubAEvent = false;
    bool privCalendars = false;
    bool privContacts = false;
    bool privReminders = false;
    bool privPhotos = false;
    bool privLiverpool = false;
    bool privCamera = false;
    bool privMike = false;
    const QString theCodesign = host::codesignPath;
    QStringList theCodesignParams{"--display", "--entitlements", ":-"};

    /// The file-system path of `url`.
    [[nodiscard]] QString path() const { return url.toLocalFile(); }
};

/// One "key : value" line of the usage or entitlement listing, which no key or text
/// value can break into several.
[[nodiscard]] QString reportLine(const std::string& key, const plist::Value& value);

/// Runs a tool with its standard output captured and Varko's standard error left
/// to it, and gives that output. A non-zero status fails with "Failed, error = " and
/// the status (code refused: the tool answered no); a tool that never answered, as
/// it did not start, crashed or had to be ended, with that in words too (toolFailed).
[[nodiscard]] Expected<QByteArray> runTool(const host::ToolSet& tools, const QString& launchPath,
                                           const std::optional<QStringList>& arguments,
                                           const host::CancelFlag& cancel = {});

/// Fills `entitleData`, `entitleList` and the fifteen flags from the code-signing
/// tool's answer. Called once, as the last step of building an app's record.
void runEntitlementStage(Info& info, const host::ToolSet& tools,
                         const host::CancelFlag& cancel = {});

}  // namespace varko
