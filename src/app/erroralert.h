#pragma once

#include <QString>
#include <QStringList>
#include <functional>

namespace varko {

/// One modal alert as the shell shows it.
struct Alert {
    enum class Style { Informational = 1, Critical = 2 };
    Style style = Style::Critical;
    QString messageText;
    QString informativeText;
    /// In order; the first is the default. The answer is 1000 for the first, 1001 for the second.
    QStringList buttons;
};

inline constexpr int alertFirstButtonReturn = 1000;
inline constexpr int alertSecondButtonReturn = 1001;

/// Shows `alert` application-modally and returns the chosen button's code.
using AlertRunner = std::function<int(const Alert&)>;

/// The runner every shell alert goes through; tests put one in that records them.
[[nodiscard]] AlertRunner& alertRunner();
/// Runs `alert` with the current runner.
int runAlert(const Alert& alert);

/// The shell's error alert: "An error occurred:" over `explanation`, one OK button.
/// Returns when the user has dismissed it.
void showErrorAlert(const QString& explanation);

}  // namespace varko
