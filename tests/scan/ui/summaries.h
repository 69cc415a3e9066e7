#pragma once

// Handmade rows for the Applications table's tests.

#include <QJsonObject>

#include "scan/scan.h"

namespace varko::testing {

struct Marks {
    QString service;
    bool declared = false, entitled = false, allowed = false;
};

inline scan::ItemSummary summary(const QString& name, const QString& version = "1.0",
                                 const QString& signer = "Developer ID Application: Maker (TEAM1)",
                                 const QString& verdict = "accepted",
                                 std::initializer_list<Marks> services = {},
                                 const QString& folder = "/Applications") {
    scan::ItemSummary item;
    item.path = folder + "/" + name;
    item.name = name;
    item.identifier = "com.example." + QString(name).remove(".app");
    item.version = version;
    item.signer = signer;
    item.teamIdentifier = signer.contains("TEAM1") ? "TEAM1" : QString();
    item.verdict = verdict;
    item.hardenedRuntime = "yes";
    for (const Marks& m : services)
        item.services.push_back({m.service,
                                 m.service.startsWith("kTCCServiceCamera") ? "Camera"
                                 : m.service == "kTCCServiceMicrophone"    ? "Microphone"
                                                                           : QString(),
                                 {m.declared, m.entitled, m.allowed}});
    item.json = QJsonObject{{"path", item.path}, {"name", name}};
    return item;
}

}  // namespace varko::testing
