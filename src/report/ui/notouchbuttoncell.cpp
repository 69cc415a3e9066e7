#include "report/ui/notouchbuttoncell.h"

namespace varko {

NoTouchButtonCell::NoTouchButtonCell(const QString& text, QWidget* parent)
    : QCheckBox(text, parent) {
    // A finding, not a control: Tab passes it by. Screen readers still read it, by its name
    // and state, from the accessibility tree.
    setFocusPolicy(Qt::NoFocus);
}

void NoTouchButtonCell::setFinding(bool on) {
    state = on;
    programmatic = true;
    setChecked(on);
    programmatic = false;
}

void NoTouchButtonCell::nextCheckState() {}

void NoTouchButtonCell::checkStateSet() {
    // Every other way to change the state (toggle(), an accessibility action)
    // ends here; put the finding back.
    if (!programmatic && isChecked() != state) {
        setFinding(state);
        return;
    }
    QCheckBox::checkStateSet();
}

}  // namespace varko
