#pragma once

#include <QCheckBox>

namespace varko {

/// A checkbox that shows a finding: the program sets its state with `setFinding`,
/// and nothing the user does changes it — not a click, not the space bar, not an
/// accessibility action. It still looks enabled, so the finding stays readable.
class NoTouchButtonCell final : public QCheckBox {
    Q_OBJECT
public:
    explicit NoTouchButtonCell(const QString& text = {}, QWidget* parent = nullptr);

    void setFinding(bool on);
    [[nodiscard]] bool finding() const { return isChecked(); }

protected:
    void nextCheckState() override;
    void checkStateSet() override;

private:
    bool programmatic = false;
    bool state = false;
};

}  // namespace varko
