#include "app/module.h"

#include <QCoreApplication>
#include <QDir>
#include <QHash>
#include <QLibrary>

namespace varko {

Expected<QFunctionPointer> moduleFunction(const QString& fileName, const char* symbol) {
    static QHash<QString, QLibrary*> loaded;
    QLibrary*& library = loaded[fileName];
    const QString path = QDir(QCoreApplication::applicationDirPath()).filePath(fileName);
    if (library == nullptr) library = new QLibrary(path);
    if (!library->load()) return Error{0, library->errorString().toStdString(), ErrorCode::missing};
    const QFunctionPointer function = library->resolve(symbol);
    if (function == nullptr)
        return Error{0, path.toStdString() + " is not the module Varko expects",
                     ErrorCode::missing};
    return function;
}

}  // namespace varko
