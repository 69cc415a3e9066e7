#pragma once

// Records every alert instead of showing it and answers with a chosen button; the runner it
// stood in for comes back when it goes.

#include <QStringList>
#include <vector>

#include "app/erroralert.h"

namespace varko::testing {

class AlertRecorder {
public:
    explicit AlertRecorder(int answer = alertFirstButtonReturn) : answer(answer) {
        alertRunner() = [this](const Alert& alert) {
            alerts.push_back(alert);
            events << QStringLiteral("alert");
            return this->answer;
        };
    }
    ~AlertRecorder() { alertRunner() = saved; }
    AlertRecorder(const AlertRecorder&) = delete;
    AlertRecorder& operator=(const AlertRecorder&) = delete;

    [[nodiscard]] QStringList texts() const {
        QStringList t;
        for (const Alert& a : alerts) t << a.informativeText;
        return t;
    }
    std::vector<Alert> alerts;
    QStringList events;
    int answer;

private:
    AlertRunner saved = alertRunner();
};

}  // namespace varko::testing
