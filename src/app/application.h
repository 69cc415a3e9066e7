#pragma once

#include <QApplication>

namespace varko {

/// Varko's application object. Finder's "Open With" and drops on the Dock icon
/// reach the application itself as file-open events, which only it can take.
class Application final : public QApplication {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(Application)
public:
    Application(int& argc, char** argv);

signals:
    /// The platform asks Varko to open the item at `path`.
    void fileOpenRequested(const QString& path);

protected:
    bool event(QEvent* event) override;
};

}  // namespace varko
