#include "app/helpwindowcontroller.h"

#include "app/helpviewcontroller.h"

namespace varko {

HelpWindowController::HelpWindowController(QWidget* parent) : QMainWindow(parent) {
    content = new HelpViewController(this);
    setCentralWidget(content);
    setWindowTitle(tr("Varko Help"));
    resize(720, 860);
}

}  // namespace varko
