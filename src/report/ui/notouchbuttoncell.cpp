#include "report/ui/notouchbuttoncell.h"

namespace varko {

NoTouchButtonCell::NoTouchButtonCell(const QString& text, QWidget* parent)
    : QCheckBox(text, parent) {
    // Keyboard focus stays so that a screen reader can reach and read the finding.
    setFocusPolicy(Qt::TabFocus);
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
