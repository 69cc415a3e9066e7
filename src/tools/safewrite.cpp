#include "tools/safewrite.h"

#include <QSaveFile>

namespace varko::tools {

std::optional<QString> writeFileAtomically(const QString& fileName, const char* data, qint64 size) {
    QSaveFile file(fileName);
    // Unbuffered: a buffered flush inside commit() takes a short write for success.
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) return file.errorString();
    if (file.write(data, size) != size) {
        QString reason = file.errorString();
        file.cancelWriting();
        return reason;
    }
    if (!file.commit()) return file.errorString();
    return std::nullopt;
}

}  // namespace varko::tools
