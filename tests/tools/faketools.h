#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QTemporaryDir>

namespace varko::tools::testing {

/// A folder of small /bin/sh programs that stand in for the system's tools.
class FakeTools final {
public:
    [[nodiscard]] bool isValid() const { return dir.isValid(); }
    [[nodiscard]] QString path(const QString& name) const { return dir.filePath(name); }

    /// Writes `body` after a shebang and makes it executable.
    QString script(const QString& name, const QByteArray& body) const {
        return file(name, "#!/bin/sh\n" + body + "\n", executable);
    }

    QString file(const QString& name, const QByteArray& content,
                 QFile::Permissions permissions = QFile::ReadOwner | QFile::WriteOwner) const {
        const QString target = path(name);
        QFile out(target);
        if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate)) return {};
        out.write(content);
        out.close();
        out.setPermissions(permissions);
        return target;
    }

    static constexpr QFile::Permissions executable =
        QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner;

private:
    QTemporaryDir dir;
};

}  // namespace varko::tools::testing
