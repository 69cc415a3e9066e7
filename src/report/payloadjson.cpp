#include "report/payloadjson.h"

#include <QJsonArray>
#include <set>

namespace varko {

namespace {

QString text(const std::string& s) {
    return QString::fromUtf8(s.data(), qsizetype(s.size()));
}

QJsonObject problemJson(const Error& e) {
    return {{"code", QString::fromLatin1(errorCodeName(e.code))}, {"message", text(e.message)}};
}

QString octal(std::uint32_t mode) {
    return QStringLiteral("%1").arg(mode, 4, 8, QLatin1Char('0'));
}

}  // namespace

std::vector<std::string> payloadApps(const package::PackageContents& contents) {
    std::vector<std::string> apps;
    for (const package::ComponentPackage& c : contents.components)
        for (const package::PayloadFile& f : c.files) {
            if (f.type != package::EntryType::directory || !f.path.ends_with(".app")) continue;
            const bool inside = std::any_of(apps.begin(), apps.end(), [&](const std::string& a) {
                return f.path.starts_with(a + "/");
            });
            if (!inside) apps.push_back(f.path);
        }
    return apps;
}

QJsonObject payloadJson(const package::PackageContents& contents) {
    QJsonArray components, files, scripts, problems, apps;
    std::set<std::string> locations;
    for (const Error& e : contents.problems) problems.append(problemJson(e));
    for (const package::ComponentPackage& c : contents.components) {
        locations.insert(c.installLocation);
        const QString name = text(c.name);
        components.append(QJsonObject{{"name", name},
                                      {"identifier", text(c.identifier)},
                                      {"version", text(c.version)},
                                      {"installLocation", text(c.installLocation)}});
        for (const package::PayloadFile& f : c.files) {
            QJsonObject o{{"path", text(f.path)},
                          {"type", QString::fromLatin1(package::entryTypeName(f.type))},
                          {"mode", octal(f.mode)},
                          {"uid", qint64(f.uid)},
                          {"gid", qint64(f.gid)},
                          {"size", qint64(f.size)},
                          {"setuid", f.setuid()},
                          {"setgid", f.setgid()},
                          {"worldWritable", f.worldWritable()},
                          {"component", name}};
            if (!f.linkTarget.empty()) o["linkTarget"] = text(f.linkTarget);
            files.append(o);
        }
        for (const package::PackageScript& s : c.scripts)
            scripts.append(QJsonObject{{"component", name},
                                       {"name", text(s.name)},
                                       {"text", text(s.text)},
                                       {"size", qint64(s.size)},
                                       {"cut", s.cut},
                                       {"executable", s.executable}});
        for (Error e : c.problems) {
            QJsonObject o = problemJson(e);
            o["component"] = name;
            problems.append(o);
        }
    }
    for (const std::string& app : payloadApps(contents))
        apps.append(QJsonObject{{"path", text(app)}});
    return {{"installLocation",
             locations.size() == 1 ? QJsonValue(text(*locations.begin())) : QJsonValue()},
            {"distribution", contents.distribution.has_value()},
            {"components", components},
            {"files", files},
            {"scripts", scripts},
            {"apps", apps},
            {"problems", problems},
            {"cut", contents.cut()}};
}

}  // namespace varko
