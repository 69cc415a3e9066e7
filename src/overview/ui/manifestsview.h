#pragma once

#include <QTimer>
#include <QTreeWidget>
#include <vector>

#include "overview/overview.h"

namespace varko {

/// The privacy manifests of the app and its components: what each says of tracking, the
/// data it collects and why, and the required-reason APIs it uses. A bundle may hold
/// thousands: they arrive a batch per turn of the event loop.
class ManifestsView final : public QTreeWidget {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ManifestsView)
public:
    explicit ManifestsView(QWidget* parent = nullptr);

    /// The manifests to show, ready to be added to the view.
    struct Entry {
        QString path;
        QString kind;
        overview::PrivacyManifest manifest;
    };
    struct Entries {
        std::vector<Entry> entries;
        std::size_t left = 0;  ///< manifests past `maxRows`, counted, not shown
    };
    /// The overview's manifests, as many as `maxRows` rows hold: a pure function of
    /// values, for a worker thread.
    [[nodiscard]] static Entries prepare(const overview::Overview& overview);
    /// Shows the entries: a batch at once, the rest one per turn of the event loop.
    void setEntries(Entries entries);
    void setOverview(const overview::Overview& overview) { setEntries(prepare(overview)); }
    /// Whether manifests are still waiting to be shown.
    [[nodiscard]] bool isFilling() const { return next < waiting.size(); }

    static constexpr std::size_t manifestsPerTurn = 50;
    /// Each of a manifest's lists shows this many entries and counts the rest.
    static constexpr std::size_t maxListed = 100;
    /// A hostile bundle can hold thousands of manifests of a thousand entries each; the
    /// view stops at about this many rows and says how many manifests it left out.
    static constexpr std::size_t maxRows = 20000;

private:
    void showMore();

    std::vector<Entry> waiting;
    std::size_t left = 0;
    std::size_t next = 0;
    QTimer filler;
};

}  // namespace varko
