#pragma once

// The inspection window's tests share one fixture: fake tools and small items.

#include <gtest/gtest.h>

#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>

#include "fixtures/xarwriter.h"
#include "inspection/itemtype.h"
#include "report/ui/documentwindowcontroller.h"
#include "report/ui/viewcontroller.h"
#include "support/faketool.h"
#include "support/savedialogs.h"

namespace varko::testing {

/// The dialog that Save Report… opens, or null.
inline QFileDialog* saveDialog(ViewController* v) {
    QSignalSpy opened(v, &ViewController::saveDialogOpened);
    v->saveButton();
    return opened.size() == 1 ? qobject_cast<QFileDialog*>(opened[0][0].value<QWidget*>())
                              : nullptr;
}

/// Saves the report through Save Report… as a person would, choosing `target`.
inline bool save(ViewController* v, const QString& target) {
    QSignalSpy saved(v, &ViewController::reportSaved);
    QFileDialog* dialog = saveDialog(v);
    if (dialog == nullptr) return false;
    chooseInSaveDialog(dialog, target);
    return !saved.isEmpty() || saved.wait(20000);
}

inline const QByteArray entitlements = xmlPlist(
    "<key>com.apple.security.device.camera</key><true/>\n"
    "<key>com.apple.private.tcc.allow</key><array><string>kTCCServiceMicrophone</string></"
    "array>\n");

class ViewControllerTest : public ::testing::Test {
protected:
    QTemporaryDir dir;
    FakeTool codesign{dir, "codesign"}, spctl{dir, "spctl"}, pkgutil{dir, "pkgutil"};

    void SetUp() override {
        QSettings().clear();
        // One fake serves both codesign runs: the entitlement display and -dvvv.
        codesign.answer(entitlements, 0, {},
                        "if [ \"$1\" = -dvvv ]; then printf 'Executable=x\\nCodeDirectory v=20500 "
                        "flags=0x10000(runtime) hashes=1+2\\n' >&2; exit 0; fi");
        // spctl names the item it assessed first, as the real one does.
        spctl.answer("", 0, "",
                     "for last; do :; done; printf '%s: accepted\\nsource=Notarized Developer "
                     "ID\\n' \"$last\" >&2; exit 0");
        pkgutil.answer("Package \"P.pkg\":\n   Status: no signature\n", 1);
    }

    host::ToolSet toolSet() const {
        return host::ToolSet::withPrograms({{host::codesignPath, codesign.program()},
                                            {host::spctlPath, spctl.program()},
                                            {host::pkgutilPath, pkgutil.program()}});
    }

    /// A window for the item, not yet shown.
    std::unique_ptr<DocumentWindowController> window(const QString& path, const QString& type) {
        auto doc = std::make_shared<Document>();
        doc->readFromURL(QUrl::fromLocalFile(path), type, toolSet());
        auto w = std::make_unique<DocumentWindowController>(toolSet());
        w->setAttribute(Qt::WA_DeleteOnClose, false);
        w->setDocument(doc, QFileInfo(path).fileName());
        return w;
    }

    QString app(const QByteArray& dict =
                    "<key>CFBundleIdentifier</key><string>com.example.a</string>\n"
                    "<key>CFBundleShortVersionString</key><string>1.0</string>\n"
                    "<key>DTSDKName</key><string>macosx10.15internal</string>\n"
                    "<key>NSCameraUsageDescription</key><string>Scan.</string>\n") {
        return makeBundle(dir, "A.app", xmlPlist(dict));
    }

    /// An unsigned installer package: the tools' answers are the fakes', but Varko reads
    /// the archive itself too.
    QString package() {
        EXPECT_TRUE(writeFile(dir.filePath("P.pkg"), examplegen::makeXar("", std::nullopt)));
        return dir.filePath("P.pkg");
    }

    static bool showAndFinish(DocumentWindowController& w) {
        QSignalSpy finished(w.viewController(), &ViewController::signatureChecksFinished);
        w.show();
        return finished.wait(20000);
    }
};

}  // namespace varko::testing
