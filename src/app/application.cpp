#include "app/application.h"

#include <QFileOpenEvent>

namespace varko {

Application::Application(int& argc, char** argv) : QApplication(argc, argv) {}

bool Application::event(QEvent* event) {
    if (event->type() != QEvent::FileOpen) return QApplication::event(event);
    emit fileOpenRequested(static_cast<QFileOpenEvent*>(event)->file());
    return true;
}

}  // namespace varko
